#!/usr/bin/env python3
"""Draws the window's pictures as PNG files beside this script.

  icon-128.png, icon-128-16.png  the program's icon (32x32 and 16x16)
  icon-129.png                   the image of every lyric row (16x16)
  bitmap-130.png                 the seven 16x16 log images in one 112x16 strip; white is the
                                 transparent colour, so the pictures use off-white for white

and the same pictures for the Windows window's resources, in win/:

  icon-128.ico                   the program's icon, 32x32 and 16x16
  icon-129.ico                   the lyric row's image, 16x16
  bitmap-130.bmp                 the log strip, 24 bits, white standing for transparent

and the program's icon for the Linux desktop, in packaging/linux/icons/:

  NxN.png                        the icon at the hicolor theme's usual sizes

Run it again after changing a picture; the files are kept in the repository.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write_png(name, width, height, pixels, folder=HERE):
    """pixels: rows of (r, g, b, a) tuples."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(os.path.join(folder, name), "wb") as out:
        out.write(png)


def dib(width, height, pixels, bits):
    """A bottom-up DIB: its BITMAPINFOHEADER and its pixel rows (BGR or BGRA)."""
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, 0, 0, 0, 0, 0)
    rows = b""
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b, a in row:
            line += bytes((b, g, r, a)) if bits == 32 else bytes((b, g, r))
        line += b"\0" * ((4 - len(line) % 4) % 4)
        rows += bytes(line)
    return header, rows


def write_ico(name, images):
    """images: (size, pixels) pairs, each stored as a 32-bit DIB with its AND mask."""
    entries, blobs = b"", b""
    offset = 6 + 16 * len(images)
    for size, pixels in images:
        header, rows = dib(size, size, pixels, 32)
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        mask_row = ((size + 31) // 32) * 4
        mask = b""
        for row in reversed(pixels):
            line = bytearray(mask_row)
            for x, (_, _, _, a) in enumerate(row):
                if a == 0:
                    line[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(line)
        blob = header + rows + mask
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(blob), offset)
        blobs += blob
        offset += len(blob)
    with open(os.path.join(HERE, "win", name), "wb") as out:
        out.write(struct.pack("<HHH", 0, 1, len(images)) + entries + blobs)


def write_bmp(name, width, height, pixels):
    header, rows = dib(width, height, pixels, 24)
    size = 14 + len(header) + len(rows)
    with open(os.path.join(HERE, "win", name), "wb") as out:
        out.write(b"BM" + struct.pack("<IHHI", size, 0, 0, 14 + len(header)) + header + rows)


def render(width, height, shapes, samples=4):
    """Shapes are (test(x, y) -> bool, (r, g, b)) in painting order, in a 0..1 square.
    Each pixel is supersampled; the result carries coverage as alpha."""
    pixels = []
    for py in range(height):
        row = []
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / width
                    y = (py + (sy + 0.5) / samples) / height
                    colour = None
                    for test, rgb in shapes:
                        if test(x, y):
                            colour = rgb
                    if colour is not None:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 1
            n = samples * samples
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]),
                            round(acc[2] / acc[3]), round(255 * acc[3] / n)))
        pixels.append(row)
    return pixels


