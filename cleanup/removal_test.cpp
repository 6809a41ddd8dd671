// Safe removal made to meet what happens on real disks between planning and removing: kept
// copies that vanish, change or become links, copies that became links to the kept one or
// are it under another name, folders swapped for links into protected ones, and a thread
// swapping paths while removal runs. Whatever happens, a group keeps a copy of its content.
#include "cleanup/removal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "cleanup/cleanup_fixture.h"
#include "cleanup/plan.h"

namespace {

using cleanup::outcome_kind;
using cleanup::removal_group;
using cleanup::removal_method;
using cleanup_testing::digest_of_audio;
using cleanup_testing::holds_song;

class Removal : public cleanup_testing::CleanupTest {
 protected:
  void SetUp() override {
    ASSERT_FALSE(cleanup_testing::test_trash().empty());
    CleanupTest::SetUp();
  }

  // Removes with the given method, keeping every outcome.
  cleanup::removal_summary remove(const std::vector<removal_group>& groups,
                                  removal_method method = removal_method::permanent,
                                  std::function<void(const cleanup::file_outcome&)> hook = {}) {
    cleanup::removal_options options;
    options.method = method;
    options.protected_folders = protected_;
    options.on_file = [&](const cleanup::file_outcome& o) {
      outcomes_.push_back(o);
      if (hook) hook(o);
      return true;
    };
    return cleanup::remove_copies(groups, options);
  }
  // The outcome told for path (the last one), or null.
  const cleanup::file_outcome* outcome_of(const std::string& path) const {
    for (auto it = outcomes_.rbegin(); it != outcomes_.rend(); ++it)
      if (it->path == path) return &*it;
    return nullptr;
  }
  bool exists(const std::string& path) const {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
  }

