// The multi-lane digest against the one-stream digest, through every path the processor has.
#include "digest/md5_lanes.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <vector>

#include "digest/md5.h"
#include "tests/support/mp3_files.h"

namespace {

using testing_support::bytes;

std::vector<uint8_t> one_stream(const uint8_t* data, size_t size) {
  md5_state s;
  md5_init(&s);
  md5_append(&s, data, static_cast<int32_t>(size));
  std::vector<uint8_t> d(16);
  md5_finish(&s, d.data());
  return d;
}

// Random bytes that the messages of a test are cut from.
const bytes& pool() {
  static const bytes p = testing_support::random_bytes(6 << 20, 7);
  return p;
}

class Md5Lanes : public testing::TestWithParam<md5_lanes_path> {
 protected:
  void SetUp() override {
    if (!md5_lanes_available(GetParam())) GTEST_SKIP() << "the processor lacks this path";
  }

  // Digests the messages in lanes and compares each with the one-stream digest.
  void expect_one_stream_digests(const std::vector<md5_lanes_message>& messages) {
    std::vector<uint8_t> digests(16 * messages.size(), 0xee);
    ASSERT_EQ(md5_lanes_digest(messages.data(), messages.size(), digests.data(), GetParam()), 1);
    for (size_t i = 0; i < messages.size(); ++i) {
      std::vector<uint8_t> got(digests.begin() + 16 * i, digests.begin() + 16 * (i + 1));
      ASSERT_EQ(got, one_stream(messages[i].data, messages[i].size))
          << "message " << i << " of " << messages.size() << ", " << messages[i].size << " bytes";
    }
  }

  int width() const { return md5_lanes_width(GetParam()); }
};

md5_lanes_message cut(size_t offset, size_t size) { return {pool().data() + offset, size}; }

TEST_P(Md5Lanes, MatchesOneStreamOnRandomMessagesOfRandomLengths) {
  std::mt19937_64 rng(1);
  for (int round = 0; round < 3; ++round) {
    std::vector<md5_lanes_message> messages;
    for (int i = 0; i < 3 * width() + 5; ++i) {
      // Mostly short messages, some of megabytes, so lanes finish at very different times.
      size_t size = rng() % 4 == 0 ? rng() % (3 << 20) : rng() % 5000;
      messages.push_back(cut(rng() % (pool().size() - size + 1), size));
    }
    expect_one_stream_digests(messages);
  }
}

TEST_P(Md5Lanes, PadsEveryLengthAroundTheBlockEdgesInEveryLane) {
  // Each length from 0 to 200 bytes, and lengths around 55, 56, 63 and 64 mod 64 of a larger
  // message, put in each lane in turn by the number of messages before it.
  std::vector<size_t> sizes;
  for (size_t n = 0; n <= 200; ++n) sizes.push_back(n);
  for (size_t base : {4096u, 65536u}) {
    for (size_t r : {54u, 55u, 56u, 57u, 63u, 64u, 65u}) sizes.push_back(base + r);
  }
  for (int lane = 0; lane < width(); ++lane) {
    std::vector<md5_lanes_message> messages;
    for (int i = 0; i < lane; ++i) messages.push_back(cut(100 + i, 1000));
    for (size_t i = 0; i < sizes.size(); ++i) messages.push_back(cut(3 * i, sizes[i]));
    expect_one_stream_digests(messages);
  }
}

TEST_P(Md5Lanes, LanesEndingInTheSameAndInDifferentBlocks) {
  std::vector<md5_lanes_message> same, neighbours, staggered;
  for (int i = 0; i < 2 * width(); ++i) {
    same.push_back(cut(64 * i, 10000));                   // all end in the same round
    neighbours.push_back(cut(i, 10000 + 7 * i));          // the same round, other padding
    staggered.push_back(cut(1000 * i, 640 + 6400 * i));  // each one block run apart
  }
  expect_one_stream_digests(same);
  expect_one_stream_digests(neighbours);
  expect_one_stream_digests(staggered);
}

TEST_P(Md5Lanes, IdleLanesAndNoMessages) {
  expect_one_stream_digests({});
  expect_one_stream_digests({cut(5, 300000)});
  expect_one_stream_digests({cut(0, 0), cut(9, 70), cut(1, 128)});
}

// Serves messages cut from the pool in pieces of random sizes, as a file reader would.
struct piecewise {
  std::vector<md5_lanes_message> messages;
  std::vector<size_t> piece_limit;  // largest piece of each message
  size_t next = 0;
  size_t fail_message = SIZE_MAX;  // this one fails once half of it is read
  std::vector<std::vector<uint8_t>> digests;
  std::vector<int> deliveries;
  std::vector<uint8_t> scratch[64];  // one piece per message, copied so it really moves

