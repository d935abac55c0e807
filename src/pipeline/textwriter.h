#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillon {

// The byte form of a text file: the value of the "Encoding" setting.
enum TextEncoding : int {
    EncodingAnsi = 0,     // the system's ANSI code page, no byte order mark
    EncodingUtf16BE = 1,  // FE FF first
    EncodingUtf16LE = 2,  // FF FE first
    EncodingUtf8 = 3,     // EF BB BF first; any other value is UTF-8 without a mark
};

// The ANSI code page as an iconv name: QUILLON_ANSI_CODEPAGE if set, else the locale's
// character set.
std::string AnsiCodePage();

// A file opened for writing; owned by the caller, who closes it. Writes are checked: once one
// fails the file stays failed.
class TextFile {
public:
    TextFile() = default;
    ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    bool IsOpen() const { return handle != InvalidHandle; }
    // Takes over an open file: a descriptor, or a Windows file handle.
    void Attach(std::intptr_t file) {
        handle = file;
        failed = false;
    }
    bool Write(const void* data, std::size_t size);
    // Appends what `source` holds from byte `offset` to its end; a source that cannot be read
    // fails the file as a failed write would.
    bool AppendFrom(const std::filesystem::path& source, std::uint64_t offset);
    // Pushes what was written to the disk; false if any write or the sync failed.
    bool Sync();
    // Closes the descriptor; false if any write, or the close itself, failed.
    bool Close();
    bool Failed() const { return failed; }
    // The system's error number of the first failure, 0 when none or unknown.
    int Error() const { return error; }

private:
    void Fail(int number) {
        if (!failed) error = number;
        failed = true;
    }

    static constexpr std::intptr_t InvalidHandle = -1;
    std::intptr_t handle = InvalidHandle;
    bool failed = false;
    int error = 0;
};

class TextWriterBase {
public:
    explicit TextWriterBase(TextFile* textFile) : file(textFile) {}
    virtual ~TextWriterBase() = default;
    virtual void Close() { file = nullptr; }
    bool IsOpen() const { return file != nullptr && file->IsOpen(); }

protected:
    TextFile* file;
};

// Writes UTF-16 text in one of the encodings through a 1,024-byte buffer, starting with the
// encoding's byte order mark. Never closes the file.
class TextFileWriter : public TextWriterBase {
public:
    static constexpr int BufferSize = 1024;

    TextFileWriter(TextFile* textFile, int textEncoding);
    ~TextFileWriter() override;

    // Appends the text up to its first NUL. No line-end conversion.
    void WriteText(std::u16string_view text);
    void PutChar(char16_t c);
    void PutByte(std::uint8_t b);
    void Flush();
    void Close() override;

    // False once any write to the file has failed; stays false after Close.
    bool Ok() const { return !failed && (file == nullptr || !file->Failed()); }

private:
    void WriteByteOrderMark();

    int encoding;
    std::uint8_t buffer[BufferSize];
    int last = -1;
    bool failed = false;
};

// Converts UTF-16 text (up to its first NUL) to the ANSI code page, '?' for what it cannot hold.
std::string ConvertToAnsi(std::u16string_view text, const std::string& codePage);

// How many characters of the text (up to its first NUL) ConvertToAnsi cannot keep: those the
// code page lacks, and on Windows those it would give only as a look-alike (best fit). A
// surrogate pair counts as one character. 0 when the conversion keeps the text.
std::size_t AnsiLostCharacters(std::u16string_view text, const std::string& codePage);

}  // namespace quillon
