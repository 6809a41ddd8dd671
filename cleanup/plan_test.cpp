// Keep rules against hand-computed keepers: each rule alone, ties falling through to the next
// rule and to database order, folders compared by real paths and whole components, protected
// copies that never go, groups the rules cannot decide, and the folders a rule may name.
#include "cleanup/plan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "cleanup/cleanup_fixture.h"
#include "cleanup/keep_rules.h"

namespace {

using cleanup::copy_fate;
using cleanup::keep_rule;
using cleanup::keep_rule_kind;
using testing_support::bytes;

// An ID3v2.3 tag holding text frames (encoding byte 0, Latin-1 text).
bytes id3v23_tag(const std::map<std::string, std::string>& frames) {
  bytes body;
  for (const auto& [id, text] : frames) {
    const uint32_t size = static_cast<uint32_t>(text.size() + 1);
    body.insert(body.end(), id.begin(), id.end());
    for (int shift : {24, 16, 8, 0}) body.push_back(static_cast<unsigned char>(size >> shift));
    body.insert(body.end(), {0, 0, 0});
    body.insert(body.end(), text.begin(), text.end());
  }
  bytes tag = {'I', 'D', '3', 3, 0, 0};
  const size_t n = body.size();
  for (int shift : {21, 14, 7, 0}) tag.push_back(static_cast<unsigned char>((n >> shift) & 0x7f));
  tag.insert(tag.end(), body.begin(), body.end());
  return tag;
}

void set_mtime(const std::string& path, time_t seconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

keep_rule rule(keep_rule_kind kind, std::string folder = {}) { return {kind, std::move(folder)}; }

class Plan : public cleanup_testing::CleanupTest {
 protected:
  // Song 7 in four copies, in this database order:
  //   0 lib/zz/long-name-of-the-first-copy.mp3          title only           mtime 1000
  //   1 lib/a/b.mp3 (shortest)                          title artist album   mtime 3000
  //   2 lib/music/x/very-long-...-copy-of-it.mp3 (longest)  title artist     mtime 2000
  //   3 lib/musicbox/c.mp3                              no fields            mtime  500
  // and song 8 alone, in lib/other.
  void SetUp() override {
    CleanupTest::SetUp();
    copies_ = {tagged("lib/zz/long-name-of-the-first-copy.mp3", {{"TIT2", "T"}}, 1000),
               tagged("lib/a/b.mp3", {{"TIT2", "T"}, {"TPE1", "A"}, {"TALB", "B"}}, 3000),
               tagged("lib/music/x/very-long-name-for-a-third-copy-of-it.mp3",
                      {{"TIT2", "T"}, {"TPE1", "A"}}, 2000),
               tagged("lib/musicbox/c.mp3", {}, 500)};
    song("lib/other/single.mp3", 8);
  }

  std::string tagged(const std::string& name, const std::map<std::string, std::string>& frames,
                     time_t mtime, uint32_t seed = 7) {
    const std::string path = dir_.file(name);
    testing_support::make_dirs(std::filesystem::path(path).parent_path());
    bytes file = id3v23_tag(frames);
    const bytes audio = cleanup_testing::audio_of(seed);
    file.insert(file.end(), audio.begin(), audio.end());
    testing_support::write_file(path, file);
    set_mtime(path, mtime);
    EXPECT_EQ(file_add(path.c_str()), 1);
    return path;
  }

  // The one group's copies as the plan ranks them: path, fate and reason.
  struct copy {
    std::string path;
    copy_fate fate;
    std::string reason;
  };
  struct group {
    bool left_alone = false;
    std::vector<copy> copies;
  };
  group plan_one(const std::vector<keep_rule>& rules) {
    plan_ = cleanup::make_plan(cleanup::group_by_digest(), rules);
    EXPECT_EQ(plan_.groups.size(), 1u);
    group out;
    if (plan_.groups.empty()) return out;
    const cleanup::planned_group& g = plan_.groups.front();
    out.left_alone = g.left_alone;
    for (const cleanup::planned_copy& c : plan_.copies_of(g))
      out.copies.push_back({std::string(plan_.path(c)), c.fate, cleanup::reason_text(plan_, g, c)});
    return out;
  }
  // The path of the kept copy, or "" when the group is left alone.
  std::string keeper(const std::vector<keep_rule>& rules) {
    const group g = plan_one(rules);
    if (g.left_alone || g.copies.empty()) return "";
    EXPECT_EQ(g.copies.front().fate, copy_fate::keep);
    return g.copies.front().path;
  }
  std::string lib(const std::string& name) const { return dir_.file("lib/" + name); }

  std::vector<std::string> copies_;
  cleanup::cleanup_plan plan_;
};

TEST_F(Plan, EachRuleAloneKeepsTheHandComputedCopy) {
  EXPECT_EQ(keeper({}), copies_[0]);
  EXPECT_EQ(keeper({rule(keep_rule_kind::first)}), copies_[0]);
  EXPECT_EQ(keeper({rule(keep_rule_kind::shortest_path)}), copies_[1]);
  EXPECT_EQ(keeper({rule(keep_rule_kind::longest_path)}), copies_[2]);
  EXPECT_EQ(keeper({rule(keep_rule_kind::newest)}), copies_[1]);
  EXPECT_EQ(keeper({rule(keep_rule_kind::oldest)}), copies_[3]);
  EXPECT_EQ(keeper({rule(keep_rule_kind::best_tags)}), copies_[1]);
  EXPECT_EQ(keeper({rule(keep_rule_kind::keep_in, lib("music"))}), copies_[2]);
  EXPECT_EQ(keeper({rule(keep_rule_kind::keep_in, lib("musicbox"))}), copies_[3]);
  EXPECT_EQ(keeper({rule(keep_rule_kind::protect, lib("musicbox"))}), copies_[3]);

  // Every copy but the kept one goes, each with the rule that put it behind.
  const group g = plan_one({rule(keep_rule_kind::best_tags)});
  ASSERT_EQ(g.copies.size(), 4u);
  EXPECT_EQ(g.copies[0].reason, "best tags (score 7)");
  // Ranked by score: 5, then 3, then 1.
  EXPECT_EQ(g.copies[1].path, copies_[2]);
  EXPECT_EQ(g.copies[1].reason, "tag score 5, the kept copy's 7");
  EXPECT_EQ(g.copies[2].path, copies_[0]);
  EXPECT_EQ(g.copies[3].path, copies_[3]);
  for (size_t i = 1; i < 4; ++i) EXPECT_EQ(g.copies[i].fate, copy_fate::go);
}

TEST_F(Plan, TiesFallThroughToTheNextRuleAndFinallyToDatabaseOrder) {
  set_mtime(copies_[0], 3000);  // as new as copy 1
  const group newest = plan_one({rule(keep_rule_kind::newest)});
  EXPECT_EQ(newest.copies[0].path, copies_[0]);
  EXPECT_EQ(newest.copies[1].path, copies_[1]);
  EXPECT_EQ(newest.copies[1].reason, "later in the database");
  EXPECT_EQ(newest.copies[2].reason, "older");
  EXPECT_EQ(keeper({rule(keep_rule_kind::newest), rule(keep_rule_kind::shortest_path)}),
            copies_[1]);

  // Two copies under the keep-in folder: the shorter of them.
  const std::string inner = tagged("lib/music/y.mp3", {}, 100);
  EXPECT_EQ(
      keeper({rule(keep_rule_kind::keep_in, lib("music")), rule(keep_rule_kind::shortest_path)}),
      inner);
  const group g =
      plan_one({rule(keep_rule_kind::keep_in, lib("music")), rule(keep_rule_kind::longest_path)});
  EXPECT_EQ(g.copies[0].path, copies_[2]);
  EXPECT_EQ(g.copies[0].reason,
            "under the keep-in folder " + cleanup_testing::real(lib("music")) + "; longest path");
  EXPECT_EQ(g.copies[1].path, inner);  // dropped last, so closest to being kept
  EXPECT_EQ(g.copies[1].reason, "shorter path");

  // Equal scores (3: a title and an ID3v2.3 tag) fall through to the oldest.
  const std::string twin = tagged("lib/twin.mp3", {{"TIT2", "T"}}, 900);
  EXPECT_EQ(keeper({rule(keep_rule_kind::best_tags), rule(keep_rule_kind::shortest_path)}),
            copies_[1]);
  set_mtime(copies_[1], 10);
  set_mtime(copies_[2], 10);
  EXPECT_EQ(keeper({rule(keep_rule_kind::oldest), rule(keep_rule_kind::best_tags)}), copies_[1]);
  file_delete(copies_[1].c_str());
  file_delete(copies_[2].c_str());
  EXPECT_EQ(keeper({rule(keep_rule_kind::best_tags), rule(keep_rule_kind::oldest)}), twin);
}

TEST_F(Plan, FoldersAreComparedByRealPathsAndWholeComponents) {
  // lib/link names lib/music: a rule through the link, and a copy listed through it.
  ASSERT_EQ(symlink(lib("music").c_str(), lib("link").c_str()), 0);
  EXPECT_EQ(keeper({rule(keep_rule_kind::keep_in, lib("link"))}), copies_[2]);
  EXPECT_EQ(keeper({rule(keep_rule_kind::keep_in, lib("link/"))}), copies_[2]);
  EXPECT_EQ(keeper({rule(keep_rule_kind::keep_in, lib("music/../music"))}), copies_[2]);
  file_delete(copies_[2].c_str());
  const std::string through_link = lib("link/x/very-long-name-for-a-third-copy-of-it.mp3");
  ASSERT_EQ(file_add(through_link.c_str()), 1);
  EXPECT_EQ(keeper({rule(keep_rule_kind::keep_in, lib("music"))}), through_link);
  EXPECT_EQ(keeper({rule(keep_rule_kind::keep_in, lib("music/x"))}), through_link);

  // lib/music is not a prefix of lib/musicbox, nor lib/a of lib/ab.
  const std::string sibling = tagged("lib/ab/sibling.mp3", {}, 100);
  file_delete(through_link.c_str());
  EXPECT_EQ(keeper({rule(keep_rule_kind::keep_in, lib("music"))}), "");
  EXPECT_EQ(keeper({rule(keep_rule_kind::keep_in, lib("ab"))}), sibling);
  const group g =
      plan_one({rule(keep_rule_kind::keep_in, lib("a")), rule(keep_rule_kind::protect, lib("a"))});
  EXPECT_EQ(g.copies[0].path, copies_[1]);
  for (size_t i = 1; i < g.copies.size(); ++i) EXPECT_EQ(g.copies[i].fate, copy_fate::go);

  // The whole tree as a folder holds every copy: the rules fall through to database order.
  EXPECT_EQ(keeper({rule(keep_rule_kind::keep_in, "/")}), copies_[0]);
}

TEST_F(Plan, ProtectedCopiesNeverGoAndAreKeptFirst) {
  // Two protected folders, and a rule that prefers an unprotected copy: both protected
  // copies stay, only the others go.
  const group g =
      plan_one({rule(keep_rule_kind::shortest_path), rule(keep_rule_kind::protect, lib("musicbox")),
                rule(keep_rule_kind::protect, lib("zz"))});
  EXPECT_EQ(g.copies[0].path, copies_[1]);
  std::map<std::string, copy_fate> fate;
  for (const copy& c : g.copies) fate[c.path] = c.fate;
  EXPECT_EQ(fate[copies_[0]], copy_fate::stay);
  EXPECT_EQ(fate[copies_[2]], copy_fate::go);
  EXPECT_EQ(fate[copies_[3]], copy_fate::stay);

  const group zz =
      plan_one({rule(keep_rule_kind::protect, lib("zz")), rule(keep_rule_kind::newest)});
  EXPECT_EQ(zz.copies[0].path, copies_[0]);
  EXPECT_EQ(zz.copies[0].reason, "under the protected folder " + cleanup_testing::real(lib("zz")));
  EXPECT_EQ(zz.copies[1].reason,
            "not under the protected folder " + cleanup_testing::real(lib("zz")));
  EXPECT_EQ(plan_.copies_to_go, 3u);
  EXPECT_EQ(plan_.protected_folders(), std::vector<std::string>{cleanup_testing::real(lib("zz"))});
  const group twice =
      plan_one({rule(keep_rule_kind::shortest_path), rule(keep_rule_kind::protect, lib("zz"))});
  for (const copy& c : twice.copies) {
    if (c.path != copies_[0]) continue;
    EXPECT_EQ(c.reason, "protected: under " + cleanup_testing::real(lib("zz")));
  }
}

TEST_F(Plan, GroupWithoutACopyInAKeepInFolderIsLeftAloneUnlessARuleDecides) {
  const group alone = plan_one({rule(keep_rule_kind::keep_in, lib("other"))});
  EXPECT_TRUE(alone.left_alone);
  EXPECT_EQ(plan_.copies_to_go, 0u);
  EXPECT_EQ(plan_.groups_left_alone, 1u);
  ASSERT_EQ(alone.copies.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(alone.copies[i].path, copies_[i]);  // database order
    EXPECT_EQ(alone.copies[i].fate, copy_fate::stay);
    EXPECT_EQ(alone.copies[i].reason, "its group is left alone");
  }

  EXPECT_EQ(keeper({rule(keep_rule_kind::keep_in, lib("other")), rule(keep_rule_kind::oldest)}),
            copies_[3]);
  // A protected copy decides as well: it stays anyway.
  EXPECT_EQ(keeper({rule(keep_rule_kind::keep_in, lib("other")),
                    rule(keep_rule_kind::protect, lib("a"))}),
            copies_[1]);
}

TEST_F(Plan, RuleFoldersMustExistBeFoldersAndHoldAFile) {
  EXPECT_EQ(cleanup::rule_folder_problem(rule(keep_rule_kind::keep_in, lib("music"))), "");
  EXPECT_EQ(cleanup::rule_folder_problem(rule(keep_rule_kind::protect, lib("other"))), "");
  ASSERT_EQ(symlink(lib("music").c_str(), lib("link").c_str()), 0);
  EXPECT_EQ(cleanup::rule_folder_problem(rule(keep_rule_kind::keep_in, lib("link"))), "");
  EXPECT_EQ(cleanup::rule_folder_problem(rule(keep_rule_kind::keep_in, lib("nowhere"))),
            "No such file or directory");
  EXPECT_EQ(cleanup::rule_folder_problem(rule(keep_rule_kind::keep_in, lib("a/b.mp3"))),
            "not a folder");
  testing_support::make_dirs(lib("empty"));
  testing_support::make_dirs(lib("mus"));
  testing_support::write_file(lib("mus/not-listed.mp3"), bytes{1, 2, 3});
  EXPECT_EQ(cleanup::rule_folder_problem(rule(keep_rule_kind::protect, lib("empty"))),
            "holds no file of the database");
  EXPECT_EQ(cleanup::rule_folder_problem(rule(keep_rule_kind::keep_in, lib("mus"))),
            "holds no file of the database");
  EXPECT_EQ(cleanup::rule_folder_problem(rule(keep_rule_kind::first)), "");

  EXPECT_EQ(cleanup::ordering_rule_named("shortest-path"), keep_rule_kind::shortest_path);
  EXPECT_EQ(cleanup::ordering_rule_named("keep-in"), std::nullopt);
  for (const std::string& name : cleanup::ordering_rule_names())
    EXPECT_EQ(cleanup::keep_rule_name(*cleanup::ordering_rule_named(name)), name);
}

}  // namespace
