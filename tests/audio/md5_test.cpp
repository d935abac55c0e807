#include "audio/md5.h"

#include <string>

#include <gtest/gtest.h>

namespace quillon {
namespace {

std::string Hex(const std::string& data) {
    Md5Digest digest;
    digest.Compute(data.data(), data.size());
    return digest.GetHexText();
}

TEST(Md5DigestTest, Rfc1321TestSuite) {
    EXPECT_EQ(Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Hex("1234567890123456789012345678901234567890"
                  "1234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

// Lengths around the 56-byte point where the length field no longer fits in the last block,
// and around the 64-byte block size (values from md5sum).
TEST(Md5DigestTest, PaddingBoundaries) {
    EXPECT_EQ(Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
    EXPECT_EQ(Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(Hex(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
    EXPECT_EQ(Hex(std::string(163840, '\0')), "6cc3d8ecd5a9967c9227be8d17b988a6");
}

TEST(Md5DigestTest, NoTextBeforeCompute) {
    Md5Digest digest;
    EXPECT_EQ(digest.GetHexText(), nullptr);
}

}  // namespace
}  // namespace quillon
