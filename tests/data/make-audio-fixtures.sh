#!/usr/bin/env bash
# Makes the audio test data in tests/data/audio/ and the bundled sample songs in samples/.
#
#   tests/data/make-audio-fixtures.sh
#
# Needs ffmpeg, lame, twolame, python3 and coreutils. The outputs are committed: the tests and CI
# read them and never run this script. Re-running it gives the same bytes with the same encoder
# versions.
#
# Two kinds of file come out:
#   - real MP3s: tones synthesised by ffmpeg and encoded by lame (Layer 3) or twolame (Layer 2),
#     some behind an ID3v2 tag that this script writes itself;
#   - tiny hand-made byte files, each named after the case it reproduces.
#
# expected-checksums.txt holds, per file, the region start S and the expected checksum, or "-"
# and the expected failure. S comes from what this script knows about the file it wrote (where
# it put the first frame, how long the tag it prepended is, where it placed a sync pattern),
# never from Quillon's code; the checksum is then md5sum over 163,840 bytes from S, taken with
# tail/head and padded with zero bytes from /dev/zero.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
OUT=$ROOT/tests/data/audio
SAMPLES=$ROOT/samples
REGION=163840

for tool in ffmpeg lame twolame python3 md5sum; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
rm -rf "$OUT"
mkdir -p "$OUT" "$SAMPLES"

# manifest lines: NAME S            (the file has a checksum)
#                 NAME - STATUS     (the file has none, for the reason STATUS)
MANIFEST=$WORK/manifest
: >"$MANIFEST"

# wav NAME EXPR RATE SECONDS: mono 16-bit WAV of an ffmpeg aevalsrc expression.
wav() {
    ffmpeg -nostdin -loglevel error -f lavfi \
        -i "aevalsrc=exprs='$2':sample_rate=$3:duration=$4" \
        -ac 1 -c:a pcm_s16le -bitexact -map_metadata -1 -y "$WORK/$1.wav"
}

# expect_first_frame FILE OFFSET B1: the encoder output must have its first frame header at
# OFFSET with second byte B1 (version and layer bits), so S is known without reading further.
expect_first_frame() {
    local got
    got=$(od -An -tx1 -j "$2" -N2 "$1" | tr -d ' \n')
    [ "$got" = "ff$3" ] || { echo "$1: expected ff$3 at $2, found $got" >&2; exit 1; }
}

# ---------------------------------------------------------------- real encoded MP3s
TONE='0.5*sin(2*PI*440*t)'
# A tone, then a near-silent stretch, then a richer chord: a VBR encoder picks clearly
# different bitrates for the three parts.
VARIED='if(lt(t,0.8),0.5*sin(2*PI*440*t),if(lt(t,1.3),0.001*sin(2*PI*440*t),0.25*sin(2*PI*523.25*t)+0.25*sin(2*PI*659.25*t)+0.25*sin(2*PI*783.99*t)))'

wav a440-44k "$TONE" 44100 2
wav a440-44k-long "$TONE" 44100 5.5
wav varied-44k "$VARIED" 44100 2
wav e659-22k '0.5*sin(2*PI*659.25*t)' 22050 2
wav c523-8k '0.5*sin(2*PI*523.25*t)' 8000 2

lame --quiet --nohist -m m -b 128 --cbr "$WORK/a440-44k.wav" "$OUT/mpeg1-layer3-cbr128.mp3"
lame --quiet --nohist -m m -b 256 --cbr "$WORK/a440-44k-long.wav" "$OUT/mpeg1-layer3-cbr256-long.mp3"
lame --quiet --nohist -m m -V 2 "$WORK/varied-44k.wav" "$OUT/mpeg1-layer3-vbr.mp3"
lame --quiet --nohist -m m -b 64 --cbr "$WORK/e659-22k.wav" "$OUT/mpeg2-layer3-22khz.mp3"
lame --quiet --nohist -m m -b 16 --cbr "$WORK/c523-8k.wav" "$OUT/mpeg25-layer3-8khz.mp3"
twolame --quiet -m m -b 128 "$WORK/a440-44k.wav" "$OUT/mpeg1-layer2.mp3"

# Version and layer bits of each encoder output's first header (protection bit set: no CRC).
expect_first_frame "$OUT/mpeg1-layer3-cbr128.mp3" 0 fb
expect_first_frame "$OUT/mpeg1-layer3-cbr256-long.mp3" 0 fb
expect_first_frame "$OUT/mpeg1-layer3-vbr.mp3" 0 fb
expect_first_frame "$OUT/mpeg2-layer3-22khz.mp3" 0 f3
expect_first_frame "$OUT/mpeg25-layer3-8khz.mp3" 0 e3
expect_first_frame "$OUT/mpeg1-layer2.mp3" 0 fd
for f in mpeg1-layer3-cbr128 mpeg1-layer3-cbr256-long mpeg1-layer3-vbr mpeg2-layer3-22khz \
    mpeg25-layer3-8khz mpeg1-layer2; do
    echo "$f.mp3 0" >>"$MANIFEST"
