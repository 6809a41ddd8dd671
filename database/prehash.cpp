// The scout, the workers and the hand-over of digests to the folder walk.
#include "database/prehash.h"

#include <time.h>

#include <algorithm>
#include <system_error>

#include "database/folder_walk.h"
#include "database/lane_hashing.h"
#include "database/tables.h"

namespace prehash {

namespace {

// How many planned paths the scout may keep ahead of the calling thread.
constexpr size_t kPlanLimit = 4096;
constexpr int64_t kSecondNs = 1'000'000'000;

// How long a file must have been left alone before its read for any later change to show
// in its timestamps. Within one tick of the clock that stamps them, a second change leaves
// them as they were: a few milliseconds where the filesystem keeps fractions of a second,
// up to two seconds where it keeps whole (or even) seconds.
int64_t settle_ns(const platform::file_state& s) {
  const bool fine = s.mtime_ns % kSecondNs != 0 && s.ctime_ns % kSecondNs != 0;
  return fine ? kSecondNs / 10 : 3 * kSecondNs;
}

int64_t now_ns() {
  struct timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Whether a digest of fd, opened at started in state before, can stand for the file:
// it was not changed while it was read, nor too shortly before.
bool trusted(int fd, const platform::file_state& before, int64_t started) {
  platform::file_state after;
  return platform::state_of(fd, &after) && after == before &&
         std::max(before.mtime_ns, before.ctime_ns) < started - settle_ns(before);
}

// Files the workers' lanes hold beyond those the window keeps for single-file hashing.
size_t lane_window(int hashers, int lanes) {
  if (lanes == kNoLanes || hashers < 2) return 0;
  return static_cast<size_t>(2 * md5_lanes_width(static_cast<md5_lanes_path>(lanes)) * hashers);
}

}  // namespace

outcome hash_file(const char* path, audio_region::read_buffer& buffer) {
  outcome o;
  const int64_t started = now_ns();
  platform::file_state before;
  platform::unique_fd fd = platform::open_regular_fd(path, &before);
  if (!fd) return o;
  o.state = before;
  o.has_digest = audio_region::digest_file(fd.get(), before.size, buffer, o.digest);
  o.trusted = trusted(fd.get(), before, started);
  return o;
}

pipeline::pipeline(const std::string& root, int hashers, int lanes)
    : window_limit_(static_cast<size_t>(4 + 4 * std::max(hashers, 1)) +
                    lane_window(hashers, lanes)) {
  const bool use_lanes =
      hashers > 1 && lanes != kNoLanes && md5_lanes_available(static_cast<md5_lanes_path>(lanes));
  lanes_ = use_lanes;
  // A thread that cannot be started leaves its share to the others and the caller.
  try {
    scout_ = std::thread(&pipeline::scout_main, this, root);
    // With lanes the calling thread only appends entries and mostly waits, so every
    // hasher gets a lane worker of its own; without them the caller hashes too.
    const int threads = use_lanes ? hashers : hashers - 1;
    for (int i = 0; i < threads; ++i) {
      if (use_lanes) {
        workers_.emplace_back(&pipeline::lane_worker_main, this,
                              static_cast<md5_lanes_path>(lanes));
      } else {
        workers_.emplace_back(&pipeline::worker_main, this);
      }
    }
  } catch (const std::system_error&) {
  }
}

pipeline::~pipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  plan_room_.notify_all();
  if (scout_.joinable()) scout_.join();
  for (std::thread& t : workers_) t.join();
}

void pipeline::scout_main(std::string root) {
  folder_walk::folder_guard guard;
  scout_folder(root, nullptr, &guard);
}

// Lists the tree exactly as the walk will, entering the same folders, but only notes the
// ".mp3" files. False once the pipeline is stopping, which is looked at in every folder
// so that a tree with few files to plan cannot hold the stop up.
bool pipeline::scout_folder(const std::string& dir, const platform::folder_id* parent,
                            folder_walk::folder_guard* guard) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || halted_) return false;
  }
  std::vector<platform::dir_entry> entries;
  platform::folder_id id;
  if (!platform::list_folder((dir + platform::kSeparator).c_str(), &entries, &id)) return true;
  if (!guard->enter(dir, id, parent)) return true;
  for (const platform::dir_entry& e : entries) {
    std::string path = folder_walk::join(dir, e.name);
    if (e.is_folder) {
      if (!scout_folder(path, &id, guard)) return false;
    } else if (folder_walk::has_mp3_extension(e.name)) {
      if (!plan(std::move(path))) return false;
    }
  }
  return true;
}

bool pipeline::plan(std::string path) {
  std::unique_lock<std::mutex> lock(mutex_);
  plan_room_.wait(lock, [&] { return stopping_ || halted_ || plan_.size() < kPlanLimit; });
  if (stopping_ || halted_) return false;
  plan_.push_back(std::move(path));
  ++counts_.planned;
  return true;
}

