// The content digest and the file probes on files built in code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "database/mp3_db.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::bytes;
using testing_support::hex;
using testing_support::id3v1_tag;
using testing_support::id3v2_tag;
using testing_support::md5_of;
using testing_support::random_bytes;
using testing_support::TempDir;
using testing_support::write_file;

constexpr size_t kMiB = size_t{1} << 20;
const char* const kEmptyDigest = "d41d8cd98f00b204e9800998ecf8427e";

// A digest routine's answer as hex, or "null"; the block is released.
std::string digest_hex(unsigned char* digest) {
  if (digest == nullptr) return "null";
  std::string out = hex(digest);
  free(digest);
  return out;
}
std::string fast(const std::string& path) { return digest_hex(md5_hashfile_fast(path.c_str())); }
std::string streamed(const std::string& path) { return digest_hex(md5_hashfile(path.c_str())); }
std::string md5_hex(const bytes& data) { return hex(md5_of(data).data()); }

// Both routines digest exactly region of the file at path.
void expect_digests_of(const std::string& path, const bytes& region) {
  EXPECT_EQ(fast(path), md5_hex(region));
  EXPECT_EQ(streamed(path), md5_hex(region));
}

// Writes file at path and gives the length of the ID3v1 tag checktagid3 finds at its end.
int v1_tag_of(const std::string& path, const bytes& file) {
  write_file(path, file);
  return checktagid3(path.c_str());
}

// Audio bytes that cannot be mistaken for either tag.
bytes audio(size_t n, uint32_t seed) {
  bytes out = random_bytes(n, seed);
  if (!out.empty()) out[0] = 0xff;
  if (n > 128) out[n - 128] = 0xff;
  return out;
}

