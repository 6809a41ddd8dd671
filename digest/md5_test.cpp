// Known answers and splits for the MD5 digest.
#include "digest/md5.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/mp3_files.h"

namespace {

std::string md5_hex(const std::string& message) {
  md5_state s;
  md5_init(&s);
  md5_append(&s, reinterpret_cast<const uint8_t*>(message.data()),
             static_cast<int32_t>(message.size()));
  uint8_t d[16];
  md5_finish(&s, d);
  return testing_support::hex(d);
}

// From RFC 1321, appendix A.5.
TEST(Md5, Rfc1321TestSuite) {
  EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5_hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(md5_hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5_hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(md5_hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(md5_hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(md5_hex("1234567890123456789012345678901234567890123456789012345678901234567890"
                    "1234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

}  // namespace
