// The indexes behind the lookups, checked against in-order scans of a model of the tables
// after random sequences of appends, removals, renames, saves and loads.
#include <random>

#include "database/store_fixture.h"

namespace {

using namespace store_testing;

class Tables : public StoreTest {};

struct model_entry {
  int32_t hashid;
  std::string name;
};

struct model {
  std::vector<bytes> digests;
  std::vector<model_entry> files;

  int32_t first_digest(const bytes& d) const {
    for (size_t i = 0; i < digests.size(); ++i)
      if (digests[i] == d) return static_cast<int32_t>(i);
    return -1;
  }
  int32_t first_file(const std::string& name) const {
    for (size_t i = 0; i < files.size(); ++i)
      if (files[i].name == name) return static_cast<int32_t>(i);
    return -1;
  }
  std::vector<int32_t> files_of(int32_t hashid) const {
    std::vector<int32_t> out;
    for (size_t i = 0; i < files.size(); ++i)
      if (files[i].hashid == hashid) out.push_back(static_cast<int32_t>(i));
    return out;
  }
};

void expect_same_answers(const model& m, int names, int digests, int step) {
  SCOPED_TRACE(step);
  ASSERT_EQ(file_getfilenum(), m.files.size());
  ASSERT_EQ(file_gethashnum(), m.digests.size());
  for (size_t i = 0; i < m.files.size(); ++i) {
    ASSERT_EQ(db_getfileentry(static_cast<uint32_t>(i))->filename, m.files[i].name);
    ASSERT_EQ(db_getfileentry(static_cast<uint32_t>(i))->hashid, m.files[i].hashid);
  }
  std::vector<std::string> all_names;
  for (int n = 0; n < names; ++n) {
    std::string name = "/p/" + std::to_string(n) + ".mp3";
    ASSERT_EQ(get_fileentrybyfilename(name.c_str()), m.first_file(name)) << name;
    all_names.push_back(name);
  }
  // The same lookups made all at once.
  std::vector<const char*> paths;
  for (const std::string& name : all_names) paths.push_back(name.c_str());
  std::vector<int32_t> found(paths.size(), -2);
  tables::find_files(paths.data(), paths.size(), found.data());
  for (size_t n = 0; n < paths.size(); ++n) ASSERT_EQ(found[n], m.first_file(all_names[n]));
  for (int d = 0; d < digests; ++d)
    ASSERT_EQ(get_hashentry(digest_of(d).data()), m.first_digest(digest_of(d))) << d;
  int32_t top = static_cast<int32_t>(m.digests.size()) + 3;
  for (int32_t h = -2; h < top; ++h) {
    std::vector<int32_t> expected = m.files_of(h);
    if (h >= 0) {
      int32_t count =
          static_cast<uint32_t>(h) < m.digests.size() ? static_cast<int32_t>(expected.size()) : 0;
      ASSERT_EQ(get_fileentriesnum(static_cast<uint32_t>(h)), count) << h;
    }
    ASSERT_EQ(get_fileentrybyhashid(h), expected.empty() ? -1 : expected[0]);
    if (h == -1) continue;
    std::vector<int32_t> walked;
    get_fileentries(-1);
    for (int32_t k; (k = get_fileentries(h)) != -1;) walked.push_back(k);
    ASSERT_EQ(walked, expected) << h;
  }
}

TEST_F(Tables, IndexesAgreeWithScansAfterRandomChanges) {
  constexpr int kNames = 24;
  constexpr int kDigests = 12;
  use("model.mp3db");
  std::mt19937 rng(20261207);
  model m;
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int step = 0; step < 4000; ++step) {
    int op = pick(100);
    if (op < 35) {
      // Paths and hashids repeat as they may in a loaded file; hashids may lie beyond hashnum.
      std::string name = "/p/" + std::to_string(pick(kNames)) + ".mp3";
      int32_t hashid = pick(static_cast<int>(m.digests.size()) + 4) - 1;
      auto* e = static_cast<fileentry*>(malloc(sizeof(fileentry)));
      *e = fileentry{hashid, 1, stringcpy(name.c_str())};
      ASSERT_EQ(tables::append_file(e), m.files.size());
      m.files.push_back({hashid, name});
    } else if (op < 50) {
      bytes d = digest_of(pick(kDigests));
      ASSERT_EQ(tables::append_hash(d.data()), static_cast<int32_t>(m.digests.size()));
      m.digests.push_back(d);
    } else if (op < 75 && !m.files.empty()) {
      uint32_t i = static_cast<uint32_t>(pick(static_cast<int>(m.files.size())));
      tables::remove_file(i);
      m.files[i] = m.files.back();
      m.files.pop_back();
    } else if (op < 92 && !m.files.empty()) {
      uint32_t i = static_cast<uint32_t>(pick(static_cast<int>(m.files.size())));
      std::string name = "/p/" + std::to_string(pick(kNames)) + ".mp3";
      tables::rename_file(i, stringcpy(name.c_str()));
      m.files[i].name = name;
    } else if (op < 98) {
      ASSERT_EQ(file_closedb(), 1);
      ASSERT_EQ(file_getfilenum(), 0u);
      ASSERT_EQ(file_opendb(), 1);
    } else {
      tables::clear();
      m = model{};
    }
    // Sometimes several changes pass before the next lookup, so the indexes are built
    // lazily at different points.
    if (pick(3) == 0) expect_same_answers(m, kNames, kDigests, step);
    if (HasFatalFailure()) return;
  }
  output();
}

}  // namespace