void pipeline::top_up() {
  std::vector<std::string> batch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (halted_) return;
    size_t room = window_limit_ > window_.size() ? window_limit_ - window_.size() : 0;
    while (batch.size() < room && !plan_.empty()) {
      batch.push_back(std::move(plan_.front()));
      plan_.pop_front();
    }
  }
  if (batch.empty()) return;
  plan_room_.notify_one();
  // The tables belong to this thread, so the lookup is made outside the lock; the walk
  // looks the path up again when it adds the file.
  std::vector<std::shared_ptr<item>> fresh;
  uint64_t listed = 0;
  for (std::string& path : batch) {
    if (tables::find_file(path.c_str()) != -1) {
      ++listed;
      continue;
    }
    auto it = std::make_shared<item>();
    it->path = std::move(path);
    fresh.push_back(std::move(it));
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    counts_.skipped_listed += listed;
    if (halted_) return;
    for (auto& it : fresh) window_.push_back(std::move(it));
  }
  work_ready_.notify_all();
}

std::shared_ptr<pipeline::item> pipeline::first_queued_locked(size_t from) {
  for (size_t i = from; i < window_.size(); ++i)
    if (window_[i]->state == status::queued) return window_[i];
  return nullptr;
}

// Hashes a queued item with the lock released; the item may leave the window meanwhile,
// and its result is then simply dropped with it.
void pipeline::hash_item(const std::shared_ptr<item>& it, audio_region::read_buffer& buffer,
                         std::unique_lock<std::mutex>& lock) {
  it->state = status::running;
  lock.unlock();
  outcome result = hash_file(it->path.c_str(), buffer);
  lock.lock();
  it->result = result;
  it->state = status::done;
  item_done_.notify_all();
}

void pipeline::worker_main() {
  audio_region::read_buffer buffer;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    std::shared_ptr<item> it;
    work_ready_.wait(lock, [&] { return stopping_ || (it = first_queued_locked(0)) != nullptr; });
    if (stopping_) return;
    hash_item(it, buffer, lock);
    ++counts_.hashed_ahead;
  }
}

void pipeline::finish_item(const std::shared_ptr<item>& it, const outcome& result) {
  std::lock_guard<std::mutex> lock(mutex_);
  it->result = result;
  it->state = status::done;
  ++counts_.hashed_ahead;
  item_done_.notify_all();
}

// A worker that digests several queued files side by side: each lane that finishes a file
// takes the first queued one, so files are still taken in walk order.
void pipeline::lane_worker_main(md5_lanes_path path) {
  lane_hashing::hasher lanes(path);
  struct open_file {
    std::shared_ptr<item> it;
    platform::unique_fd fd;
    platform::file_state before;
    int64_t started = 0;
  };
  // One more than the lanes: a file is opened while the lane it goes to is still freeing.
  std::vector<open_file> open(static_cast<size_t>(std::max(lanes.width(), 1)) + 1);
  auto next = [&](size_t* tag, lane_hashing::region_job* job) {
    for (;;) {
      std::shared_ptr<item> it;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || (it = first_queued_locked(0)) == nullptr) return false;
        it->state = status::running;
      }
      auto slot = std::find_if(open.begin(), open.end(), [](const open_file& f) { return !f.it; });
      slot->started = now_ns();
      slot->fd = platform::open_regular_fd(it->path.c_str(), &slot->before);
      if (!slot->fd) {
        finish_item(it, outcome());
        continue;
      }
      slot->it = std::move(it);
      *tag = static_cast<size_t>(slot - open.begin());
      job->fd = slot->fd.get();
      job->region = audio_region::find(slot->fd.get(), slot->before.size);
      return true;
    }
  };
  auto done = [&](size_t tag, bool has_digest, const unsigned char* digest) {
    open_file& f = open[tag];
    outcome o;
    o.state = f.before;
    o.has_digest = has_digest;
    if (has_digest) std::copy(digest, digest + 16, o.digest);
    o.trusted = trusted(f.fd.get(), f.before, f.started);
    f.fd = platform::unique_fd();
    finish_item(f.it, o);
    f.it.reset();
  };
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_ready_.wait(lock, [&] { return stopping_ || first_queued_locked(0) != nullptr; });
    if (stopping_) return;
    lock.unlock();
    // Buffers that cannot be had leave the files queued for the caller to hash.
    if (!lanes.run(next, done)) return;
    lock.lock();
  }
}

bool pipeline::take(const std::string& path, audio_region::read_buffer& buffer, outcome* out) {
  top_up();
  std::unique_lock<std::mutex> lock(mutex_);
  auto pos = std::find_if(window_.begin(), window_.end(),
                          [&](const std::shared_ptr<item>& it) { return it->path == path; });
  if (pos == window_.end()) return false;
  // The walk has passed every file planned before this one: those were not added.
  window_.erase(window_.begin(), pos);
  std::shared_ptr<item> mine = window_.front();
  for (;;) {
    if (mine->state == status::done) {
      *out = mine->result;
      window_.pop_front();
      return true;
    }
    if (mine->state == status::queued) {
      window_.pop_front();
      return false;
    }
    // Being hashed by a worker: rather than idle, hash a later file meanwhile. Not when
    // workers digest in lanes: they digest the queued files many times faster.
    std::shared_ptr<item> next = lanes_ ? nullptr : first_queued_locked(1);
    if (next) {
      hash_item(next, buffer, lock);
      ++counts_.hashed_helping;
    } else {
      item_done_.wait(lock);
    }
  }
}

void pipeline::halt() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    halted_ = true;
    plan_.clear();
    // Files being hashed finish and are dropped; queued ones are never started.
    std::erase_if(window_,
                  [](const std::shared_ptr<item>& it) { return it->state == status::queued; });
  }
  plan_room_.notify_all();
}

counters pipeline::snapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_;
}

}  // namespace prehash
