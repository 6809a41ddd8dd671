// The grouping by digest against the per-digest accessors of the database, and its
// statistics: exact 64-bit bytes beside the window's whole megabytes.
#include "cleanup/groups.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <vector>

#include "database/mp3_db.h"
#include "database/tables.h"
#include "tests/support/table_entries.h"

namespace {

using cleanup::duplicate_groups;
using cleanup::group_by_digest;
using cleanup::whole_megabytes;
using testing_support::append_entry;

class Groups : public ::testing::Test {
 protected:
  static void add_hash(uint32_t seed) {
    unsigned char digest[16];
    for (int b = 0; b < 16; ++b) digest[b] = static_cast<unsigned char>(seed * 37 + b);
    tables::append_hash(digest);
  }

  testing_support::empty_tables empty_;
};

// The grouping the window used to make: for each digest, count its files, then walk them
// with the shared cursor; bytes and megabytes summed per file.
duplicate_groups group_through_accessors() {
  duplicate_groups out;
  out.hashnum = file_gethashnum();
  out.statistics.files = file_getfilenum();
  for (uint32_t h = 0; h < file_gethashnum(); ++h) {
    const int32_t n = get_fileentriesnum(h);
    if (n == 0) continue;
    get_fileentries(-1);
    if (n >= 2) {
      cleanup::digest_group g{static_cast<int32_t>(h),
                              {},
                              static_cast<uint32_t>(out.files.size()),
                              static_cast<uint32_t>(n)};
      memcpy(g.digest.data(), db_gethashentry(h), 16);
      out.groups.push_back(g);
    }
    int place = 0;
    for (int32_t k; (k = get_fileentries(static_cast<int32_t>(h))) != -1;) {
      const uint32_t size = db_getfileentry(static_cast<uint32_t>(k))->filesize;
      if (n >= 2) out.files.push_back(static_cast<uint32_t>(k));
      if (++place >= 2) {
        ++out.statistics.duplicates;
        out.statistics.duplicate_bytes += size;
        out.statistics.duplicate_mb += whole_megabytes(size);
      }
      out.statistics.total_bytes += size;
      out.statistics.total_mb += whole_megabytes(size);
    }
  }
  return out;
}

void expect_same(const duplicate_groups& got, const duplicate_groups& want) {
  ASSERT_EQ(got.groups.size(), want.groups.size());
  for (size_t i = 0; i < got.groups.size(); ++i) {
    EXPECT_EQ(got.groups[i].hashid, want.groups[i].hashid) << i;
    EXPECT_EQ(got.groups[i].digest, want.groups[i].digest) << i;
    EXPECT_EQ(got.groups[i].first, want.groups[i].first) << i;
    EXPECT_EQ(got.groups[i].count, want.groups[i].count) << i;
  }
  EXPECT_EQ(got.files, want.files);
  EXPECT_EQ(got.hashnum, want.hashnum);
  EXPECT_EQ(got.statistics.files, want.statistics.files);
  EXPECT_EQ(got.statistics.duplicates, want.statistics.duplicates);
  EXPECT_EQ(got.statistics.duplicate_bytes, want.statistics.duplicate_bytes);
  EXPECT_EQ(got.statistics.duplicate_mb, want.statistics.duplicate_mb);
  EXPECT_EQ(got.statistics.total_bytes, want.statistics.total_bytes);
  EXPECT_EQ(got.statistics.total_mb, want.statistics.total_mb);
}

TEST_F(Groups, MatchTheDigestByDigestListingInOrderAndFigures) {
  // Empty: nothing at all.
  expect_same(group_by_digest(), group_through_accessors());
  EXPECT_TRUE(group_by_digest().groups.empty());

  // Interleaved groups, single files, digests whose files are all gone, and hashids that
  // name no digest (a loaded file can hold them): over several random tables.
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    tables::clear();
    std::mt19937 gen(seed);
    const uint32_t hashes = 1 + gen() % 300;
    for (uint32_t h = 0; h < hashes; ++h) add_hash(h + seed * 1000);
    const uint32_t files = gen() % 2000;
    for (uint32_t k = 0; k < files; ++k) {
      int32_t hashid = static_cast<int32_t>(gen() % (hashes / 3 + 1));
      if (gen() % 50 == 0) hashid = static_cast<int32_t>(hashes + gen() % 5);
      if (gen() % 80 == 0) hashid = -1;
      append_entry(hashid, gen() % 9000000, "/m/" + std::to_string(k) + ".mp3");
    }
    SCOPED_TRACE(seed);
    const duplicate_groups got = group_by_digest();
    expect_same(got, group_through_accessors());
    for (const cleanup::digest_group& g : got.groups) {
      auto files = got.files_of(g);
      ASSERT_EQ(files.size(), g.count);
      for (uint32_t k : files) EXPECT_EQ(db_getfileentry(k)->hashid, g.hashid);
    }
  }
}

TEST_F(Groups, MegabytesAreRoundedPerFileAndBytesAreExactBeyondFourGigabytes) {
  add_hash(1);
  add_hash(2);
  add_hash(3);
  // A group of 3,000,000, 3,100,000 and 2,900,000 bytes: 2 duplicates taking 2 + 2 MB.
  append_entry(0, 3000000, "/a1");
  append_entry(0, 3100000, "/a2");
  append_entry(0, 2900000, "/a3");
  // 1,048,575 bytes count 0 MB; two of 1,572,864 count 1 each.
  append_entry(1, 1048575, "/b1");
  append_entry(2, 1572864, "/c1");
  append_entry(2, 1572864, "/c2");
  duplicate_groups g = group_by_digest();
  EXPECT_EQ(g.statistics.files, 6u);
  EXPECT_EQ(g.statistics.duplicates, 3u);
  EXPECT_EQ(g.statistics.duplicate_mb, 2u + 2u + 1u);
  EXPECT_EQ(g.statistics.duplicate_bytes, 3100000u + 2900000u + 1572864u);
  EXPECT_EQ(g.statistics.total_mb, 2u + 2u + 2u + 0u + 1u + 1u);
  EXPECT_EQ(g.statistics.total_bytes, 9000000u + 1048575u + 2u * 1572864u);

  // Sums pass 32 bits without wrapping: five copies of nearly 4 GiB.
  tables::clear();
  add_hash(1);
  for (int i = 0; i < 5; ++i) append_entry(0, 4000000000u, "/big" + std::to_string(i));
  g = group_by_digest();
  EXPECT_EQ(g.statistics.duplicate_bytes, 16000000000ull);
  EXPECT_EQ(g.statistics.total_bytes, 20000000000ull);
  EXPECT_EQ(g.statistics.duplicate_mb, 4u * 3814u);
}

}  // namespace