done

# ---------------------------------------------------------------- tagged files and byte files
python3 - "$OUT" "$MANIFEST" <<'PY'
import sys

out, manifest = sys.argv[1], sys.argv[2]
entries = []


def write(name, data, start):
    """Writes a fixture; `start` is its region start S, or a failure name."""
    with open(f"{out}/{name}", "wb") as f:
        f.write(data)
    entries.append(f"{name} {start}" if isinstance(start, int) else f"{name} - {start}")


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def text_frame(frame_id, text):
    body = b"\x00" + text.encode("latin-1")
    return frame_id.encode() + len(body).to_bytes(4, "big") + b"\x00\x00" + body


def id3v2_tag(size, private=b""):
    """An ID3v2.3 tag of exactly `size` bytes: title, artist, one PRIV frame holding `private`,
    then zero padding. Returns the tag and the offset of `private` within it."""
    frames = text_frame("TIT2", "Quillon test tone") + text_frame("TPE1", "Quillon")
    owner = b"quillon-test\x00"
    priv_body = owner + private
    private_at = 10 + len(frames) + 10 + len(owner)
    frames += b"PRIV" + len(priv_body).to_bytes(4, "big") + b"\x00\x00" + priv_body
    assert 10 + len(frames) <= size
    tag = b"ID3\x03\x00\x00" + syncsafe(size - 10) + frames
    return tag + bytes(size - len(tag)), private_at


def read(name):
    with open(f"{out}/{name}", "rb") as f:
        return f.read()


# MPEG-1 Layer 3, 128 kbit/s, 44.1 kHz, joint stereo: the pattern an ID3 tag may happen to hold.
MPEG1_L3_PATTERN = b"\xff\xfb\x90\x64"

cbr = read("mpeg1-layer3-cbr128.mp3")
tag, _ = id3v2_tag(4096)
assert b"\xff" not in tag
write("id3v2-4096-mpeg1-layer3.mp3", tag + cbr, 4096)

# The tag carries a candidate of the stream's own version and layer: the region starts there.
# One frame length (417) later the tag holds only padding, so the scan rejects the pattern.
tag, at = id3v2_tag(4096, MPEG1_L3_PATTERN)
assert tag.index(b"\xff") == at and at + 417 + 4 < 4096
write("id3v2-sync-pattern-in-tag-mpeg1-layer3.mp3", tag + cbr, at)

# The tag carries an MPEG-1 pattern in front of an MPEG-2 stream: the region start skips it.
tag, at = id3v2_tag(2048, MPEG1_L3_PATTERN)
assert at + 417 + 4 < 2048
write("id3v2-other-version-pattern-mpeg2-layer3.mp3", tag + read("mpeg2-layer3-22khz.mp3"), 2048)


def body(n, seed):
    """Frame payload without any 0xFF byte, so it never holds a sync candidate."""
    return bytes((seed + 7 * i) % 0xFF for i in range(n))


def frame(header, length, seed=1):
    return header + body(length - 4, seed)


L3_128K_44K = b"\xff\xfb\x90\x00"      # MPEG-1 Layer 3, 128 kbit/s, 44100 Hz: 417 bytes
L3_128K_44K_MONO = b"\xff\xfb\x90\xc0"  # the same, single channel
L3_160K_44K = b"\xff\xfb\xa0\x00"      # 160 kbit/s: 144000 * 160 / 44100 = 522 bytes
L3_128K_48K = b"\xff\xfb\x94\x00"      # 48000 Hz: 384 bytes
L3_FREE_44K = b"\xff\xfb\x00\x00"      # bitrate index 0 (free format)
L1_32K_48K = b"\xff\xff\x14\x00"       # MPEG-1 Layer 1, 32 kbit/s, 48000 Hz: 32 bytes

write("empty.mp3", b"", "no-audio-frame")
write("three-bytes.mp3", b"\xff\xfb\x90", "no-audio-frame")
write("text-renamed.mp3",
      b"These are the lyrics of a song, saved as plain text\nunder a name that ends in .mp3.\n",
      "no-audio-frame")
# Free-format frames pass the candidate test but are never decoded, so never confirmed.
write("free-format-only.mp3", b"".join(frame(L3_FREE_44K, 417, s) for s in range(4)),
      "no-audio-frame")
# The first candidate's second header would lie past the end of the file. The scan stops there,
# although an agreeing Layer 1 pair follows at offset 100.
write("second-position-past-end.mp3",
      frame(L3_128K_44K, 100) + b"".join(frame(L1_32K_48K, 32, s) for s in range(3)),
      "no-audio-frame")

