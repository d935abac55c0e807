// What the safe write is the same for on every system: the causes, the temporary names, and a
// text file as one way to fill a prepared file.
#include "pipeline/atomicwrite.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <thread>

#include "pipeline/textwriter.h"

namespace quillon {

WriteResult WriteFailed(WriteStep step, std::string_view systemText) {
    const char* sentence = "파일을 쓰지 못했습니다";
    if (step == WriteStep::Replace) sentence = "있는 파일을 바꿀 수 없습니다";
    if (step == WriteStep::Create) sentence = "임시 파일을 만들 수 없습니다";
    if (step == WriteStep::Rename) sentence = "쓴 파일을 제자리에 두지 못했습니다";
    return {false, std::string(sentence) + ": " + std::string(systemText)};
}

std::filesystem::path TemporaryNameIn(const std::filesystem::path& folder) {
    // Hidden on POSIX, and carrying no part of the target's name, so a listing of the folder
    // for music files never picks it up.
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937_64 generator(
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        std::hash<std::thread::id>{}(std::this_thread::get_id()));
    static constexpr char digits[] =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string name = ".quillon-";
    std::uint64_t bits = generator() ^ counter.fetch_add(1, std::memory_order_relaxed);
    for (int i = 0; i < 10; ++i) {
        name += digits[bits % 62];
        bits /= 62;
    }
    name += ".tmp";
    return folder / name;
}

PreparedFile PrepareTextFile(const std::filesystem::path& target, std::u16string_view text,
                             int encoding) {
    return PrepareFile(target, [&](TextFile& file) {
        TextFileWriter writer(&file, encoding);
        writer.WriteText(text);
        writer.Close();
        return writer.Ok();
    });
}

WriteResult WriteTextFileAtomically(const std::filesystem::path& target, std::u16string_view text,
                                    int encoding) {
    PreparedFile prepared = PrepareTextFile(target, text, encoding);
    return CommitPreparedFile(prepared);
}

}  // namespace quillon
