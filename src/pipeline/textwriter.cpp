#include "pipeline/textwriter.h"

#include "text/textconv.h"

namespace quillon {

TextFileWriter::TextFileWriter(TextFile* textFile, int textEncoding)
    : TextWriterBase(textFile), encoding(textEncoding) {
    WriteByteOrderMark();
}

TextFileWriter::~TextFileWriter() {
    Close();
}

void TextFileWriter::WriteByteOrderMark() {
    if (!IsOpen()) return;
    switch (encoding) {
        case EncodingUtf16BE:
        case EncodingUtf16LE:
            PutChar(u'\uFEFF');
            break;
        case EncodingUtf8:
            PutByte(0xEF);
            PutByte(0xBB);
            PutByte(0xBF);
            break;
        default:
            break;
    }
}

void TextFileWriter::WriteText(std::u16string_view text) {
    text = UpToNul(text);
    if (encoding == EncodingAnsi) {
        // One conversion for the whole text, so a character is never cut from its neighbours.
        for (const char b : ConvertToAnsi(text, AnsiCodePage())) {
            PutByte(static_cast<std::uint8_t>(b));
        }
        return;
    }
    if (encoding == EncodingUtf16BE || encoding == EncodingUtf16LE) {
        for (const char16_t c : text) PutChar(c);
        return;
    }
    // UTF-8 over the whole text, so that a surrogate pair becomes one four-byte character.
    std::string bytes;
    bytes.reserve(text.size() * 3);
    AppendUtf8(bytes, text);
    for (const char b : bytes) PutByte(static_cast<std::uint8_t>(b));
}

void TextFileWriter::PutChar(char16_t c) {
    const unsigned u = c;
    switch (encoding) {
        case EncodingUtf16BE:
            PutByte(static_cast<std::uint8_t>(u >> 8));
            PutByte(static_cast<std::uint8_t>(u & 0xFF));
            return;
        case EncodingUtf16LE:
            PutByte(static_cast<std::uint8_t>(u & 0xFF));
            PutByte(static_cast<std::uint8_t>(u >> 8));
            return;
        default:
            break;
    }
    std::string bytes;
    AppendUtf8(bytes, std::u16string_view(&c, 1));
    for (const char b : bytes) PutByte(static_cast<std::uint8_t>(b));
}

void TextFileWriter::PutByte(std::uint8_t b) {
    if (last + 1 >= BufferSize) Flush();
    ++last;
    buffer[last] = b;
}

void TextFileWriter::Flush() {
    if (last >= 0 && IsOpen() && !file->Write(buffer, static_cast<std::size_t>(last) + 1)) {
        failed = true;
    }
    last = -1;
}

void TextFileWriter::Close() {
    if (IsOpen()) Flush();
    TextWriterBase::Close();
}

}  // namespace quillon
