// The progress of the walk under way, and its public reader.
#include "database/walk_progress.h"

#include <atomic>

#include "database/mp3_db.h"

namespace {

std::atomic<uint64_t> g_files_done{0};
std::atomic<uint64_t> g_bytes_done{0};
std::atomic<uint64_t> g_files_total{0};
std::atomic<uint64_t> g_bytes_total{0};
std::atomic<bool> g_counted{false};

}  // namespace

namespace walk_progress {

void begin() {
  g_files_done = 0;
  g_bytes_done = 0;
  g_files_total = 0;
  g_bytes_total = 0;
  g_counted = false;
}

void file_passed(int64_t bytes_read) {
  g_files_done.fetch_add(1, std::memory_order_relaxed);
  if (bytes_read > 0)
    g_bytes_done.fetch_add(static_cast<uint64_t>(bytes_read), std::memory_order_relaxed);
}

void counted(uint64_t files, uint64_t bytes, bool complete) {
  g_files_total.store(files, std::memory_order_relaxed);
  g_bytes_total.store(bytes, std::memory_order_relaxed);
  g_counted.store(complete, std::memory_order_release);
}

void walked_whole() {
  counted(g_files_done.load(std::memory_order_relaxed), g_bytes_done.load(std::memory_order_relaxed),
          true);
}

}  // namespace walk_progress

void mp3db_get_walk_progress(mp3db_walk_progress* progress) {
  if (progress == nullptr) return;
  progress->counted = g_counted.load(std::memory_order_acquire) ? 1 : 0;
  progress->files_done = g_files_done.load(std::memory_order_relaxed);
  progress->bytes_done = g_bytes_done.load(std::memory_order_relaxed);
  progress->files_total = g_files_total.load(std::memory_order_relaxed);
  progress->bytes_total = g_bytes_total.load(std::memory_order_relaxed);
}
