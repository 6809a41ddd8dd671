// The scout, the workers and the hand-over of digests to the folder walk.
#include "database/prehash.h"

#include <time.h>

#include <algorithm>
#include <new>
#include <system_error>

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
size_t lane_window(int hashers, std::optional<md5_lanes_path> lanes) {
  if (!lanes || hashers < 2) return 0;
  return static_cast<size_t>(2 * md5_lanes_width(*lanes) * hashers);
}

}  // namespace

outcome hash_file(const char* path, audio_region::read_buffer& buffer,
                  const walk_stop::flag* stop) {
  outcome o;
  const int64_t started = now_ns();
  platform::file_state before;
  platform::unique_fd fd = platform::open_regular_fd(path, &before);
  if (!fd) return o;
  o.state = before;
  o.has_digest = audio_region::digest_file(fd.get(), before.size, buffer, o.digest, stop);
  o.trusted = trusted(fd.get(), before, started);
  return o;
}

pipeline::pipeline(const std::string& root, int hashers, std::optional<md5_lanes_path> lanes,
                   const walk_stop::flag* stop)
    : window_limit_(static_cast<size_t>(4 + 4 * std::max(hashers, 1)) +
                    lane_window(hashers, lanes)),
      stop_(stop) {
  lanes_ = hashers > 1 && lanes && md5_lanes_available(*lanes);
  // A thread that cannot be started leaves its share to the others and the caller.
  try {
    scout_ = std::thread(&pipeline::scout_main, this, root);
    // With lanes the calling thread only appends entries and mostly waits, so every
    // hasher gets a lane worker of its own; without them the caller hashes too.
    const int threads = lanes_ ? hashers : hashers - 1;
    for (int i = 0; i < threads; ++i) {
      if (lanes_) {
        workers_.emplace_back(&pipeline::lane_worker_main, this, *lanes);
      } else {
        workers_.emplace_back(&pipeline::worker_main, this);
      }
    }
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
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

// ---- The scout ----

void pipeline::scout_main(std::string root) {
  // A scout without memory stops planning; the walk hashes what was not planned itself.
  try {
    folder_rules::folder_guard guard;
    folder_rules::listing top;
    if (folder_rules::enter_chosen(root, &top)) scout_folder(root, top, nullptr, &guard);
  } catch (const std::bad_alloc&) {
  }
}

bool pipeline::scout_may_go_on() {
  if (stop_requested()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  return !stopping_ && !halted_;
}

// Lists the tree exactly as the walk will, entering the same folders through the same
// rules, but only notes the ".mp3" files. False once the pipeline is stopping, which is
// looked at in every folder and before every entry, so that a tree with few files to plan
// cannot hold the stop up.
bool pipeline::scout_folder(const std::string& dir, folder_rules::listing& here,
                            const platform::folder_id* parent, folder_rules::folder_guard* guard) {
  if (!guard->enter(here.folder.get(), here.id, parent)) return true;
  for (const platform::dir_entry& e : here.entries) {
    if (!scout_may_go_on()) return false;
    std::string path = folder_rules::join(dir, e.name);
    if (e.is_folder) {
      folder_rules::listing below;
      if (folder_rules::enter_at(here.folder.get(), e.name, &below) &&
          !scout_folder(path, below, &here.id, guard))
        return false;
    } else if (folder_rules::has_mp3_extension(e.name)) {
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

// ---- Handing files to the hashers ----

void pipeline::top_up() {
  std::vector<std::string> batch;
  std::vector<std::shared_ptr<item>> fresh;
  uint64_t listed = 0;
  try {
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
    for (std::string& path : batch) {
      if (tables::find_file(path.c_str()) != -1) {
        ++listed;
        continue;
      }
      auto it = std::make_shared<item>();
      it->path = std::move(path);
      fresh.push_back(std::move(it));
    }
  } catch (const std::bad_alloc&) {
    // Without memory to plan ahead the walk goes on hashing on this thread alone.
    halt();
    return;
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

std::shared_ptr<pipeline::item> pipeline::claim_queued() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_ || stop_requested()) return nullptr;
  std::shared_ptr<item> it = first_queued_locked(0);
  if (it) it->state = status::running;
  return it;
}

// A file a hasher took but could not hash goes back for another hasher or the caller.
void pipeline::requeue(const std::shared_ptr<item>& it) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    it->state = status::queued;
  }
  item_done_.notify_all();
  work_ready_.notify_all();
}

void pipeline::finish_item(const std::shared_ptr<item>& it, const outcome& result) {
  std::lock_guard<std::mutex> lock(mutex_);
  it->result = result;
  it->state = status::done;
  ++counts_.hashed_ahead;
  item_done_.notify_all();
}

// Hashes a queued item with the lock released; the item may leave the window meanwhile,
// and its result is then simply dropped with it. False, with the item queued again, when
// the buffer could not have its memory.
bool pipeline::hash_item(const std::shared_ptr<item>& it, audio_region::read_buffer& buffer,
                         std::unique_lock<std::mutex>& lock) {
  it->state = status::running;
  lock.unlock();
  outcome result;
  bool hashed = true;
  try {
    result = hash_file(it->path.c_str(), buffer, stop_);
  } catch (const std::bad_alloc&) {
    hashed = false;
  }
  lock.lock();
  it->state = hashed ? status::done : status::queued;
  if (hashed) it->result = result;
  item_done_.notify_all();
  if (!hashed) work_ready_.notify_all();
  return hashed;
}

// ---- Workers ----

// Waits until a file is queued (false once the pipeline is stopping). After a stop request
// the queued files are left alone: the walk adds none of them.
bool pipeline::wait_for_work(std::unique_lock<std::mutex>& lock) {
  work_ready_.wait(lock, [&] {
    return stopping_ || (!stop_requested() && first_queued_locked(0) != nullptr);
  });
  return !stopping_;
}

void pipeline::worker_main() {
  audio_region::read_buffer buffer;
  std::unique_lock<std::mutex> lock(mutex_);
  while (wait_for_work(lock)) {
    // A worker whose buffer cannot be had retires; its file went back to the queue.
    if (!hash_item(first_queued_locked(0), buffer, lock)) {
      ++counts_.workers_retired;
      return;
    }
    ++counts_.hashed_ahead;
  }
}

// The files a lane worker has open, one slot per lane and one more: a file is opened while
// the lane it goes to is still freeing. Each lane that finishes a file takes the first
// queued one, so files are still taken in walk order.
class pipeline::lane_files {
 public:
  lane_files(pipeline& owner, size_t slots) : owner_(owner), open_(slots) {}
  // Any file still open (a run that failed halfway) goes back to the queue.
  ~lane_files() {
    for (open_file& f : open_)
      if (f.it) owner_.requeue(f.it);
  }

  // The lanes' next_fn: claims the first queued file and opens it. A file that cannot be
  // opened is done at once, with nothing trusted, so the walk looks at it itself.
  bool next(size_t* tag, lane_hashing::region_job* job) {
    for (;;) {
      std::shared_ptr<item> it = owner_.claim_queued();
      if (!it) return false;
      auto slot = std::find_if(open_.begin(), open_.end(), [](const open_file& f) { return !f.it; });
      slot->started = now_ns();
      slot->fd = platform::open_regular_fd(it->path.c_str(), &slot->before);
      if (!slot->fd) {
        owner_.finish_item(it, outcome());
        continue;
      }
      slot->it = std::move(it);
      *tag = static_cast<size_t>(slot - open_.begin());
      job->fd = slot->fd.get();
      job->region = audio_region::find(slot->fd.get(), slot->before.size);
      return true;
    }
  }

  // The lanes' done_fn.
  void done(size_t tag, bool has_digest, const unsigned char* digest) {
    open_file& f = open_[tag];
    outcome o;
    o.state = f.before;
    o.has_digest = has_digest;
    if (has_digest) std::copy(digest, digest + 16, o.digest);
    o.trusted = trusted(f.fd.get(), f.before, f.started);
    f.fd = platform::unique_fd();
    owner_.finish_item(f.it, o);
    f.it.reset();
  }

 private:
  struct open_file {
    std::shared_ptr<item> it;
    platform::unique_fd fd;
    platform::file_state before;
    int64_t started = 0;
  };
  pipeline& owner_;
  std::vector<open_file> open_;
};

void pipeline::run_lanes(md5_lanes_path path, lane_files& files) {
  lane_hashing::hasher lanes(path);
  const lane_hashing::next_fn next = [&](size_t* tag, lane_hashing::region_job* job) {
    return files.next(tag, job);
  };
  const lane_hashing::done_fn done = [&](size_t tag, bool has_digest, const unsigned char* d) {
    files.done(tag, has_digest, d);
  };
  std::unique_lock<std::mutex> lock(mutex_);
  while (wait_for_work(lock)) {
    lock.unlock();
    // Buffers that cannot be had leave the files queued for the caller to hash.
    if (!lanes.run(next, done, stop_)) throw std::bad_alloc();
    lock.lock();
  }
}

void pipeline::lane_worker_main(md5_lanes_path path) {
  try {
    lane_files files(*this, static_cast<size_t>(std::max(md5_lanes_width(path), 1)) + 1);
    run_lanes(path, files);
  } catch (const std::bad_alloc&) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.workers_retired;
  }
}

// ---- The calling thread takes the digests ----

bool pipeline::take(const std::string& path, audio_region::read_buffer& buffer, outcome* out) {
  top_up();
  std::unique_lock<std::mutex> lock(mutex_);
  auto pos = std::find_if(window_.begin(), window_.end(),
                          [&](const std::shared_ptr<item>& it) { return it->path == path; });
  if (pos == window_.end()) return false;
  // The walk has passed every file planned before this one: those were not added.
  window_.erase(window_.begin(), pos);
  std::shared_ptr<item> mine = window_.front();
  // Not when workers digest in lanes: they digest the queued files many times faster.
  bool may_help = !lanes_;
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
    // Being hashed by a worker: rather than idle, hash a later file meanwhile.
    std::shared_ptr<item> next = may_help ? first_queued_locked(1) : nullptr;
    if (next && !stop_requested()) {
      if (hash_item(next, buffer, lock)) {
        ++counts_.hashed_helping;
      } else {
        may_help = false;
      }
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