def rounded_rect(x0, y0, x1, y1, radius):
    def test(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2
    return test


def ellipse(cx, cy, rx, ry, angle=0.0):
    c, s = math.cos(angle), math.sin(angle)

    def test(x, y):
        dx, dy = x - cx, y - cy
        u = dx * c + dy * s
        v = -dx * s + dy * c
        return (u / rx) ** 2 + (v / ry) ** 2 <= 1.0
    return test


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def polygon(points):
    def test(x, y):
        inside = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                inside = not inside
            j = i
        return inside
    return test


def note(ox, oy, scale, rgb):
    """An eighth note whose head sits near (ox, oy) in the unit square."""
    head = ellipse(ox, oy, 0.13 * scale, 0.09 * scale, -0.45)
    stem = rect(ox + 0.075 * scale, oy - 0.52 * scale, ox + 0.14 * scale, oy - 0.02 * scale)
    flag = polygon([(ox + 0.075 * scale, oy - 0.52 * scale), (ox + 0.32 * scale, oy - 0.30 * scale),
                    (ox + 0.30 * scale, oy - 0.20 * scale), (ox + 0.12 * scale, oy - 0.36 * scale)])
    return [(head, rgb), (stem, rgb), (flag, rgb)]


def app_icon(size):
    teal = (22, 110, 128)
    paper = (250, 248, 240)
    ink = (22, 110, 128)
    gold = (236, 178, 46)
    shapes = [(rounded_rect(0.03, 0.03, 0.97, 0.97, 0.18), teal),
              (rounded_rect(0.16, 0.14, 0.84, 0.86, 0.06), paper)]
    # lines of a lyric sheet
    for i, y in enumerate((0.30, 0.44, 0.58, 0.72)):
        shapes.append((rect(0.46 if i < 2 else 0.24, y, 0.76, y + 0.045), (150, 170, 176)))
    shapes += note(0.30, 0.50, 0.75, ink)
    # a quill stroke across the corner
    shapes.append((polygon([(0.60, 0.92), (0.97, 0.42), (0.99, 0.50), (0.66, 0.94)]), gold))
    return render(size, size, shapes, samples=6)


def lyric_row_icon():
    return render(16, 16, note(0.36, 0.76, 1.15, (40, 70, 150)), samples=6)


# The log strip: crisp pixel pictures on white, one 16x16 cell per image.
WHITE = (255, 255, 255)
OFF_WHITE = (254, 254, 254)


def strip_cell(index):
    grid = [[WHITE for _ in range(16)] for _ in range(16)]

    def put(x, y, rgb):
        if 0 <= x < 16 and 0 <= y < 16:
            grid[y][x] = rgb

    def disc(cx, cy, r, rgb):
        for y in range(16):
            for x in range(16):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    put(x, y, rgb)

    if index == 0:  # a sheet of paper
        for y in range(1, 15):
            for x in range(3, 13):
                edge = x in (3, 12) or y in (1, 14)
                put(x, y, (110, 110, 110) if edge else OFF_WHITE)
        for y in (4, 7, 10):
            for x in range(5, 11):
                put(x, y, (160, 160, 160))
    elif index == 1:  # a grey dot
        disc(8, 8, 4, (150, 150, 150))
    elif index == 2:  # information: white i on blue
        disc(8, 8, 7.2, (40, 90, 190))
        for y in (3, 4):
            for x in (7, 8):
                put(x, y, OFF_WHITE)
        for y in range(6, 13):
            for x in (7, 8):
                put(x, y, OFF_WHITE)
        for x in (6, 9):
            put(x, 12, OFF_WHITE)
    elif index == 3:  # error: white cross on red
        disc(8, 8, 7.2, (200, 40, 40))
        for i in range(4, 12):
            for d in (0, 1):
                put(i + d, i, OFF_WHITE)
                put(15 - i - d, i, OFF_WHITE)
    elif index == 4:  # start: green play triangle
        for y in range(2, 14):
            reach = 4 + round((6 - abs(y - 7.5)) * 1.6)
            for x in range(4, reach + 1):
                put(x, y, (30, 150, 60))
    elif index == 5:  # saved: a sheet with a green tick
        for y in range(1, 15):
            for x in range(2, 12):
                edge = x in (2, 11) or y in (1, 14)
                put(x, y, (110, 110, 110) if edge else OFF_WHITE)
        tick = [(6, 9), (7, 10), (8, 11), (9, 10), (10, 9), (11, 8), (12, 7), (13, 6), (14, 5)]
        for x, y in tick:
            for d in (0, 1):
                put(x, y + d, (20, 140, 50))
                put(x, y - 1 + d, (20, 140, 50))
    elif index == 6:  # warning: black ! on amber triangle
        for y in range(2, 15):
            half = (y - 2) * 7 / 12
            for x in range(16):
                if abs(x + 0.5 - 8) <= half + 0.5:
                    put(x, y, (235, 170, 20))
        for y in range(6, 11):
            for x in (7, 8):
                put(x, y, (20, 20, 20))
        for x in (7, 8):
            put(x, 12, (20, 20, 20))
            put(x, 13, (20, 20, 20))
    return grid


def log_strip():
    rows = [[] for _ in range(16)]
    for index in range(7):
        cell = strip_cell(index)
        for y in range(16):
            rows[y] += [(r, g, b, 255) for r, g, b in cell[y]]
    return rows


icon32, icon16, row_icon, strip = app_icon(32), app_icon(16), lyric_row_icon(), log_strip()
write_png("icon-128.png", 32, 32, icon32)
write_png("icon-128-16.png", 16, 16, icon16)
write_png("icon-129.png", 16, 16, row_icon)
write_png("bitmap-130.png", 112, 16, strip)
os.makedirs(os.path.join(HERE, "win"), exist_ok=True)
write_ico("icon-128.ico", [(32, icon32), (16, icon16)])
write_ico("icon-129.ico", [(16, row_icon)])
write_bmp("bitmap-130.bmp", 112, 16, strip)
desktop = os.path.join(HERE, "..", "..", "..", "packaging", "linux", "icons")
os.makedirs(desktop, exist_ok=True)
for size in (16, 24, 32, 48, 64, 128, 256):
    write_png(f"{size}x{size}.png", size, size, app_icon(size), desktop)
