// Known answers, splits, padding edges and agreement with coreutils md5sum for the MD5 digest.
#include "digest/md5.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/mp3_files.h"
#include "tests/support/process_output.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::bytes;
using testing_support::command_output;
using testing_support::hex;
using testing_support::random_bytes;

// Digests data appended in the pieces given by cuts (ascending offsets into data).
std::string md5_in_pieces(const uint8_t* data, size_t n, const std::vector<size_t>& cuts) {
  md5_state s;
  md5_init(&s);
  size_t at = 0;
  for (size_t cut : cuts) {
    md5_append(&s, data + at, static_cast<int32_t>(cut - at));
    at = cut;
  }
  md5_append(&s, data + at, static_cast<int32_t>(n - at));
  uint8_t d[16];
  md5_finish(&s, d);
  return hex(d);
}

std::string md5_hex(const std::string& message) {
  return md5_in_pieces(reinterpret_cast<const uint8_t*>(message.data()), message.size(), {});
}

std::string md5_hex(const bytes& message) { return md5_in_pieces(message.data(), message.size(), {}); }

// coreutils md5sum over the given files in one run: file name -> hex digest.
std::map<std::string, std::string> md5sum(const std::string& dir) {
  std::map<std::string, std::string> digests;
  std::istringstream lines(command_output("cd '" + dir + "' && md5sum -- * 2>/dev/null"));
  std::string digest, name;
  while (lines >> digest >> name) digests[name] = digest;
  return digests;
}

bool have_md5sum() {
  return command_output("command -v md5sum").find("md5sum") != std::string::npos;
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

TEST(Md5, AnySplitOfTheMessageGivesTheSameDigest) {
  const bytes message = random_bytes(300, 7);
  const std::string whole = md5_hex(message);

  // Byte by byte.
  std::vector<size_t> every_byte;
  for (size_t i = 1; i < message.size(); ++i) every_byte.push_back(i);
  EXPECT_EQ(md5_in_pieces(message.data(), message.size(), every_byte), whole);

  // Two pieces cut at every position, and three pieces around each block boundary.
  for (size_t cut = 0; cut <= message.size(); ++cut) {
    EXPECT_EQ(md5_in_pieces(message.data(), message.size(), {cut}), whole) << "cut " << cut;
    if (cut + 64 <= message.size()) {
      EXPECT_EQ(md5_in_pieces(message.data(), message.size(), {cut, cut + 63}), whole) << cut;
    }
  }

  // Random pieces over a few MiB, the data starting at an odd address.
  bytes shifted(1 + (3 << 20) + 77);
  const bytes big = random_bytes(shifted.size() - 1, 8);
  memcpy(shifted.data() + 1, big.data(), big.size());
  const std::string big_whole = md5_hex(big);
  std::mt19937 gen(9);
  for (int trial = 0; trial < 8; ++trial) {
    std::vector<size_t> cuts;
    for (size_t at = gen() % 200; at < big.size(); at += gen() % (trial < 4 ? 300 : 300000))
      cuts.push_back(at);
    EXPECT_EQ(md5_in_pieces(shifted.data() + 1, big.size(), cuts), big_whole) << trial;
  }
}

TEST(Md5, EmptyAndNegativeAppendsChangeNothing) {
  const bytes message = random_bytes(150, 11);
  for (size_t prefix : {0, 1, 63, 64, 100, 150}) {
    md5_state s{};  // zeroed: the comparison below covers the unused buffer bytes too
    md5_init(&s);
    md5_append(&s, message.data(), static_cast<int32_t>(prefix));
    md5_state before = s;
    md5_append(&s, message.data(), 0);
    md5_append(&s, nullptr, 0);
    md5_append(&s, message.data(), -1);
    md5_append(&s, message.data(), -64);
    md5_append(&s, nullptr, INT32_MIN);
    EXPECT_EQ(memcmp(&s, &before, sizeof s), 0) << "prefix " << prefix;
    md5_append(&s, message.data() + prefix, static_cast<int32_t>(message.size() - prefix));
    uint8_t d[16];
    md5_finish(&s, d);
    EXPECT_EQ(hex(d), md5_hex(message)) << "prefix " << prefix;
  }
}

TEST(Md5, PaddingBringsTheMessageToWholeBlocks) {
  // The count after finishing tells how many padding bytes went in: 1 to 64, so that the
  // message, padding and 8 length bytes fill whole blocks; 55 mod 64 gets one byte and
  // 56 mod 64 a whole extra block.
  const bytes message = random_bytes(260, 12);
  for (uint32_t n = 0; n <= message.size(); ++n) {
    md5_state s;
    md5_init(&s);
    md5_append(&s, message.data(), static_cast<int32_t>(n));
    uint8_t d[16];
    md5_finish(&s, d);
    uint32_t total = s.bitcount[0] / 8;
    uint32_t padding = total - n - 8;
    EXPECT_EQ(total % 64, 0u) << n;
    EXPECT_GE(padding, 1u) << n;
    EXPECT_LE(padding, 64u) << n;
    if (n % 64 == 55) {
      EXPECT_EQ(padding, 1u) << n;
    }
    if (n % 64 == 56) {
      EXPECT_EQ(padding, 64u) << n;
    }
  }
  // Known digests at the edges (md5sum of that many 'a' bytes).
  EXPECT_EQ(md5_hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(md5_hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(md5_hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
}

TEST(Md5, BitCountCarriesIntoTheHighWord) {
  // A message past 512 MiB wraps the low word of the bit count; start just below the wrap
  // instead of digesting that much.
  md5_state s;
  md5_init(&s);
  s.bitcount[0] = 0xfffffe00;  // 64 bytes below the wrap, no bytes waiting
  const bytes data = random_bytes(100, 13);
  md5_append(&s, data.data(), 100);
  EXPECT_EQ(s.bitcount[1], 1u);
  EXPECT_EQ(s.bitcount[0], 36u * 8);
  EXPECT_EQ(memcmp(s.buffer, data.data() + 64, 36), 0);

}

TEST(Md5, AgreesWithCoreutilsMd5sum) {
  if (!have_md5sum()) GTEST_SKIP() << "md5sum (coreutils) is not installed";
  testing_support::TempDir dir;
  std::map<std::string, std::string> own;
  for (size_t n = 0; n <= 300; ++n) {
    bytes data = random_bytes(n, static_cast<uint32_t>(1000 + n));
    std::string name = "len" + std::to_string(n);
    testing_support::write_file(dir.file(name), data);
    own[name] = md5_hex(data);
  }
  for (size_t n : {size_t{1} << 20, (size_t{3} << 20) + 55, (size_t{5} << 20) - 1,
                   (size_t{8} << 20) + 56}) {
    bytes data = random_bytes(n, static_cast<uint32_t>(n));
    std::string name = "big" + std::to_string(n);
    testing_support::write_file(dir.file(name), data);
    own[name] = md5_hex(data);
  }
  EXPECT_EQ(md5sum(dir.path()), own);
}

}  // namespace
