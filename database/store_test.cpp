// The store: the file format byte for byte, its diagnostics, loading broken files, naming,
// and keeping an unreadable database from being overwritten.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "database/store_fixture.h"

namespace {

using namespace store_testing;
using testing_support::read_file;
using testing_support::write_file;

class Store : public StoreTest {};

const bytes kCreated = {0x38, 0x86, 0xDE, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0x64, 0, 0, 0};

bytes three_files() {
  return database_bytes(
      {digest_of(1), digest_of(2)},
      {{0, 100, "/music/a.mp3"}, {1, 200, "/music/b.mp3"}, {0, 300, "/music/c.mp3"}});
}

TEST_F(Store, EmptyDatabaseFilesAreSixteenExactBytes) {
  use("new.mp3db");
  EXPECT_EQ(file_createdb(), 1);
  EXPECT_EQ(read_file(path("new.mp3db")), kCreated);
  EXPECT_EQ(output(), "");

  EXPECT_EQ(file_closedb(), 1);
  bytes closed = kCreated;
  closed[12] = 0x63;
  EXPECT_EQ(read_file(path("new.mp3db")), closed);
  EXPECT_EQ(output(), "writing db data now.\n");

  // Creating drops whatever the store held, without writing it anywhere.
  add_entry("/a.mp3", 1);
  EXPECT_EQ(file_createdb(), 1);
  EXPECT_EQ(file_getfilenum(), 0u);
  EXPECT_EQ(file_gethashnum(), 0u);
  EXPECT_EQ(read_file(path("new.mp3db")), kCreated);
}

TEST_F(Store, StartUpWithoutDefaultDatabaseIsSilentAndEmpty) {
  char old[PATH_MAX];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  EXPECT_EQ(file_initdb(), 0);
  EXPECT_STREQ(file_getdbname(), "default.mp3db");
  EXPECT_EQ(file_getfilenum(), 0u);
  EXPECT_EQ(output(), "");
  EXPECT_EQ(file_closedb(), 1);
  EXPECT_EQ(read_file(path("default.mp3db")).size(), 16u);
  EXPECT_EQ(output(), "writing db data now.\n");
  EXPECT_EQ(file_initdb(), 1);
  EXPECT_EQ(output(), "Database successfully read\n");
  ASSERT_EQ(chdir(old), 0);
}

TEST_F(Store, SaveAndReloadKeepOrderIndexesAndHashids) {
  use("music.mp3db");
  add_entry("/music/a.mp3", 1, 100);
  add_entry("/music/b.mp3", 2, 200);
  add_entry("/music/c.mp3", 1, 300);
  std::string before = describe_store();
  ASSERT_EQ(file_closedb(), 1);
  EXPECT_EQ(file_getfilenum(), 0u);
  EXPECT_EQ(file_gethashnum(), 0u);
  bytes expected = three_files();
  EXPECT_EQ(read_file(path("music.mp3db")), expected);

  ASSERT_EQ(file_opendb(), 1);
  EXPECT_EQ(describe_store(), before);
  EXPECT_EQ(output(), "writing db data now.\nDatabase successfully read\n");

  // A digest whose files are all gone stays in the file and in hashnum.
  tables::remove_file(static_cast<uint32_t>(get_fileentrybyfilename("/music/b.mp3")));
  ASSERT_EQ(file_closedb(), 1);
  ASSERT_EQ(file_opendb(), 1);
  EXPECT_EQ(file_gethashnum(), 2u);
  EXPECT_EQ(file_getfilenum(), 2u);
  EXPECT_EQ(db_getfileentry(1)->filename, std::string("/music/c.mp3"));  // moved into the hole
}

TEST_F(Store, LoadIgnoresStampTrailingBytesAndOddHashids) {
  for (uint32_t stamp : {0u, 99u, 100u, 12345u}) {
    bytes file = database_bytes({digest_of(1)},
                                {{0, 5, "/a.mp3"}, {7, 6, "/b.mp3"}, {-3, 7, "/c.mp3"}}, stamp);
    bytes with_tail = file;
    with_tail.insert(with_tail.end(), {1, 2, 3, 4, 5});
    write_file(path("odd.mp3db"), with_tail);
    use("odd.mp3db");
    ASSERT_EQ(file_opendb(), 1) << stamp;
    EXPECT_EQ(output(), "Database successfully read\n");
    EXPECT_EQ(file_getfilenum(), 3u);
    EXPECT_EQ(db_getfileentry(1)->hashid, 7);
    EXPECT_EQ(get_fileentriesnum(0), 1);
    // Out-of-range hashids are written back as they came; the trailing bytes are not.
    ASSERT_EQ(file_closedb(), 1);
    output();
    bytes saved = read_file(path("odd.mp3db"));
    format::put_u32(file.data() + format::kStampOffset, format::kStampClosed);
    EXPECT_EQ(saved, file);
  }
}

// 84 bytes: six records with one-byte names, then six bytes of a record head.
bytes six_records_and_a_cut_head() {
  bytes b;
  for (int i = 0; i < 6; ++i) {
    append_u32(&b, 0);
    append_u32(&b, 1);
    append_u32(&b, 1);
    b.push_back('a' + i);
  }
  b.insert(b.end(), 6, 0);
  return b;
}

struct broken_file {
  const char* what;
  bytes content;
  std::string message;
};

std::vector<broken_file> broken_files() {
  bytes ok = three_files();
  bytes header_only(ok.begin(), ok.begin() + 16);
  auto with_counts = [&](uint32_t hashnum, uint32_t filenum, const bytes& rest) {
    bytes b;
    append_u32(&b, format::kMagic);
    append_u32(&b, hashnum);
    append_u32(&b, filenum);
    append_u32(&b, 99);
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
  };
  bytes one_digest = digest_of(1);
  bytes one_record = database_bytes({}, {{0, 1, "/a.mp3"}});
  one_record.erase(one_record.begin(), one_record.begin() + 16);
  bytes digest_and_record = one_digest;
  digest_and_record.insert(digest_and_record.end(), one_record.begin(), one_record.end());
  bytes bad_magic = ok;
  bad_magic[0] = 0x39;
  bytes zero_name = with_counts(1, 1, one_digest);
  append_u32(&zero_name, 0);
  append_u32(&zero_name, 1);
  append_u32(&zero_name, 0);
  bytes nul_name = database_bytes({one_digest}, {{0, 1, std::string("\0b.mp3", 6)}});
  bytes long_name = with_counts(1, 1, one_digest);
  append_u32(&long_name, 0);
  append_u32(&long_name, 1);
  append_u32(&long_name, 0xFFFFFFFFu);
  long_name.insert(long_name.end(), {'/', 'a'});
  return {
      {"empty file", {}, "warning reading header\n"},
      {"15 bytes", bytes(kCreated.begin(), kCreated.begin() + 15), "warning reading header\n"},
      {"bad magic", bad_magic, "error not a valid magic found.\n"},
      {"more digests than held", with_counts(3, 0, bytes(32, 1)), "warning reading hashes\n"},
      {"4 billion digests", with_counts(0xFFFFFFFFu, 0, bytes(100, 1)), "warning reading hashes\n"},
      {"200 million files in 100 bytes", with_counts(0, 200000000, six_records_and_a_cut_head()),
       "warning reading file entries\n"},
      {"200 million files after one record", with_counts(1, 200000000, digest_and_record),
       "warning reading file entries\n"},
      {"namelen 0", zero_name, "error:[1]44\n"},
      {"name empty as text", nul_name, "error:[1]50\n"},
      {"namelen beyond the file", long_name, "error:[1]46\n"},
      {"namelen beyond the file, many files",
       [&] {
         bytes b = with_counts(0, 0x7FFFFFFF, {});
         append_u32(&b, 0);
         append_u32(&b, 0);
         append_u32(&b, 40);
         b.insert(b.end(), 10, 'x');
         return b;
       }(),
       "error:[2147483647]38\n"},
      {"negative filenum printed signed", with_counts(0, 0xFFFFFFFFu, {}),
       "warning reading file entries\n"},
  };
}

TEST_F(Store, BrokenFilesFailWithTheirMessageAndLeaveStoreEmpty) {
  for (const broken_file& c : broken_files()) {
    SCOPED_TRACE(c.what);
    use("good.mp3db");
    add_entry("/kept.mp3", 9);
    write_file(path("broken.mp3db"), c.content);
    use("broken.mp3db");
    EXPECT_EQ(file_opendb(), 0);
    EXPECT_EQ(output(), c.message);
    EXPECT_EQ(file_getfilenum(), 0u);
    EXPECT_EQ(file_gethashnum(), 0u);
    EXPECT_EQ(get_fileentrybyfilename("/kept.mp3"), -1);
    EXPECT_EQ(file_getdbname(), path("broken.mp3db"));
    unlink(path("broken.mp3db").c_str());
  }
}

// The message that a file cut after `length` bytes of three_files() must give.
std::string message_for_cut(size_t length) {
  if (length < 16) return "warning reading header\n";
  if (length < 48) return "warning reading hashes\n";
  size_t at = 48;
  for (size_t namelen : {12u, 12u, 12u}) {
    if (length < at + 12) return "warning reading file entries\n";
    if (length < at + 12 + namelen) return "error:[3]" + std::to_string(length) + "\n";
    at += 12 + namelen;
  }
  return "Database successfully read\n";
}

TEST_F(Store, FileCutAtEveryLengthFailsCleanly) {
  bytes whole = three_files();
  for (size_t length = 0; length <= whole.size(); ++length) {
    SCOPED_TRACE(length);
    write_file(path("cut.mp3db"), bytes(whole.begin(), whole.begin() + length));
    use("cut.mp3db");
    EXPECT_EQ(file_opendb(), length == whole.size() ? 1 : 0);
    EXPECT_EQ(output(), message_for_cut(length));
    EXPECT_EQ(file_getfilenum(), length == whole.size() ? 3u : 0u);
  }
}

TEST_F(Store, OpeningWhatCannotBeOpenedKeepsTheStore) {
  add_entry("/a.mp3", 1);
  add_entry("/b.mp3", 2);
  use("missing.mp3db");
  EXPECT_EQ(file_opendb(), 0);
  std::filesystem::create_directory(path("folder.mp3db"));
  use("folder.mp3db");
  EXPECT_EQ(file_opendb(), 0);
  EXPECT_EQ(output(), "");
  EXPECT_EQ(file_getfilenum(), 2u);
  EXPECT_EQ(file_getdbname(), path("folder.mp3db"));
}

TEST_F(Store, HeaderCountsAndStampAreReadWithoutLoading) {
  write_file(path("three.mp3db"), three_files());
  add_entry("/kept.mp3", 9);
  uint32_t hashnum = 0, filenum = 0, stamp = 0;
  ASSERT_EQ(file_readheader(path("three.mp3db").c_str(), &hashnum, &filenum, &stamp), 1);
  EXPECT_EQ(hashnum, 2u);
  EXPECT_EQ(filenum, 3u);
  EXPECT_EQ(stamp, format::kStampClosed);
  EXPECT_EQ(file_readheader(path("three.mp3db").c_str(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(file_getfilenum(), 1u) << "the store is not touched";
  bytes bad_magic = three_files();
  bad_magic[0] = 0x39;
  write_file(path("bad.mp3db"), bad_magic);
  write_file(path("short.mp3db"), bytes(kCreated.begin(), kCreated.begin() + 15));
  for (const char* name : {"bad.mp3db", "short.mp3db", "missing.mp3db", "."})
    EXPECT_EQ(file_readheader(path(name).c_str(), &hashnum, &filenum, &stamp), 0) << name;
  EXPECT_EQ(output(), "");
}

TEST_F(Store, SetdbAppendsExtensionUnlessTheNameHoldsIt) {
  struct {
    const char* given;
    const char* named;
  } cases[] = {{"music", "music.mp3db"},
               {"music.mp3db", "music.mp3db"},
               {"MUSIC.MP3DB", "MUSIC.MP3DB.mp3db"},
               {"old.mp3db.bak", "old.mp3db.bak"},
               {"", ".mp3db"}};
  for (const auto& c : cases) {
    EXPECT_EQ(file_setdb(c.given), 1);
    EXPECT_STREQ(file_getdbname(), c.named);
  }
  EXPECT_EQ(file_setdb(nullptr), 0);
  EXPECT_STREQ(file_getdbname(), ".mp3db");
  EXPECT_EQ(output(), "");
}

TEST_F(Store, CloseThatCannotWriteKeepsEveryEntry) {
  add_entry("/a.mp3", 1);
  add_entry("/b.mp3", 1);
  add_entry("/c.mp3", 2);
  std::string before = describe_store();
  std::filesystem::create_directory(path("folder.mp3db"));
  for (const char* name : {"no/such/folder/x.mp3db", "folder.mp3db"}) {
    use(name);
    EXPECT_EQ(file_closedb(), 0) << name;
    EXPECT_EQ(output(), "writing db data now.\n");
    EXPECT_EQ(describe_store(), before);
    use(name);
    EXPECT_EQ(file_createdb(), 0) << name;
    EXPECT_EQ(output(), "");
    EXPECT_EQ(describe_store(), before);
  }
  use("later.mp3db");
  ASSERT_EQ(file_closedb(), 1);
  ASSERT_EQ(file_opendb(), 1);
  EXPECT_EQ(describe_store(), before);
}

TEST_F(Store, UnreadableDatabaseIsMovedAsideNotOverwritten) {
  bytes garbage(40, 0x5A);
  write_file(path("music.mp3db"), garbage);
  write_file(path("music.mp3db.unreadable"), "taken");
  use("music.mp3db");
  EXPECT_EQ(file_opendb(), 0);
  EXPECT_EQ(output(), "error not a valid magic found.\n");
  add_entry("/new.mp3", 1);
  EXPECT_EQ(file_closedb(), 1);
  EXPECT_EQ(output(), "writing db data now.\nunreadable database " + path("music.mp3db") +
                          " moved to " + path("music.mp3db.unreadable.1") + "\n");
  EXPECT_EQ(read_file(path("music.mp3db.unreadable.1")), garbage);
  EXPECT_EQ(read_file(path("music.mp3db.unreadable")), bytes({'t', 'a', 'k', 'e', 'n'}));
  ASSERT_EQ(file_opendb(), 1);
  EXPECT_EQ(file_getfilenum(), 1u);
  // Once moved aside, later saves write quietly.
  output();
  EXPECT_EQ(file_closedb(), 1);
  EXPECT_EQ(output(), "writing db data now.\n");

  // Creating a database over an unreadable one moves it aside too; an empty file is not kept.
  write_file(path("other.mp3db"), bytes(20, 1));
  use("other.mp3db");
  EXPECT_EQ(file_opendb(), 0);
  EXPECT_EQ(file_createdb(), 1);
  EXPECT_EQ(read_file(path("other.mp3db.unreadable")), bytes(20, 1));
  write_file(path("empty.mp3db"), bytes{});
  use("empty.mp3db");
  EXPECT_EQ(file_opendb(), 0);
  output();
  EXPECT_EQ(file_closedb(), 1);
  EXPECT_EQ(output(), "writing db data now.\n");
  EXPECT_FALSE(std::filesystem::exists(path("empty.mp3db.unreadable")));

  // Naming another file after the failed load leaves the unreadable one alone.
  write_file(path("third.mp3db"), bytes(20, 2));
  use("third.mp3db");
  EXPECT_EQ(file_opendb(), 0);
  use("fourth.mp3db");
  EXPECT_EQ(file_closedb(), 1);
  EXPECT_EQ(read_file(path("third.mp3db")), bytes(20, 2));
  EXPECT_FALSE(std::filesystem::exists(path("third.mp3db.unreadable")));
}

#if defined(__SANITIZE_ADDRESS__)
#define VARNELO_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARNELO_UNDER_ASAN 1
#endif
#endif

TEST_F(Store, HugeCountsFailAtOnceUnderAMemoryLimit) {
#ifdef VARNELO_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#else
  for (const broken_file& c : broken_files()) {
    SCOPED_TRACE(c.what);
    write_file(path("huge.mp3db"), c.content);
    use("huge.mp3db");
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // 64 MiB of address space above what the process holds now: far below 200 million
      // records, enough for the test itself.
      struct rlimit limit;
      getrlimit(RLIMIT_AS, &limit);
      long pages = 0;
      FILE* statm = fopen("/proc/self/statm", "r");
      if (statm == nullptr || fscanf(statm, "%ld", &pages) != 1) _exit(3);
      fclose(statm);
      limit.rlim_cur = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (64 << 20);
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(4);
      int result = file_opendb();
      _exit(result == 0 && output() == c.message ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "the load was killed";
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
#endif
}

}  // namespace