  static int next_message(void* c, size_t* message) {
    auto* p = static_cast<piecewise*>(c);
    if (p->next == p->messages.size()) return 0;
    *message = p->next++;
    return 1;
  }
  static int64_t next_chunk(void* c, size_t message, uint64_t offset, const uint8_t** data) {
    auto* p = static_cast<piecewise*>(c);
    const md5_lanes_message& m = p->messages[message];
    if (message == p->fail_message && offset >= m.size / 2) return -1;
    size_t n = std::min<size_t>(m.size - offset, 1 + (offset * 7919 + message) % p->piece_limit[message]);
    std::vector<uint8_t>& buf = p->scratch[message % 64];
    buf.assign(m.data + offset, m.data + offset + n);
    *data = buf.data();
    return static_cast<int64_t>(n);
  }
  static void digest_ready(void* c, size_t message, const uint8_t* digest) {
    auto* p = static_cast<piecewise*>(c);
    p->deliveries[message] += 1;
    if (digest) p->digests[message].assign(digest, digest + 16);
  }
};

TEST_P(Md5Lanes, StreamsMessagesInPiecesOfAnySize) {
  std::mt19937_64 rng(2);
  piecewise p;
  for (int i = 0; i < 40; ++i) {
    size_t size = rng() % 3 == 0 ? rng() % (1 << 20) : rng() % 3000;
    p.messages.push_back(cut(rng() % (pool().size() - size + 1), size));
    size_t limits[] = {1, 5, 63, 64, 65, 200, 70000};
    p.piece_limit.push_back(limits[i % 7]);
  }
  p.fail_message = 17;
  p.digests.resize(p.messages.size());
  p.deliveries.resize(p.messages.size());
  md5_lanes_source source = {&p, piecewise::next_message, piecewise::next_chunk,
                             piecewise::digest_ready};
  ASSERT_EQ(md5_lanes_run(&source, GetParam()), 1);
  for (size_t i = 0; i < p.messages.size(); ++i) {
    EXPECT_EQ(p.deliveries[i], 1) << "message " << i;
    if (i == p.fail_message) {
      EXPECT_TRUE(p.digests[i].empty()) << "an abandoned message has no digest";
    } else {
      EXPECT_EQ(p.digests[i], one_stream(p.messages[i].data, p.messages[i].size)) << i;
    }
  }
}

TEST_P(Md5Lanes, CompressLeavesNullLanesAloneAndAgreesWithPortableCode) {
  const int w = width();
  std::mt19937 rng(3);
  std::vector<uint32_t> start(4 * w);
  for (uint32_t& v : start) v = rng();
  std::vector<uint32_t> chain = start;
  std::vector<const uint8_t*> data(w);
  for (int l = 0; l < w; ++l) data[l] = l % 3 == 1 ? nullptr : pool().data() + 1 + 1000 * l;
  ASSERT_EQ(md5_lanes_compress(GetParam(), chain.data(), data.data(), 5), 1);
  for (int l = 0; l < w; ++l) {
    // The same lane alone through the portable path, which has its own width.
    const int sw = md5_lanes_width(md5_lanes_scalar);
    std::vector<uint32_t> one(4 * sw, 0);
    std::vector<const uint8_t*> one_data(sw, nullptr);
    for (int k = 0; k < 4; ++k) one[k * sw] = start[k * w + l];
    one_data[0] = data[l];
    ASSERT_EQ(md5_lanes_compress(md5_lanes_scalar, one.data(), one_data.data(), 5), 1);
    for (int k = 0; k < 4; ++k) {
      uint32_t expected = data[l] ? one[k * sw] : start[k * w + l];
      EXPECT_EQ(chain[k * w + l], expected) << "lane " << l << " word " << k;
    }
  }
}

std::string path_name(const testing::TestParamInfo<md5_lanes_path>& info) {
  const char* names[] = {"Auto", "Scalar", "Avx2", "Avx512"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Paths, Md5Lanes,
                         testing::Values(md5_lanes_scalar, md5_lanes_avx2, md5_lanes_avx512,
                                         md5_lanes_auto),
                         path_name);

TEST(Md5LanesPaths, UnknownPathIsRefusedAndAutoIsTheWidest) {
  auto unknown = static_cast<md5_lanes_path>(99);
  EXPECT_EQ(md5_lanes_available(unknown), 0);
  EXPECT_EQ(md5_lanes_width(unknown), 0);
  uint32_t chain[64] = {};
  const uint8_t* data[16] = {};
  EXPECT_EQ(md5_lanes_compress(unknown, chain, data, 1), 0);
  md5_lanes_message m = {nullptr, 0};
  uint8_t digest[16];
  EXPECT_EQ(md5_lanes_digest(&m, 1, digest, unknown), 0);
  EXPECT_EQ(md5_lanes_width(md5_lanes_auto), md5_lanes_width(md5_lanes_best()));
  EXPECT_GE(md5_lanes_width(md5_lanes_auto), md5_lanes_width(md5_lanes_scalar));
}

}  // namespace