  std::vector<cleanup::file_outcome> outcomes_;
  std::vector<std::string> protected_;
};

TEST_F(Removal, CopiesGoOnlyWhileTheKeptCopyHoldsTheContent) {
  const std::string kept = song("kept.mp3", 1), a = song("a.mp3", 1, 20), b = song("b.mp3", 1, 30);
  // The kept copy is fine: both others go, with their entries.
  cleanup::removal_summary s = remove({{digest_of_audio(1), {kept}, {a, b}, false}});
  EXPECT_EQ(s.deleted, 2u);
  EXPECT_FALSE(exists(a) || exists(b) || listed(a) || listed(b));
  EXPECT_TRUE(holds_song(kept, 1) && listed(kept));

  // The kept copy gone, or holding other content: nothing goes, and the caller is told why.
  for (int how = 0; how < 3; ++how) {
    SCOPED_TRACE(how);
    outcomes_.clear();
    const std::string k = song("k" + std::to_string(how) + ".mp3", 2 + how);
    const std::string c = song("c" + std::to_string(how) + ".mp3", 2 + how, 40);
    if (how == 1) {
      write_song(k, 99);
    } else {
      unlink(k.c_str());
      if (how == 2) {
        ASSERT_EQ(symlink(dir_.file("elsewhere").c_str(), k.c_str()), 0);
      }
    }
    s = remove({{digest_of_audio(2 + how), {k}, {c}, false}});
    EXPECT_EQ(s.deleted, 0u);
    EXPECT_EQ(s.groups_stopped, 1u);
    EXPECT_TRUE(holds_song(c, 2 + how) && listed(c));
    ASSERT_NE(outcome_of(k), nullptr);
    EXPECT_EQ(outcome_of(k)->kind, outcome_kind::stale);
    ASSERT_NE(outcome_of(c), nullptr);
    EXPECT_EQ(outcome_of(c)->kind, outcome_kind::skipped);
    EXPECT_EQ(outcome_of(c)->reason, "no copy that stays still holds this content");
  }
}

TEST_F(Removal, APlanKeepsTheNextCopyWhenItsKeptCopyIsLost) {
  const std::string k = song("k.mp3", 3), c1 = song("c1.mp3", 3, 20), c2 = song("c2.mp3", 3, 30);
  const std::string changed = song("x/changed.mp3", 4), other = song("x/other.mp3", 4, 20);
  const cleanup::cleanup_plan plan = cleanup::make_plan(cleanup::group_by_digest(), {});
  unlink(k.c_str());        // the kept copy of song 3 is gone
  write_song(changed, 98);  // the kept copy of song 4 changed
  const cleanup::removal_summary s = remove(cleanup::removal_groups_of(plan));
  EXPECT_EQ(outcome_of(c1)->kind, outcome_kind::kept_instead);
  EXPECT_TRUE(holds_song(c1, 3));
  EXPECT_FALSE(exists(c2));
  EXPECT_EQ(outcome_of(other)->kind, outcome_kind::kept_instead);
  EXPECT_TRUE(holds_song(other, 4));
  EXPECT_TRUE(exists(changed));  // not the content any more, but nobody chose to remove it
  EXPECT_EQ(s.deleted, 1u);

  // Every copy lost: nothing goes.
  outcomes_.clear();
  const std::string d1 = song("d1.mp3", 5), d2 = song("d2.mp3", 5, 20);
  const cleanup::cleanup_plan again = cleanup::make_plan(cleanup::group_by_digest(), {});
  write_song(d1, 97);
  write_song(d2, 96);
  EXPECT_EQ(remove(cleanup::removal_groups_of(again)).deleted, 0u);
  EXPECT_TRUE(exists(d1) && exists(d2));
}

TEST_F(Removal, TheKeptFileUnderAnotherNameIsNeverRemoved) {
  const std::string kept = song("real/kept.mp3", 6);
  // A hard link, the same file through a folder link, a copy replaced by a link to the kept
  // one, and a copy that is a protected copy under another name.
  const std::string hard = dir_.file("hard.mp3");
  ASSERT_EQ(link(kept.c_str(), hard.c_str()), 0);
  ASSERT_EQ(symlink(dir_.file("real").c_str(), dir_.file("alias").c_str()), 0);
  const std::string alias = dir_.file("alias/kept.mp3");
  const std::string relinked = song("relinked.mp3", 6, 20);
  unlink(relinked.c_str());
  ASSERT_EQ(symlink(kept.c_str(), relinked.c_str()), 0);
  const std::string shelf = song("shelf/copy.mp3", 6, 30);
  ASSERT_EQ(symlink(dir_.file("shelf").c_str(), dir_.file("shelf-alias").c_str()), 0);
  const std::string shelf_alias = dir_.file("shelf-alias/copy.mp3");
  const cleanup::removal_summary s =
      remove({{digest_of_audio(6), {kept, shelf}, {hard, alias, relinked, shelf_alias}, false}});
  EXPECT_EQ(s.deleted, 0u);
  EXPECT_EQ(s.skipped, 4u);
  EXPECT_TRUE(holds_song(kept, 6) && holds_song(shelf, 6));
  for (const std::string& p : {hard, alias, relinked, shelf_alias}) {
    ASSERT_NE(outcome_of(p), nullptr) << p;
    EXPECT_NE(outcome_of(p)->reason.find("the same file on disk"), std::string::npos) << p;
  }
}

TEST_F(Removal, CopiesUnderProtectedFoldersStayEvenThroughAFolderSwappedForALink) {
  const std::string kept = song("kept.mp3", 7);
  const std::string guarded = song("vault/copy.mp3", 7, 20);
  const std::string loose = song("loose/copy.mp3", 7, 20);
  protected_ = {cleanup_testing::real(dir_.file("vault"))};
  // After planning, the loose folder is replaced by a link to the protected one: its path
  // now names the protected copy's twin... and must not be removed.
  std::filesystem::remove_all(dir_.file("loose"));
  ASSERT_EQ(symlink(dir_.file("vault").c_str(), dir_.file("loose").c_str()), 0);
  const cleanup::removal_summary s =
      remove({{digest_of_audio(7), {kept}, {guarded, loose}, false}});
  EXPECT_EQ(s.deleted, 0u);
  EXPECT_TRUE(holds_song(guarded, 7));
  EXPECT_EQ(outcome_of(loose)->reason, "under the protected folder " + protected_.front());
}

TEST_F(Removal, ACopyThatBecameALinkGoesAsTheLinkOnly) {
  const std::string kept = song("kept.mp3", 8);
  const std::string copy = song("copy.mp3", 8, 20);
  const std::string outside = dir_.file("outside/song.mp3");  // not listed, same content
  write_song(outside, 8, 50);
  unlink(copy.c_str());
  ASSERT_EQ(symlink(outside.c_str(), copy.c_str()), 0);
  EXPECT_EQ(remove({{digest_of_audio(8), {kept}, {copy}, false}}).deleted, 1u);
  EXPECT_FALSE(exists(copy));
  EXPECT_TRUE(holds_song(outside, 8) && holds_song(kept, 8));
}

TEST_F(Removal, AKeptCopyLostMidGroupStopsTheGroup) {
  // One file under two names that look unrelated (two mounts of one share): here the kept
  // copy goes away right after the first removal, as if that removal had taken it along.
  const std::string kept = song("kept.mp3", 9);
  std::vector<std::string> copies;
  for (int i = 0; i < 4; ++i) copies.push_back(song("c" + std::to_string(i) + ".mp3", 9, 20 + i));
  const cleanup::removal_summary s =
      remove({{digest_of_audio(9), {kept}, copies, false}}, removal_method::trash,
             [&](const cleanup::file_outcome& o) {
               if (o.path == copies[0]) unlink(kept.c_str());
             });
  EXPECT_EQ(s.trashed, 1u);
  EXPECT_EQ(s.groups_stopped, 1u);
  for (int i = 1; i < 4; ++i) EXPECT_TRUE(holds_song(copies[i], 9)) << i;
  ASSERT_NE(outcome_of(kept), nullptr);
  EXPECT_EQ(outcome_of(kept)->kind, outcome_kind::stale);
  EXPECT_NE(outcome_of(kept)->reason.find("is in the trash and can be restored"),
            std::string::npos);

  // The kept path pointed at another copy meanwhile: that copy is now the kept file.
  outcomes_.clear();
  const std::string k2 = song("k2.mp3", 10);
  const std::string d1 = song("d1.mp3", 10, 20), d2 = song("d2.mp3", 10, 30);
  remove({{digest_of_audio(10), {k2}, {d1, d2}, false}}, removal_method::permanent,
         [&](const cleanup::file_outcome& o) {
           if (o.path != d1) return;
           unlink(k2.c_str());
           ASSERT_EQ(symlink(d2.c_str(), k2.c_str()), 0);
         });
  EXPECT_FALSE(exists(d1));
  EXPECT_TRUE(holds_song(d2, 10));
  ASSERT_NE(outcome_of(d2), nullptr);
  EXPECT_EQ(outcome_of(d2)->kind, outcome_kind::skipped);
}

TEST_F(Removal, CallersCanStopBetweenFilesAndFollowProgress) {
  const std::string kept = song("kept.mp3", 11);
  std::vector<std::string> copies;
  for (int i = 0; i < 5; ++i) copies.push_back(song("c" + std::to_string(i) + ".mp3", 11, 20 + i));
  cleanup::removal_options options;
  options.method = removal_method::permanent;
  std::vector<std::pair<uint64_t, uint64_t>> progress;
  options.on_progress = [&](uint64_t done, uint64_t total) {
    progress.push_back({done, total});
    return done < 2;
  };
  const cleanup::removal_summary s =
      cleanup::remove_copies({{digest_of_audio(11), {kept}, copies, false}}, options);
  EXPECT_TRUE(s.stopped);
  EXPECT_EQ(s.deleted, 2u);
  EXPECT_EQ(progress, (std::vector<std::pair<uint64_t, uint64_t>>{{1, 5}, {2, 5}}));
  for (int i = 2; i < 5; ++i) EXPECT_TRUE(exists(copies[i]));

  options.on_progress = nullptr;
  int told = 0;
  options.on_file = [&](const cleanup::file_outcome&) { return ++told < 1; };
  copies.erase(copies.begin(), copies.begin() + 2);
  EXPECT_EQ(cleanup::remove_copies({{digest_of_audio(11), {kept}, copies, false}}, options).deleted,
            1u);
  EXPECT_EQ(told, 1);

  // Told each group's kept copy before its first removal, and asked before each removal:
  // a refusal leaves that copy and all after it.
  copies.erase(copies.begin());
  options.on_file = nullptr;
  std::vector<std::string> groups_told;
  options.on_group = [&](const removal_group&, const std::string* k) {
    groups_told.push_back(k != nullptr ? *k : "none");
    return true;
  };
  int asked = 0;
  options.may_remove = [&](const std::string&) { return ++asked < 2; };
  const cleanup::removal_summary s2 =
      cleanup::remove_copies({{digest_of_audio(11), {kept}, copies, false},
                              {digest_of_audio(11), {dir_.file("gone.mp3")}, {kept}, false}},
                             options);
  EXPECT_EQ(s2.deleted, 1u);
  EXPECT_TRUE(s2.stopped);
  EXPECT_EQ(groups_told, std::vector<std::string>{kept});
  EXPECT_TRUE(exists(copies[1]) && holds_song(kept, 11));
  asked = -100;
  groups_told.clear();
  cleanup::remove_copies({{digest_of_audio(11), {dir_.file("gone.mp3")}, {kept}, false}}, options);
  EXPECT_EQ(groups_told, std::vector<std::string>{"none"});
  EXPECT_TRUE(holds_song(kept, 11));
}

TEST_F(Removal, ThreadSwappingTheCopyForALinkToTheKeptOneLosesNothing) {
  const std::string kept = song("kept.mp3", 12);
  const std::string copy = dir_.file("copy.mp3");
  int removed = 0;
  for (int round = 0; round < 300; ++round) {
    write_song(copy, 12, 20);
    if (!listed(copy)) {
      ASSERT_EQ(file_add(copy.c_str()), 1);
    }
    const std::string link = dir_.file("link" + std::to_string(round));
    ASSERT_EQ(symlink(kept.c_str(), link.c_str()), 0);
    std::atomic<bool> go{false};
    std::thread racer([&] {
      while (!go) {
      }
      std::this_thread::sleep_for(std::chrono::microseconds(round % 50 * 10));
      rename(link.c_str(), copy.c_str());
    });
    go = true;
    removed +=
        static_cast<int>(remove({{digest_of_audio(12), {kept}, {copy}, false}},
                                round % 2 ? removal_method::trash : removal_method::permanent)
                             .deleted);
    racer.join();
    ASSERT_TRUE(holds_song(kept, 12)) << round;
    unlink(link.c_str());
    unlink(copy.c_str());
  }
  EXPECT_GT(removed, 0);
}

TEST_F(Removal, NoGroupIsEverEmptiedWhileItsFilesChangeUnderIt) {
  // Many groups; while removal runs, files are sabotaged between its steps: kept copies
  // deleted, rewritten or turned into links to copies of their group, copies turned into
  // links to their kept copy. Right after every removal, another file of the group must
  // still hold the content; and groups left untouched keep their kept copy.
  std::mt19937 gen(42);
  std::vector<removal_group> groups;
  std::vector<uint32_t> seeds;
  std::map<std::string, size_t> group_of;
  for (uint32_t g = 0; g < 40; ++g) {
    const uint32_t seed = 100 + g;
    const std::string folder = "g" + std::to_string(g) + "/";
    removal_group group{digest_of_audio(seed), {song(folder + "kept.mp3", seed)}, {}, g % 2 == 0};
    for (uint32_t c = 0, n = 1 + gen() % 5; c < n; ++c)
      group.go.push_back(song(folder + "c" + std::to_string(c) + ".mp3", seed, 20 + c));
    group_of[group.stay[0]] = g;
    for (const std::string& p : group.go) group_of[p] = g;
    groups.push_back(group);
    seeds.push_back(seed);
  }
  std::vector<bool> kept_sabotaged(groups.size(), false);
  int removals = 0;
  remove(groups, removal_method::trash, [&](const cleanup::file_outcome& o) {
    const size_t g = group_of.at(o.path);
    if (o.kind == outcome_kind::trashed) {
      ++removals;
      int holders = holds_song(groups[g].stay[0], seeds[g]);
      for (const std::string& p : groups[g].go) holders += holds_song(p, seeds[g]);
      EXPECT_GE(holders, 1) << "group " << g << " emptied by removing " << o.path;
    }
    if (gen() % 3 != 0) return;
    const size_t victim = gen() % 2 ? g : gen() % groups.size();
    const removal_group& v = groups[victim];
    const std::string& k = v.stay[0];
    const std::string& c = v.go[gen() % v.go.size()];
    const int how = static_cast<int>(gen() % 4);
    if (how < 3) kept_sabotaged[victim] = true;
    if (how == 3) {
      unlink(c.c_str());
      symlink(k.c_str(), c.c_str());
      return;
    }
    unlink(k.c_str());
    if (how == 1) write_song(k, 9999);
    if (how == 2) symlink(c.c_str(), k.c_str());
  });
  EXPECT_GT(removals, 20);
  for (size_t g = 0; g < groups.size(); ++g) {
    if (kept_sabotaged[g]) continue;
    EXPECT_TRUE(holds_song(groups[g].stay[0], seeds[g])) << g;
  }
}

TEST_F(Removal, OnlyAConfirmedGroupIsEmptiedAndStillEachCopyIsChecked) {
  const std::string a = song("a.mp3", 4), b = song("b.mp3", 4, 20);
  // Every copy ticked, nothing to stay: left alone unless the user confirmed emptying it.
  cleanup::removal_summary s = remove({{digest_of_audio(4), {}, {a, b}, false, false}});
  EXPECT_EQ(s.deleted, 0u);
  EXPECT_EQ(s.groups_stopped, 1u);
  EXPECT_TRUE(holds_song(a, 4) && holds_song(b, 4));

  // Confirmed: every copy goes, except one that changed meanwhile or lies in a protected
  // folder, and a copy that is the same file as another is removed once.
  const std::string c = song("c.mp3", 4, 30);
  const std::string guarded = song("guarded/d.mp3", 4, 40);
  ASSERT_EQ(link(c.c_str(), dir_.file("c-link.mp3").c_str()), 0);
  ASSERT_EQ(file_add(dir_.file("c-link.mp3").c_str()), 1);
  write_song(b, 77);
  protected_ = {cleanup_testing::real(dir_.file("guarded"))};
  outcomes_.clear();
  s = remove({{digest_of_audio(4), {}, {a, b, c, dir_.file("c-link.mp3"), guarded}, false, true}});
  EXPECT_EQ(s.deleted, 3u);
  EXPECT_FALSE(exists(a) || exists(c) || exists(dir_.file("c-link.mp3")));
  EXPECT_TRUE(holds_song(b, 77) && listed(b));
  EXPECT_TRUE(holds_song(guarded, 4) && listed(guarded));
  EXPECT_EQ(outcome_of(b)->kind, outcome_kind::skipped);
  EXPECT_NE(outcome_of(guarded)->reason.find("protected"), std::string::npos);

  // A copy that stays and still holds the content is kept as usual: confirming changes
  // nothing for such a group, and the copy's other name on disk stays with it.
  const std::string e = song("e.mp3", 5), f = song("f.mp3", 5, 20);
  ASSERT_EQ(link(e.c_str(), dir_.file("e-link.mp3").c_str()), 0);
  s = remove({{digest_of_audio(5), {e}, {dir_.file("e-link.mp3"), f}, false, true}});
  EXPECT_EQ(s.deleted, 1u);
  EXPECT_TRUE(holds_song(e, 5) && exists(dir_.file("e-link.mp3")));
  EXPECT_FALSE(exists(f));
}

}  // namespace
