// The terminal line of a long command: what it says while counting and once the totals are
// final, and that it never gets wider than the terminal (a line that wraps is not rewritten).
#include "cli/progress_line.h"

#include <gtest/gtest.h>

namespace {

mp3db_walk_progress progress(uint64_t files_done, uint64_t files_total, uint64_t mb_done,
                             uint64_t mb_total, bool counted) {
  return {files_done, mb_done * 1000000, files_total, mb_total * 1000000, counted ? 1 : 0};
}

TEST(ProgressText, TellsTheTimeLeftOnlyOnceTheTotalsAreFinal) {
  EXPECT_EQ(progress_text("scanning", progress(10, 500, 20, 900, false), 40e6, 20, "", 200),
            "scanning: 10 of 500+ files, 20 of 900+ MB, 40 MB/s");
  EXPECT_EQ(progress_text("scanning", progress(10, 900, 20, 1220, true), 40e6, 20, "", 200),
            "scanning: 10 of 900 files, 20 of 1220 MB, 40 MB/s, 30 s left");
  EXPECT_EQ(progress_text("scanning", progress(10, 900, 20, 20 + 4 * 3600 * 40 + 90, true),
                          40e6, 20, "", 200),
            "scanning: 10 of 900 files, 20 of 576110 MB, 40 MB/s, 4:00:02 left");
  // Before half a second has passed the pace is not known, nor the time left.
  EXPECT_EQ(progress_text("verifying", progress(1, 9, 0, 5, true), -1, -1, "", 200),
            "verifying: 1 of 9 files, 0.0 of 5.0 MB");
}

TEST(ProgressText, WalkThroughListedFilesGoesByFiles) {
  // Listed files cost no reading: the pace and the time left go by files.
  EXPECT_EQ(progress_text("scanning", progress(50000, 200000, 0, 0, true), 0, 100000, "", 200),
            "scanning: 50000 of 200000 files, 0.0 of 0.0 MB, 100000 files/s, 2 s left");
  EXPECT_EQ(progress_text("scanning", progress(200000, 200000, 0, 0, true), 0, 100000, "", 200),
            "scanning: 200000 of 200000 files, 0.0 of 0.0 MB, 100000 files/s, 0 s left");
}

TEST(ProgressText, NeverWiderThanTheTerminal) {
  const std::string where = "/music/" + std::string(300, 'x') + "/album";
  for (size_t width : {1u, 20u, 40u, 80u, 81u, 200u, 400u}) {
    const std::string line =
        progress_text("scanning", progress(123456, 234567, 12345, 67890, true), 95e6, 800,
                      where, width);
    EXPECT_LT(line.size(), std::max<size_t>(width, 2)) << width;
    if (width > 12) {
      EXPECT_EQ(line.rfind("scanning: ", 0), 0u) << width;
    }
    // The place is shortened from its start: its end tells where the walk is.
    const size_t in = line.find(", in ");
    if (in != std::string::npos) {
      std::string shown = line.substr(in + 5);
      if (shown.rfind("...", 0) == 0) shown.erase(0, 3);
      EXPECT_FALSE(shown.empty()) << width;
      EXPECT_TRUE(where.ends_with(shown)) << width << ": " << line;
    }
  }
}

}  // namespace
