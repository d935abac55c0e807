// The safe write with any filler: what lands in the file, what the replacement keeps of the
// file it replaces, and what is left when a step fails.
#include "pipeline/atomicwrite.h"

#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#else
#include <sys/stat.h>
#endif

#include "pipeline/textwriter.h"
#include "testutil.h"

namespace quillon {
namespace {

using namespace std::string_literals;
using testing::ReadFileBytes;
using testing::ScratchDir;
using testing::WriteFileBytes;

using Names = std::set<std::string>;

class AtomicWriteTest : public ::testing::Test {
protected:
    AtomicWriteTest() {
        // Longer than one piece of a copy that goes through memory.
        for (int i = 0; i < 200'000; ++i) source += static_cast<char>(i * 31 % 251);
        WriteFileBytes(dir / "source", source);
        WriteFileBytes(target, "old");
    }

    ScratchDir dir;
    const std::filesystem::path target = dir / "target";
    std::string source;
};

TEST_F(AtomicWriteTest, WrittenBytesAndAnotherFilesTailTakeThePlaceOnlyOnCommit) {
    PreparedFile prepared = PrepareFile(target, [&](TextFile& file) {
        return file.Write("head", 4) && file.AppendFrom(dir / "source", 1000);
    });
    ASSERT_TRUE(prepared.result) << prepared.result.cause;
    ASSERT_FALSE(prepared.temporary.empty());
    EXPECT_EQ(prepared.temporary.parent_path(), dir.Path());
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(ReadFileBytes(prepared.temporary), "head" + source.substr(1000));
    ASSERT_TRUE(CommitPreparedFile(prepared));
    EXPECT_EQ(ReadFileBytes(target), "head" + source.substr(1000));
    EXPECT_TRUE(prepared.temporary.empty());
    EXPECT_EQ(dir.Names(), (Names{"source", "target"}));

    // From past the end nothing comes; a discarded file leaves the target as it was.
    prepared = PrepareFile(target, [&](TextFile& file) {
        return file.Write("x", 1) && file.AppendFrom(dir / "source", source.size() + 10);
    });
    ASSERT_TRUE(prepared.result) << prepared.result.cause;
    EXPECT_EQ(ReadFileBytes(prepared.temporary), "x");
    DiscardPreparedFile(prepared);
    EXPECT_EQ(ReadFileBytes(target), "head" + source.substr(1000));
    EXPECT_EQ(dir.Names(), (Names{"source", "target"}));

    // A new file comes into being the same way.
    prepared = PrepareFile(dir / "new", [](TextFile& file) { return file.Write("n", 1); });
    ASSERT_TRUE(CommitPreparedFile(prepared));
    EXPECT_EQ(ReadFileBytes(dir / "new"), "n");
}

// A source that cannot be read, or a filler that gives up, is a write failure in Korean first;
// the target stays and nothing is left waiting. A target that is not there cannot be replaced.
TEST_F(AtomicWriteTest, AFailedFillLeavesTheTargetAndNoTemporary) {
    const std::string failed = "파일을 쓰지 못했습니다: ";
    PreparedFile prepared = PrepareFile(target, [&](TextFile& file) {
        return file.Write("head", 4) && file.AppendFrom(dir / "gone", 0);
    });
    EXPECT_FALSE(prepared.result);
    EXPECT_TRUE(prepared.result.cause.starts_with(failed)) << prepared.result.cause;
    EXPECT_GT(prepared.result.cause.size(), failed.size());
    EXPECT_TRUE(prepared.temporary.empty());
    EXPECT_EQ(CommitPreparedFile(prepared).cause, prepared.result.cause);

    prepared = PrepareFile(target, [](TextFile&) { return false; });
    EXPECT_FALSE(prepared.result);
    EXPECT_TRUE(prepared.result.cause.starts_with(failed)) << prepared.result.cause;
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(dir.Names(), (Names{"source", "target"}));

    const WriteResult missing = CheckReplaceable(dir / "gone");
    EXPECT_FALSE(missing);
    EXPECT_TRUE(missing.cause.starts_with("있는 파일을 바꿀 수 없습니다: ")) << missing.cause;
    EXPECT_TRUE(CheckReplaceable(target));
}

#ifndef _WIN32
TEST_F(AtomicWriteTest, TheReplacementKeepsEveryModeBit) {
    ASSERT_EQ(::chmod(target.c_str(), 04751), 0);
    PreparedFile prepared = PrepareFile(target, [](TextFile& file) { return file.Write("x", 1); });
    ASSERT_TRUE(CommitPreparedFile(prepared));
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 04751u);
}
#else
// The user running the tests, in the words of the access rules.
std::wstring UserSid() {
    HANDLE token = nullptr;
    std::wstring out;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return out;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    wchar_t* text = nullptr;
    if (::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        out = text;
        ::LocalFree(text);
    }
    ::CloseHandle(token);
    return out;
}

// A hidden file stays hidden, and rules set on the file itself (here: only the user and the
// system, none taken from the folder) stay its rules.
TEST_F(AtomicWriteTest, TheReplacementKeepsAttributesAndAccessRules) {
    ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_HIDDEN));
    const std::wstring user = UserSid();
    ASSERT_FALSE(user.empty());
    const std::wstring rules = L"D:P(A;;FA;;;" + user + L")(A;;FA;;;SY)";
    PSECURITY_DESCRIPTOR wanted = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        rules.c_str(), SDDL_REVISION_1, &wanted, nullptr));
    ASSERT_TRUE(::SetFileSecurityW(target.c_str(), DACL_SECURITY_INFORMATION, wanted));
    ::LocalFree(wanted);
    auto rulesOf = [](const std::filesystem::path& file) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (::GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, nullptr, nullptr,
                                    &descriptor) != ERROR_SUCCESS)
            return std::wstring();
        wchar_t* text = nullptr;
        ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
        std::wstring out = text != nullptr ? text : L"";
        ::LocalFree(text);
        ::LocalFree(descriptor);
        return out;
    };
    const std::wstring before = rulesOf(target);
    ASSERT_FALSE(before.empty());

    PreparedFile prepared = PrepareFile(target, [](TextFile& file) { return file.Write("x", 1); });
    ASSERT_TRUE(prepared.result) << prepared.result.cause;
    const WriteResult committed = CommitPreparedFile(prepared);
    ASSERT_TRUE(committed) << committed.cause;
    EXPECT_EQ(ReadFileBytes(target), "x");
    EXPECT_NE(::GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(rulesOf(target), before);
}
#endif

TEST_F(AtomicWriteTest, WriteTextFileAtomicallyTakesAnyName) {
    ASSERT_TRUE(WriteTextFileAtomically(dir / "saved.txt", u"[a", 2));
    EXPECT_EQ(ReadFileBytes(dir / "saved.txt"), "\xFF\xFE[\0a\0"s);
    const std::string longName(250, 'n');
    ASSERT_TRUE(WriteTextFileAtomically(dir / longName, u"x", 7));
    EXPECT_EQ(ReadFileBytes(dir / longName), "x");
}

}  // namespace
}  // namespace quillon