# The first frame straddles the first two 512-byte windows of the sync search.
for at in (509, 510, 511):
    write(f"sync-at-{at}.mp3",
          bytes(at) + frame(L3_128K_44K, 417, 1) + frame(L3_128K_44K, 417, 2) + body(200, 3), at)

# Variable bitrate: the first two frames differ in bitrate only and confirm each other.
write("bitrate-differs-between-first-frames.mp3",
      frame(L3_128K_44K, 417, 1) + frame(L3_160K_44K, 522, 2) + frame(L3_128K_44K, 417, 3), 0)
# Stereo then single channel: still the same stream.
write("channel-mode-differs-between-first-frames.mp3",
      frame(L3_128K_44K, 417, 1) + frame(L3_128K_44K_MONO, 417, 2), 0)
# 44.1 kHz then 48 kHz: no confirmation at 0, the 48 kHz pair at 417 is the stream. The
# 44.1 kHz header at 0 has the same version and layer, so the region still starts at 0.
write("samplerate-differs-between-first-frames.mp3",
      frame(L3_128K_44K, 417, 1) + frame(L3_128K_48K, 384, 2) + frame(L3_128K_48K, 384, 3), 0)
write("two-agreeing-frames-only.mp3", frame(L3_128K_44K, 417, 1) + frame(L3_128K_44K, 417, 2), 0)
# 100 bytes of junk, then frames; the file ends 1,000 bytes after the region start.
write("ends-1000-bytes-after-start.mp3",
      b"junk " * 20 + frame(L3_128K_44K, 417, 1) + frame(L3_128K_44K, 417, 2) + body(166, 3), 100)

with open(manifest, "a") as f:
    f.write("".join(e + "\n" for e in entries))
PY

# ---------------------------------------------------------------- expected checksums
# region_md5 FILE S: MD5 of 163,840 bytes from S, zero-padded where the file ends before.
region_md5() {
    local size have
    size=$(stat -c %s "$1")
    have=$((size - $2))
    ((have > REGION)) && have=$REGION
    ((have < 0)) && have=0
    { tail -c +$(($2 + 1)) "$1" | head -c "$have"; head -c $((REGION - have)) /dev/zero; } |
        md5sum | cut -d' ' -f1
}

{
    echo "# Written by tests/data/make-audio-fixtures.sh. One line per file:"
    echo "#   NAME  S  CHECKSUM     the region starts at byte S; md5sum of 163,840 bytes from S"
    echo "#   NAME  -  FAILURE      the file has no checksum (no-audio-frame)"
    sort "$MANIFEST" | while read -r name start status; do
        if [ "$start" = - ]; then
            echo "$name  -  $status"
        else
            echo "$name  $start  $(region_md5 "$OUT/$name" "$start")"
        fi
    done
} >"$OUT/expected-checksums.txt"

# ---------------------------------------------------------------- songs of other formats
# Half a second of tone with title, artist, album and a lyric tag (LYRICS, or ©lyr in M4A), for
# the reader of every format's tags. They have no MP3 checksum and are not in the manifest.
SYNCED=$'[00:00.10]하나\n[00:00.30]둘'
PLAIN=$'그냥 말\n두 줄'
tagged() {
    local out=$1 rate=$2 lyric=$3
    shift 3
    ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=0.5:sample_rate=$rate" -ac 1 "$@" \
        -metadata LYRICS="$lyric" "$OUT/$out"
}
tagged tagged-synced.flac 8000 "$SYNCED" -c:a flac -metadata title="봄 노래" \
    -metadata artist="가수" -metadata album="앨범"
tagged tagged-plain.ogg 8000 "$PLAIN" -c:a libvorbis -metadata title="Ogg Song" \
    -metadata artist="Singer" -metadata album="Album"
tagged tagged-synced.opus 48000 "$SYNCED" -c:a libopus -b:a 16k -metadata title="Opus Song" \
    -metadata artist="Singer"
tagged tagged-synced.m4a 8000 "$SYNCED" -c:a aac -b:a 16k -metadata title="M4A Song" \
    -metadata artist="Singer" -metadata album="Album"

# ---------------------------------------------------------------- bundled sample songs
cp "$OUT/mpeg1-layer3-cbr128.mp3" "$SAMPLES/tone-a440.mp3"
cp "$OUT/mpeg1-layer3-vbr.mp3" "$SAMPLES/tone-and-chord-vbr.mp3"
cp "$OUT/mpeg2-layer3-22khz.mp3" "$SAMPLES/tone-e659-22khz.mp3"

echo "Wrote $(($(wc -l <"$MANIFEST"))) files to $OUT and 3 samples to $SAMPLES"