bytes concat(std::initializer_list<bytes> parts) {
  bytes out;
  for (const bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// An ID3v2 header with the given four size bytes, version and flags bytes set to junk
// (they are never read), followed by body bytes.
bytes id3v2_raw(unsigned char s6, unsigned char s7, unsigned char s8, unsigned char s9,
                size_t body) {
  bytes tag = {'I', 'D', '3', 0xff, 0xfe, 0xfd, s6, s7, s8, s9};
  tag.insert(tag.end(), body, 0x11);
  return tag;
}

void expect_unopenable(const char* path) {
  SCOPED_TRACE(path != nullptr ? path : "(null)");
  EXPECT_EQ(fileexists(path), 0);
  EXPECT_EQ(getfilesize(path), -1);
  EXPECT_EQ(checktagid3(path), -1);
  EXPECT_EQ(checktagid3v2(path), -1);
  EXPECT_EQ(md5_hashfile_fast(path), nullptr);
  EXPECT_EQ(md5_hashfile(path), nullptr);
}

TEST(ContentDigest, UntaggedFileIsDigestedWhole) {
  TempDir dir;
  for (size_t n : {size_t{1}, size_t{3}, size_t{10}, size_t{127}, size_t{128}, size_t{129},
                   size_t{1000}, 2 * kMiB + 5}) {
    SCOPED_TRACE(n);
    const bytes file = audio(n, static_cast<uint32_t>(n));
    const std::string path = dir.file("plain.mp3");
    write_file(path, file);
    EXPECT_EQ(fileexists(path.c_str()), 1);
    EXPECT_EQ(getfilesize(path.c_str()), static_cast<int>(n));
    EXPECT_EQ(checktagid3(path.c_str()), 0);
    EXPECT_EQ(checktagid3v2(path.c_str()), 0);
    expect_digests_of(path, file);
  }
}

TEST(ContentDigest, Id3v1TagAtTheEndIsLeftOut) {
  TempDir dir;
  const std::string path = dir.file("v1.mp3");
  const bytes sound = audio(5000, 1);
  EXPECT_EQ(v1_tag_of(path, concat({sound, id3v1_tag("Title")})), 128);
  expect_digests_of(path, sound);

  // Only "TAG" in capitals, and only at 128 bytes before the end.
  bytes lower = concat({sound, id3v1_tag("Title")});
  lower[sound.size()] = 't';
  EXPECT_EQ(v1_tag_of(path, lower), 0);
  expect_digests_of(path, lower);
  const bytes early = concat({sound, id3v1_tag("Title"), bytes{0}});
  EXPECT_EQ(v1_tag_of(path, early), 0);
  expect_digests_of(path, early);
}

TEST(ContentDigest, Id3v2LengthComesFromItsSizeBytes) {
  TempDir dir;
  const std::string path = dir.file("v2.mp3");
  const bytes sound = audio(1000, 2);
  struct Case {
    bytes tag;
    int length;  // what checktagid3v2 answers
  };
  const Case cases[] = {
      {id3v2_raw(0, 0, 2, 1, 257), 267},           // 2 * 128 + 1 + 10
      {id3v2_raw(0, 0, 0, 0, 0), 10},              // header only
      {id3v2_raw(0, 1, 0, 0, 0), 0},               // 16394: past the end of the file
      {id3v2_raw(0, 0, 0x08, 0x60, 120), 0},       // 1130: ends exactly at the end
      {id3v2_raw(0, 0, 0x08, 0x5f, 120), 1129},    // one byte short of the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const bytes file = concat({c.tag, sound});
    write_file(path, file);
    ASSERT_EQ(checktagid3v2(path.c_str()), c.length);
    // Without a plausible tag the audio region starts at offset 0.
    expect_digests_of(path, bytes(file.begin() + c.length, file.end()));
  }

  // A file of just a 10-byte header with size 0: the tag would cover the whole file.
  write_file(path, id3v2_raw(0, 0, 0, 0, 0));
  EXPECT_EQ(checktagid3v2(path.c_str()), 0);
  EXPECT_EQ(fast(path), md5_hex(id3v2_raw(0, 0, 0, 0, 0)));
  // Only "ID3" in capitals.
  bytes lower = concat({id3v2_raw(0, 0, 0, 0, 0), sound});
  lower[2] = 'd';
  write_file(path, lower);
  EXPECT_EQ(checktagid3v2(path.c_str()), 0);
}

TEST(ContentDigest, Id3v2SizeBytesCountAsSignedBytes) {
  // Stored databases were made with the size bytes read as signed 8-bit values, so the
  // same tag must give the same length here; 0x80 and above count as negative.
  TempDir dir;
  const std::string path = dir.file("signed.mp3");
  const bytes sound = audio(20000, 3);
  struct Case {
    unsigned char s[4];
    int length;
  };
  const Case cases[] = {
      {{0, 0, 0, 0x80}, 0},               // -128 + 10 < 0
      {{0, 0, 0x01, 0x80}, 10},           // 128 - 128 + 10
      {{0, 0x01, 0xff, 0x00}, 16266},     // (128 - 1) * 128 + 10; unsigned would pass the end
      {{0x80, 0, 0, 0}, 0},               // hugely negative
      {{0, 0, 0x7f, 0x7f}, 16393},        // the largest two-byte size, well-formed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const bytes file = concat({id3v2_raw(c.s[0], c.s[1], c.s[2], c.s[3], 0), sound});
    write_file(path, file);
    EXPECT_EQ(checktagid3v2(path.c_str()), c.length);
    expect_digests_of(path, bytes(file.begin() + c.length, file.end()));
  }
}

TEST(ContentDigest, CopiesWithDifferentTagsShareTheDigest) {
  TempDir dir;
  const bytes sound = audio(70000, 4);
  const bytes files[] = {
      sound,
      concat({sound, id3v1_tag("One")}),
      concat({sound, id3v1_tag("Another title")}),
      concat({id3v2_tag(0), sound}),
      concat({id3v2_tag(5, 'x'), sound, id3v1_tag("One")}),
      concat({id3v2_tag(300, 'y'), sound, id3v1_tag("Two")}),
      concat({id3v2_tag(5000), sound, id3v1_tag("")}),
  };
  std::vector<std::string> whole;
  for (size_t i = 0; i < std::size(files); ++i) {
    SCOPED_TRACE(i);
    const std::string path = dir.file("copy" + std::to_string(i) + ".mp3");
    write_file(path, files[i]);
    expect_digests_of(path, sound);
    whole.push_back(md5_hex(files[i]));
  }
  std::sort(whole.begin(), whole.end());
  EXPECT_EQ(std::unique(whole.begin(), whole.end()), whole.end()) << "test files must differ";
}

TEST(ContentDigest, EmptyAndTagOnlyFiles) {
  TempDir dir;
  const std::string path = dir.file("x.mp3");

  // An empty file: the digest of the empty message from both routines.
  write_file(path, bytes{});
  EXPECT_EQ(getfilesize(path.c_str()), 0);
  EXPECT_EQ(checktagid3(path.c_str()), 0);
  EXPECT_EQ(checktagid3v2(path.c_str()), 0);
  EXPECT_EQ(fast(path), kEmptyDigest);
  EXPECT_EQ(streamed(path), kEmptyDigest);

  // Non-empty files whose tags leave no audio bytes (or overlap): the one-piece routine
  // has nothing to digest and answers null; the streamed one digests nothing.
  const bytes tag_only[] = {
      id3v1_tag("only"),                                        // exactly 128 bytes
      concat({id3v2_tag(20), id3v1_tag("both")}),               // both tags, nothing between
      concat({id3v2_raw(0, 0, 1, 0x70, 0), audio(200, 5), id3v1_tag("ov")}),  // overlap
      bytes{'T', 'A', 'G'},                                     // shorter than a tag
      concat({bytes{'T', 'A', 'G'}, audio(96, 6)}),
  };
  for (size_t i = 0; i < std::size(tag_only); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(v1_tag_of(path, tag_only[i]), 128);
    EXPECT_EQ(fast(path), "null");
    EXPECT_EQ(streamed(path), kEmptyDigest);
  }
}

TEST(ContentDigest, ShortFileIsProbedForId3v1AtItsStart) {
  // In a file shorter than the tag the seek to 128 bytes before the end fails, so the
  // probe reads from the start: "TAG" there counts, "TAG" at the end does not.
  TempDir dir;
  const std::string path = dir.file("short.mp3");
  for (size_t n : {size_t{3}, size_t{4}, size_t{50}, size_t{127}}) {
    SCOPED_TRACE(n);
    bytes front = audio(n, 7);
    front[0] = 'T', front[1] = 'A', front[2] = 'G';
    EXPECT_EQ(v1_tag_of(path, front), 128);
    EXPECT_EQ(fast(path), "null");

    bytes back = audio(n, 8);
    back[n - 3] = 'T', back[n - 2] = 'A', back[n - 1] = 'G';
    EXPECT_EQ(v1_tag_of(path, back), n == 3 ? 128 : 0);
  }
  // From 128 bytes on the probe looks at the tail.
  bytes longer = audio(129, 9);
  longer[0] = 'T', longer[1] = 'A', longer[2] = 'G';
  EXPECT_EQ(v1_tag_of(path, longer), 0);
  expect_digests_of(path, longer);
}

TEST(ContentDigest, StreamedPassesCutTheId3v1TagAnywhere) {
  // md5_hashfile reads 1 MiB into each of two buffers per pass; wherever the ID3v1 tag
  // begins (inside a buffer, across the two, across two passes) it must be cut off exactly.
  TempDir dir;
  const std::string path = dir.file("long.mp3");
  const bytes v2 = id3v2_tag(300, 'z');  // longer than an ID3v1 tag
  // Bytes after the ID3v2 tag, ID3v1 tag included.
  const size_t after_v2[] = {129,          kMiB + 127,     kMiB + 128,     kMiB + 129,
                             2 * kMiB + 1, 2 * kMiB + 64,  2 * kMiB + 128, 2 * kMiB + 129,
                             4 * kMiB + 1};
  const bytes sound_all = audio(4 * kMiB + 128, 10);
  for (size_t n : after_v2) {
    SCOPED_TRACE(n);
    const bytes sound(sound_all.begin(), sound_all.begin() + static_cast<long>(n - 128));
    write_file(path, concat({v2, sound, id3v1_tag("cut")}));
    expect_digests_of(path, sound);
    // Without the ID3v1 tag every byte after the ID3v2 tag counts.
    if (n % kMiB != 1) continue;
    const bytes untagged(sound_all.begin(), sound_all.begin() + static_cast<long>(n));
    write_file(path, concat({v2, untagged}));
    expect_digests_of(path, untagged);
  }
}

TEST(FileProbes, OnlyRegularFilesAreOpenable) {
  TempDir dir;
  expect_unopenable(nullptr);
  expect_unopenable(dir.file("missing.mp3").c_str());
  expect_unopenable(dir.path().c_str());
  testing_support::make_dirs(dir.file("folder.mp3"));
  expect_unopenable(dir.file("folder.mp3").c_str());
  ASSERT_EQ(symlink(dir.file("folder.mp3").c_str(), dir.file("link-to-folder.mp3").c_str()), 0);
  expect_unopenable(dir.file("link-to-folder.mp3").c_str());

  // A FIFO would block the open until a writer comes; a device never ends. The alarm turns
  // a hang into a failed run instead of a stuck one.
  ASSERT_EQ(mkfifo(dir.file("x.mp3").c_str(), 0644), 0);
  alarm(20);
  expect_unopenable(dir.file("x.mp3").c_str());
  expect_unopenable("/dev/null");
  expect_unopenable("/dev/zero");
  alarm(0);

  // A link to a regular file is that file.
  write_file(dir.file("real.mp3"), audio(300, 11));
  ASSERT_EQ(symlink(dir.file("real.mp3").c_str(), dir.file("link.mp3").c_str()), 0);
  EXPECT_EQ(fileexists(dir.file("link.mp3").c_str()), 1);
  EXPECT_EQ(getfilesize(dir.file("link.mp3").c_str()), 300);
}

TEST(FileProbes, FileLockedAgainstReadingCountsAsMissing) {
  TempDir dir;
  const std::string path = dir.file("locked.mp3");
  write_file(path, audio(300, 12));
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  int fd = open(path.c_str(), O_RDONLY);
  if (fd >= 0) {
    close(fd);
    GTEST_SKIP() << "this user can read files without read permission (root)";
  }
  expect_unopenable(path.c_str());
}

TEST(FileProbes, FilesOf2GiBAndMoreCountAsUnopenable) {
  // Sizes are 32-bit signed: a file past INT_MAX bytes would wrap, so every probe answers
  // as for a file that cannot be opened and no routine allocates for it.
  TempDir dir;
  const std::string path = dir.file("huge.mp3");
  for (off_t size : {off_t{INT_MAX} + 1, off_t{INT_MAX} + 2, off_t{5} << 30}) {
    SCOPED_TRACE(size);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    bool sized = ftruncate(fd, size) == 0;
    close(fd);
    if (!sized) GTEST_SKIP() << "the file system refuses a sparse file of " << size << " bytes";
    expect_unopenable(path.c_str());
  }
  // The largest size inside the model is still a file (only probed: digesting it would
  // read 2 GiB).
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, INT_MAX), 0);
  close(fd);
  EXPECT_EQ(fileexists(path.c_str()), 1);
  EXPECT_EQ(getfilesize(path.c_str()), INT_MAX);
  EXPECT_EQ(checktagid3(path.c_str()), 0);
  EXPECT_EQ(checktagid3v2(path.c_str()), 0);
}

// An address-space limit would not leave a sanitizer the room it reserves up front.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VARNELO_RESERVES_ADDRESS_SPACE 1
#endif

TEST(ContentDigest, LargeFileIsDigestedInBoundedMemory) {
#ifdef VARNELO_RESERVES_ADDRESS_SPACE
  GTEST_SKIP() << "a sanitizer reserves more address space than the limit allows";
#else
  TempDir dir;
  const std::string path = dir.file("long.mp3");
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, off_t{256} << 20), 0);  // 256 MiB, without a byte on disk
  close(fd);
  const std::string expected = streamed(path);
  ASSERT_NE(expected, "null");
  fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // 32 MiB of address space above what the process holds now: far less than the file.
    long pages = 0;
    FILE* statm = fopen("/proc/self/statm", "r");
    if (statm == nullptr || fscanf(statm, "%ld", &pages) != 1) _exit(3);
    fclose(statm);
    struct rlimit limit;
    getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (32 << 20);
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(4);
    _exit(fast(path) == expected ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << "md5_hashfile_fast did not give the digest";
#endif
}

}  // namespace
