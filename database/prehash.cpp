// The scout, the reader, the workers and the hand-over of outcomes to the calling thread.
#include "database/prehash.h"

#include <errno.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <new>
#include <system_error>
#include <tuple>

#include "database/lane_hashing.h"
#include "database/tables.h"

namespace prehash {

namespace {

// How many planned paths the scout may keep ahead of the calling thread, and how many it
// hands over at once.
constexpr size_t kPlanLimit = 4096;
constexpr size_t kPlanBatch = 64;
// How many files are handed to the threads at once, at least: a walk through listed files
// then wakes them seldom, with many files to look at each time (a tenth less time for a
// tree of 200,000 listed files than with the few hundred the hashers need).
constexpr size_t kMinWindow = 1024;
// How many listed files a thread looks at in one go: one lock for all, not one each.
constexpr size_t kLookRun = 32;
// How many files dealt with in a row the calling thread takes out of the window at once.
constexpr size_t kTakeRun = 256;
constexpr int64_t kSecondNs = 1'000'000'000;
// How many bytes the reader has the system read ahead of the hashers: enough to keep a
// disk's queue full while they digest, little enough to stay in the cache until used.
constexpr int64_t kReadAheadBytes = int64_t{64} << 20;
// How many files the reader may hold open for the hashers at once (fewer where the
// descriptor limit is low).
constexpr size_t kOpenAheadFiles = 128;
// The reader opens this many files at most before it has them read, in the order of the
// disk; it starts a batch once a quarter of its budget is free again.
constexpr size_t kBatchFiles = 32;
// After this many batches in a row found whole in the system's cache, the reader rests.
constexpr int kWarmBatchesBeforeRest = 2;

// How long a file must have been left alone before its read for any later change to show
// in its timestamps. Within one tick of the clock that stamps them, a second change leaves
// them as they were: a few milliseconds where the filesystem keeps fractions of a second,
// up to two seconds where it keeps whole (or even) seconds.
int64_t settle_ns(const platform::file_state& s) {
  const bool fine = s.mtime_ns % kSecondNs != 0 && s.ctime_ns % kSecondNs != 0;
  return fine ? kSecondNs / 10 : 3 * kSecondNs;
}

int64_t clock_ns(clockid_t clock) {
  struct timespec t;
  clock_gettime(clock, &t);
  return static_cast<int64_t>(t.tv_sec) * kSecondNs + t.tv_nsec;
}

int64_t now_ns() { return clock_ns(CLOCK_REALTIME); }

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

// Descriptors the reader may keep: an eighth of what the process may open.
size_t open_ahead_limit() {
  struct rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
    return kOpenAheadFiles;
  return std::clamp<size_t>(static_cast<size_t>(files.rlim_cur / 8), 1, kOpenAheadFiles);
}

outcome unopened(int error) {
  outcome o;
  o.error = error;
  o.seen_at = steady_ns();
  return o;
}

}  // namespace

int64_t steady_ns() { return clock_ns(CLOCK_MONOTONIC); }

bool opened_file::open(const char* path) {
  started = now_ns();
  fd = platform::open_regular_fd(path, &state);
  return static_cast<bool>(fd);
}

outcome opened_file::digest(audio_region::read_buffer& buffer,
                            const walk_stop::flag* stop) const {
  outcome o;
  o.opened = true;
  o.seen_at = steady_ns();
  o.state = state;
  o.has_digest = audio_region::digest_file(fd.get(), state.size, buffer, o.digest, stop);
  o.trusted = trusted(fd.get(), state, started);
  return o;
}

outcome hash_file(const char* path, audio_region::read_buffer& buffer,
                  const walk_stop::flag* stop) {
  opened_file f;
  if (!f.open(path)) return unopened(errno);
  return f.digest(buffer, stop);
}

pipeline::pipeline(int hashers, std::optional<md5_lanes_path> lanes, const walk_stop::flag* stop,
                   bool look_at_listed)
    : look_at_listed_(look_at_listed), stop_(stop) {
  open_ahead_limit_ = open_ahead_limit();
  window_limit_ = std::max(kMinWindow, static_cast<size_t>(4 + 4 * std::max(hashers, 1)) +
                                          lane_window(hashers, lanes) + open_ahead_limit_);
  lanes_ = hashers > 1 && lanes && md5_lanes_available(*lanes);
  taken_.reserve(kTakeRun);
}

pipeline::pipeline(const std::string& root, int hashers, std::optional<md5_lanes_path> lanes,
                   const walk_stop::flag* stop)
    : pipeline(hashers, lanes, stop, true) {
  start(hashers, lanes, root, nullptr);
}

pipeline::pipeline(std::shared_ptr<const std::vector<std::string>> files, int hashers,
                   std::optional<md5_lanes_path> lanes, const walk_stop::flag* stop)
    : pipeline(hashers, lanes, stop, false) {
  start(hashers, lanes, std::string(), std::move(files));
}

void pipeline::start(int hashers, std::optional<md5_lanes_path> lanes, std::string root,
                     std::shared_ptr<const std::vector<std::string>> files) {
  // A thread that cannot be started leaves its share to the others and the caller.
  const platform::signals_to_starter signals_to_caller;
  try {
    if (!files) {
      scout_ = std::thread(&pipeline::scout_main, this, std::move(root));
    } else {
      scout_ = std::thread(&pipeline::list_main, this, std::move(files));
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reader_running_ = true;
    }
    try {
      reader_ = std::thread(&pipeline::reader_main, this);
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      reader_running_ = false;
      throw;
    }
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
  if (!scout_.joinable()) scout_done();
}

pipeline::~pipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    scout_off_.store(true, std::memory_order_relaxed);
  }
  work_ready_.notify_all();
  plan_room_.notify_all();
  read_room_.notify_all();
  if (scout_.joinable()) scout_.join();
  if (reader_.joinable()) reader_.join();
  for (std::thread& t : workers_) t.join();
}

// ---- The scout ----

void pipeline::scout_main(std::string root) {
  // A scout without memory stops planning; the walk deals with what was not planned itself.
  try {
    folder_rules::folder_guard guard;
    folder_rules::listing top;
    if (folder_rules::enter_chosen(root, &top)) scout_folder(root, top, nullptr, &guard);
  } catch (const std::bad_alloc&) {
  }
  scout_done();
}

void pipeline::list_main(std::shared_ptr<const std::vector<std::string>> files) {
  try {
    found_files found;
    for (const std::string& path : *files) {
      if (!scout_may_go_on()) break;
      found.add(path, {}, false);
      if (found.files.size() == kPlanBatch && !plan(found)) break;
    }
    if (!found.files.empty()) plan(found);
  } catch (const std::bad_alloc&) {
  }
  scout_done();
}

void pipeline::scout_done() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    scout_done_ = true;
  }
  planned_more_.notify_all();
}

bool pipeline::scout_may_go_on() {
  return !stop_requested() && !scout_off_.load(std::memory_order_relaxed);
}

// Lists the tree exactly as the walk will, entering the same folders through the same
// rules, but only notes the ".mp3" files. False once the pipeline is stopping, which is
// looked at in every folder and before every entry, so that a tree with few files to plan
// cannot hold the stop up.
bool pipeline::scout_folder(const std::string& dir, folder_rules::listing& here,
                            const platform::folder_id* parent, folder_rules::folder_guard* guard) {
  if (!guard->enter(here.folder.get(), here.id, parent)) return true;
  // Files are planned a run at a time (and before each descent, to keep the walk's order):
  // a lock taken per file would cost the scout its lead over a walk through listed files.
  found_files found;
  for (const platform::dir_entry& e : here.entries) {
    if (!scout_may_go_on()) return false;
    if (e.is_folder) {
      if (!found.files.empty() && !plan(found)) return false;
      folder_rules::listing below;
      if (folder_rules::enter_at(here.folder.get(), e.name, &below) &&
          !scout_folder(folder_rules::join(dir, e.name), below, &here.id, guard))
        return false;
    } else if (folder_rules::has_mp3_extension(e.name)) {
      found.add(dir, e.name, e.is_regular);
      if (found.files.size() == kPlanBatch && !plan(found)) return false;
    }
  }
  return found.files.empty() || plan(found);
}

// Notes the file name in dir (or, with name empty, the file at path dir).
void pipeline::found_files::add(std::string_view dir, std::string_view name, bool regular) {
  planned p;
  p.path.at = paths.size();
  paths.append(dir);
  if (!name.empty()) {
    paths += platform::kSeparator;
    paths.append(name);
  }
  p.path.length = paths.size() - p.path.at;
  paths += '\0';
  p.regular = regular;
  files.push_back(std::move(p));
}

// Appends found to the plan (emptying it), numbering the files in walk order.
bool pipeline::plan(found_files& found) {
  // The paths go into the block that holds them from now on.
  const auto block = std::make_shared<const std::string>(std::move(found.paths));
  found.paths = std::string();
  for (planned& p : found.files) p.path.block = block;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    plan_room_.wait(lock, [&] { return stopping_ || halted_ || plan_.size() < kPlanLimit; });
    if (stopping_ || halted_) return false;
    for (planned& p : found.files) {
      p.order = static_cast<int64_t>(counts_.planned++);
      plan_.push_back(std::move(p));
    }
    note_sizes_locked();
  }
  found.files.clear();
  planned_more_.notify_all();
  return true;
}

// ---- Handing files to the threads ----

void pipeline::top_up() {
  std::vector<planned> batch;
  std::vector<std::shared_ptr<item>> fresh;
  uint64_t listed = 0;
  bool to_read = false;
  try {
    bool passed = false;
    bool scout_may_plan = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (halted_) return;
      // Files the walk has already passed: planned by a scout that fell behind.
      for (; !plan_.empty() && plan_.front().order < walk_order_; passed = true) plan_.pop_front();
      size_t room = window_limit_ > window_.size() ? window_limit_ - window_.size() : 0;
      // Whole batches only: a walk that takes one file at a time would otherwise wake the
      // threads once per file.
      if (room >= std::min<size_t>(window_limit_ / 4, plan_.size())) {
        while (batch.size() < room && !plan_.empty()) {
          batch.push_back(std::move(plan_.front()));
          plan_.pop_front();
        }
      }
      note_sizes_locked();
      scout_may_plan = passed || !batch.empty();
    }
    if (scout_may_plan) plan_room_.notify_one();
    if (batch.empty()) return;
    // The tables belong to this thread, so the lookup is made outside the lock. What it
    // found holds when the walk reaches the file unless a path was dropped meanwhile.
    const uint64_t mark = tables::paths_dropped();
    std::vector<int32_t> found(batch.size(), -1);
    if (look_at_listed_) {
      std::vector<const char*> paths(batch.size());
      for (size_t i = 0; i < batch.size(); ++i) paths[i] = batch[i].path.c_str();
      tables::find_files(paths.data(), paths.size(), found.data());
    }
    for (size_t i = 0; i < batch.size(); ++i) {
      planned& p = batch[i];
      auto it = std::make_shared<item>();
      it->look_only = found[i] != -1;
      it->listed_mark = mark;
      listed += it->look_only ? 1 : 0;
      to_read = to_read || !it->look_only;
      it->regular = p.regular;
      it->order = p.order;
      it->path = std::move(p.path);
      fresh.push_back(std::move(it));
    }
  } catch (const std::bad_alloc&) {
    // Without memory to plan ahead the walk goes on on this thread alone.
    halt();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    counts_.skipped_listed += listed;
    if (halted_) return;
    for (auto& it : fresh) window_.push_back(std::move(it));
    note_sizes_locked();
  }
  work_ready_.notify_all();
  if (to_read) read_room_.notify_one();
}

// Whether a thread may take the item now. Files to digest wait for the reader while it
// runs, so that no hasher reads a file the reader has not yet put in the disk's order.
bool pipeline::claimable(const item& it) const {
  return it.state == status::queued && (it.look_only || it.advised || !reader_running_);
}

// The window's position from which queued files may be found: none lies before it. The
// files before it are being dealt with or done, and are passed over once, not at every
// look for work (the window holds a thousand files and more).
size_t pipeline::queued_start_locked() {
  auto at = std::partition_point(window_.begin(), window_.end(), [&](const auto& it) {
    return it->order < queued_from_;
  });
  while (at != window_.end() && (*at)->state != status::queued) ++at;
  if (at != window_.end()) {
    queued_from_ = (*at)->order;
  } else if (!window_.empty()) {
    queued_from_ = window_.back()->order + 1;
  }
  return static_cast<size_t>(at - window_.begin());
}

// A file is queued again: searches for work start from it.
void pipeline::queued_again_locked(item& it) {
  it.state = status::queued;
  queued_from_ = std::min(queued_from_, it.order);
}

size_t pipeline::first_claimable_locked(size_t from) {
  size_t i = std::max(from, queued_start_locked());
  while (i < window_.size() && !claimable(*window_[i])) ++i;
  return i;
}

// Keeps window_low_ telling whether top_up has files to move.
void pipeline::note_sizes_locked() {
  const size_t room = window_limit_ > window_.size() ? window_limit_ - window_.size() : 0;
  window_low_.store(!plan_.empty() && room >= std::min<size_t>(window_limit_ / 4, plan_.size()),
                    std::memory_order_relaxed);
}

// Marks the item taken, handing over the file the reader opened for it, if any.
void pipeline::claim_locked(item& it, opened_file* file) {
  it.state = status::running;
  if (it.file.fd) {
    --open_ahead_;
    *file = std::move(it.file);
    it.file = opened_file();
    read_room_.notify_one();
  }
}

// Looks at the listed files that can be taken from window position from on, up to
// kLookRun of them in a row, with the lock released meanwhile.
void pipeline::look_at_run_locked(size_t from, look_folder& folder,
                                  std::unique_lock<std::mutex>& lock) {
  // The vectors' memory is had before any file is marked as being looked at.
  std::vector<std::shared_ptr<item>> run;
  std::vector<outcome> found(kLookRun);
  // The files of one folder are looked at together, through the folder kept open.
  std::vector<platform::open_checker::file> batch;
  std::vector<size_t> batched;
  run.reserve(kLookRun);
  batch.reserve(kLookRun);
  batched.reserve(kLookRun);
  for (size_t i = from; i < window_.size() && run.size() < kLookRun; ++i) {
    item& it = *window_[i];
    if (!it.look_only) break;
    if (!claimable(it)) continue;
    it.state = status::running;
    run.push_back(window_[i]);
  }
  lock.unlock();
  const auto check_batch = [&] {
    folder.checker.check(batch.data(), batch.size());
    const int64_t now = steady_ns();
    for (size_t k = 0; k < batch.size(); ++k) {
      outcome& o = found[batched[k]];
      o.opened = batch[k].error == 0;
      o.error = batch[k].error;
      o.seen_at = now;
    }
    batch.clear();
    batched.clear();
  };
  for (size_t i = 0; i < run.size(); ++i) {
    const std::string_view path = run[i]->path.view();
    const size_t cut = path.rfind(platform::kSeparator);
    if (cut == std::string::npos || cut == 0) {
      found[i] = look_at(*run[i]);
      continue;
    }
    if (!folder.fd || path.substr(0, cut) != folder.dir) {
      check_batch();
      folder.fd = platform::unique_fd();
      // The files are marked as being looked at: without memory for the folder's name they
      // are looked at one by one.
      try {
        folder.dir.assign(path.substr(0, cut));
        folder.fd = platform::open_folder(folder.dir.c_str());
      } catch (const std::bad_alloc&) {
        folder.dir.clear();
      }
    }
    if (!folder.fd) {
      found[i] = look_at(*run[i]);
      continue;
    }
    batch.push_back({folder.fd.get(), path.data() + cut + 1, run[i]->regular, 0});
    batched.push_back(i);
  }
  check_batch();
  lock.lock();
  for (size_t i = 0; i < run.size(); ++i) finish_locked(*run[i], found[i]);
  counts_.looked_at += run.size();
}

// Claims the first file to digest that can be taken, looking at the listed files met on
// the way. Null when there is none (with wait, once the pipeline is stopping).
std::shared_ptr<pipeline::item> pipeline::claim_to_digest(opened_file* file, look_folder& folder,
                                                          bool wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (wait ? !wait_for_work(lock) : stopping_ || stop_requested()) return nullptr;
    const size_t i = first_claimable_locked(0);
    if (i == window_.size()) return nullptr;
    std::shared_ptr<item> it = window_[i];
    if (!it->look_only) {
      claim_locked(*it, file);
      return it;
    }
    look_at_run_locked(i, folder, lock);
  }
}

// What the reader holds for an item is given up.
void pipeline::forget_locked(item& it) {
  // Only a change of the reader's budget wakes it: a walk through listed files must not.
  const bool freed = it.ahead_bytes != 0 || it.file.fd;
  bytes_ahead_ -= it.ahead_bytes;
  it.ahead_bytes = 0;
  if (it.file.fd) {
    --open_ahead_;
    it.file = opened_file();
  }
  if (freed) read_room_.notify_one();
}

// The item leaves the window.
void pipeline::drop_locked(const std::shared_ptr<item>& it) {
  it->gone = true;
  forget_locked(*it);
}

// A file a hasher took but could not digest goes back for another hasher or the caller,
// which open it themselves.
void pipeline::requeue(const std::shared_ptr<item>& it) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_again_locked(*it);
    it->advised = true;
  }
  item_done_.notify_all();
  work_ready_.notify_all();
}

void pipeline::finish_locked(item& it, const outcome& result) {
  it.result = result;
  it.state = status::done;
  forget_locked(it);
  // Only the file the calling thread waits for wakes it: lanes finish files in any order,
  // and waking it for each would cost a switch of threads per file.
  if (&it == awaited_) item_done_.notify_all();
}

void pipeline::finish_item(const std::shared_ptr<item>& it, const outcome& result) {
  std::lock_guard<std::mutex> lock(mutex_);
  finish_locked(*it, result);
  if (it->look_only) {
    ++counts_.looked_at;
  } else {
    ++counts_.hashed_ahead;
  }
}

outcome pipeline::look_at(const item& it) const {
  const int error = platform::readable_regular(it.path.c_str(), it.regular);
  outcome o;
  o.opened = error == 0;
  o.error = error;
  o.seen_at = steady_ns();
  return o;
}

// Digests a claimable item with the lock released; the item may leave the window
// meanwhile, and its outcome is then simply dropped with it. False, with the item queued
// again, when the buffer could not have its memory.
bool pipeline::process_item(const std::shared_ptr<item>& it, audio_region::read_buffer& buffer,
                            std::unique_lock<std::mutex>& lock) {
  opened_file file;
  claim_locked(*it, &file);
  lock.unlock();
  outcome result;
  bool done = true;
  try {
    if (file.fd || file.open(it->path.c_str())) {
      result = file.digest(buffer, stop_);
    } else {
      result = unopened(errno);
    }
  } catch (const std::bad_alloc&) {
    done = false;
  }
  lock.lock();
  if (done) {
    finish_locked(*it, result);
  } else {
    queued_again_locked(*it);
    it->advised = true;
    item_done_.notify_all();
    work_ready_.notify_all();
  }
  return done;
}

// ---- The reader ----

// Room for a batch: a quarter of the budget free, or nothing ahead at all (a file larger
// than the budget, or a descriptor limit too low for a quarter batch).
bool pipeline::may_read_ahead_locked() {
  if (open_ahead_ == 0 && bytes_ahead_ <= 0) return true;
  return open_ahead_ + kBatchFiles / 4 <= open_ahead_limit_ &&
         bytes_ahead_ <= kReadAheadBytes - kReadAheadBytes / 4;
}

std::shared_ptr<pipeline::item> pipeline::next_to_read_ahead_locked() {
  for (size_t i = queued_start_locked(); i < window_.size(); ++i) {
    const std::shared_ptr<item>& it = window_[i];
    if (!it->look_only && !it->advised && it->state == status::queued) return it;
  }
  return nullptr;
}

// Opens the next files to digest a batch at a time, has the system read each whole (the
// tag probes look at both ends, the digest at what lies between) in the order the files
// lie on the disk, and hands them to the hashers open.
void pipeline::reader_main() {
  try {
    std::vector<read_ahead_file> batch;
    int warm_batches = 0;  // batches in a row found whole in the cache
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      read_room_.wait(lock, [&] {
        return stopping_ || (!halted_ && !stop_requested() && may_read_ahead_locked() &&
                             next_to_read_ahead_locked() != nullptr);
      });
      if (stopping_) break;
      batch.clear();
      int64_t bytes = 0;
      while (batch.size() < kBatchFiles && open_ahead_ + batch.size() < open_ahead_limit_ &&
             bytes_ahead_ + bytes < kReadAheadBytes && !stop_requested()) {
        std::shared_ptr<item> it = next_to_read_ahead_locked();
        if (!it) break;
        it->state = status::advising;
        it->advised = true;
        batch.push_back({it, opened_file(), 0, -1});
        lock.unlock();
        read_ahead_file& f = batch.back();
        if (f.file.open(it->path.c_str())) {
          bytes += f.file.state.size;
        } else {
          f.error = errno;
        }
        lock.lock();
      }
      lock.unlock();
      const bool cached = std::all_of(batch.begin(), batch.end(), [](const read_ahead_file& f) {
        return !f.file.fd || platform::in_cache(f.file.fd.get(), f.file.state.size);
      });
      if (!cached) read_in_disk_order(batch);
      lock.lock();
      release_batch_locked(batch);
      warm_batches = cached ? warm_batches + 1 : 0;
      if (warm_batches == kWarmBatchesBeforeRest) {
        rest_while_cached(lock);
        warm_batches = 0;
      }
    }
  } catch (const std::bad_alloc&) {
  }
  // From now on the hashers open the files themselves.
  std::lock_guard<std::mutex> lock(mutex_);
  reader_running_ = false;
  for (const std::shared_ptr<item>& it : window_)
    if (it->state == status::advising) queued_again_locked(*it);
  work_ready_.notify_all();
  item_done_.notify_all();
}

// Has the system read the batch's files, in the order they lie on the disk.
void pipeline::read_in_disk_order(std::vector<read_ahead_file>& batch) {
  for (read_ahead_file& f : batch)
    if (f.file.fd) f.place = platform::physical_offset(f.file.fd.get());
  // Files whose place is unknown go by their inode, which on most file systems follows
  // the order they were written in, as their data does.
  std::stable_sort(batch.begin(), batch.end(), [](const read_ahead_file& a,
                                                  const read_ahead_file& b) {
    return std::make_tuple(a.file.state.device, a.place, a.file.state.inode) <
           std::make_tuple(b.file.state.device, b.place, b.file.state.inode);
  });
  for (read_ahead_file& f : batch)
    if (f.file.fd) platform::read_ahead(f.file.fd.get(), 0, f.file.state.size);
}

// While the files are in the system's cache already there is nothing to read ahead, and
// passing them through the reader only delays the hashers: it steps aside, they open the
// files themselves, and whenever files to digest join the queue it looks whether the
// furthest one is still in the cache. Returns once one is not (the reader goes on as
// before), or when stopping.
void pipeline::rest_while_cached(std::unique_lock<std::mutex>& lock) {
  reader_running_ = false;
  work_ready_.notify_all();
  item_done_.notify_all();
  for (;;) {
    if (stopping_) return;
    read_room_.wait(lock);
    if (stopping_) return;
    auto last = std::find_if(window_.rbegin(), window_.rend(), [](const auto& it) {
      return !it->look_only && it->state == status::queued;
    });
    if (last == window_.rend()) continue;
    const std::string path((*last)->path.view());
    lock.unlock();
    bool cold;
    {
      opened_file probe;
      cold = probe.open(path.c_str()) && !platform::in_cache(probe.fd.get(), probe.state.size);
    }
    lock.lock();
    if (cold) {
      reader_running_ = true;
      return;
    }
  }
}

void pipeline::release_batch_locked(std::vector<read_ahead_file>& batch) {
  for (read_ahead_file& f : batch) {
    item& it = *f.it;
    if (it.gone) continue;  // given up meanwhile: its file closes with the batch
    ++counts_.read_ahead;
    if (!f.file.fd) {
      finish_locked(it, unopened(f.error));
      continue;
    }
    queued_again_locked(it);
    it.ahead_bytes = f.file.state.size;
    bytes_ahead_ += it.ahead_bytes;
    ++open_ahead_;
    it.file = std::move(f.file);
  }
  batch.clear();
  work_ready_.notify_all();
  item_done_.notify_all();
}

// ---- Workers ----

// Waits until a file can be taken (false once the pipeline is stopping). After a stop
// request the queued files are left alone: the walk adds none of them.
bool pipeline::wait_for_work(std::unique_lock<std::mutex>& lock) {
  work_ready_.wait(lock, [&] {
    return stopping_ || (!stop_requested() && first_claimable_locked(0) < window_.size());
  });
  return !stopping_;
}

void pipeline::worker_main() {
  audio_region::read_buffer buffer;
  look_folder folder;
  for (;;) {
    opened_file file;
    std::shared_ptr<item> it;
    try {
      it = claim_to_digest(&file, folder, true);
    } catch (const std::bad_alloc&) {
      // Without memory to look at listed files the worker retires too; nothing was claimed.
      std::lock_guard<std::mutex> lock(mutex_);
      ++counts_.workers_retired;
      return;
    }
    if (!it) return;
    outcome result;
    try {
      result = file.fd || file.open(it->path.c_str()) ? file.digest(buffer, stop_)
                                                     : unopened(errno);
    } catch (const std::bad_alloc&) {
      // A worker whose buffer cannot be had retires; its file goes back to the queue.
      requeue(it);
      std::lock_guard<std::mutex> lock(mutex_);
      ++counts_.workers_retired;
      return;
    }
    finish_item(it, result);
  }
}

// The files a lane worker has open, one slot per lane and one more: a file is opened while
// the lane it goes to is still freeing. Each lane that finishes a file takes the first
// claimable one, so files are still taken in walk order; listed files met on the way are
// looked at at once.
class pipeline::lane_files {
 public:
  lane_files(pipeline& owner, size_t slots) : owner_(owner), open_(slots) {}
  // Any file still open (a run that failed halfway) goes back to the queue.
  ~lane_files() {
    for (open_slot& f : open_)
      if (f.it) owner_.requeue(f.it);
  }

  // The lanes' next_fn: claims the first claimable file and opens it. A file that cannot
  // be opened is done at once, with nothing trusted, so the walk looks at it itself.
  bool next(size_t* tag, lane_hashing::region_job* job) {
    for (;;) {
      auto slot = std::find_if(open_.begin(), open_.end(), [](const open_slot& f) { return !f.it; });
      std::shared_ptr<item> it = owner_.claim_to_digest(&slot->file, folder_, false);
      if (!it) return false;
      if (!slot->file.fd && !slot->file.open(it->path.c_str())) {
        owner_.finish_item(it, unopened(errno));
        continue;
      }
      slot->it = std::move(it);
      *tag = static_cast<size_t>(slot - open_.begin());
      job->fd = slot->file.fd.get();
      job->size = slot->file.state.size;
      return true;
    }
  }

  // The lanes' done_fn.
  void done(size_t tag, bool has_digest, const unsigned char* digest) {
    open_slot& f = open_[tag];
    outcome o;
    o.opened = true;
    o.seen_at = steady_ns();
    o.state = f.file.state;
    o.has_digest = has_digest;
    if (has_digest) std::copy(digest, digest + 16, o.digest);
    o.trusted = trusted(f.file.fd.get(), f.file.state, f.file.started);
    f.file = opened_file();
    owner_.finish_item(f.it, o);
    f.it.reset();
  }

 private:
  struct open_slot {
    std::shared_ptr<item> it;
    opened_file file;
  };
  pipeline& owner_;
  std::vector<open_slot> open_;
  look_folder folder_;
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

// ---- The calling thread takes the outcomes ----

void pipeline::hand_out(const item& it, outcome* out) {
  *out = it.result;
  out->listed = it.look_only;
  out->listed_mark = it.listed_mark;
}

// Moves the files dealt with at the window's head into taken_: a walk through listed files
// then takes the lock once for a run of them, not once for each.
// Its memory is had in advance: moving them allocates nothing.
void pipeline::take_done_locked() {
  if (taken_next_ < taken_.size()) return;
  taken_.clear();
  taken_next_ = 0;
  while (taken_.size() < kTakeRun && !window_.empty() && window_.front()->state == status::done) {
    taken_.push_back(std::move(window_.front()));
    window_.pop_front();
  }
}

bool pipeline::take(std::string_view path, audio_region::read_buffer& buffer, outcome* out,
                    int64_t order) {
  top_up_if_low();
  // The files taken out of the window together come first, as the window's would.
  while (taken_next_ < taken_.size()) {
    std::shared_ptr<item>& next = taken_[taken_next_];
    if (next->path.view() == path) {
      hand_out(*next, out);
      next.reset();
      ++taken_next_;
      return true;
    }
    if (order < 0) break;
    // Planned under this number or later, and yet not this path: see below.
    if (next->order >= order) return false;
    next.reset();  // passed by the walk
    ++taken_next_;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (order > walk_order_) walk_order_ = order;
  auto pos = std::find_if(window_.begin(), window_.end(),
                          [&](const std::shared_ptr<item>& it) { return it->path.view() == path; });
  // The walk passed the files taken out before this one.
  if (pos != window_.end()) {
    for (; taken_next_ < taken_.size(); ++taken_next_) taken_[taken_next_].reset();
  }
  while (pos == window_.end()) {
    if (order < 0 || halted_ || stopping_ || stop_requested()) return false;
    // Every file planned before this one was passed by the walk.
    std::erase_if(window_, [&](const std::shared_ptr<item>& it) {
      if (it->order >= order) return false;
      drop_locked(it);
      return true;
    });
    note_sizes_locked();
    // Planned under this number or later, and yet not this path: the walk met a file the
    // scout did not (made after the scout listed its folder, say), and deals with it itself.
    if (!window_.empty()) return false;
    if (plan_.empty()) {
      // A scout behind the walk is waited for: it lists faster than the walk can open files
      // itself, and soon plans ahead again.
      if (scout_done_) return false;
      planned_more_.wait(lock, [&] {
        return scout_done_ || halted_ || stopping_ || stop_requested() || !plan_.empty();
      });
    } else {
      // Files planned before this one are passed over as they are moved.
      lock.unlock();
      top_up();
      lock.lock();
    }
    pos = std::find_if(window_.begin(), window_.end(),
                       [&](const std::shared_ptr<item>& it) { return it->path.view() == path; });
  }
  // The walk has passed every file planned before this one: those were not added.
  for (auto it = window_.begin(); it != pos; ++it) drop_locked(*it);
  window_.erase(window_.begin(), pos);
  std::shared_ptr<item> mine = window_.front();
  // Whatever comes of it, the walk is past it.
  struct leave_window {
    pipeline& p;
    ~leave_window() { p.note_sizes_locked(); }
  } on_return{*this};
  // Not when workers digest in lanes: they digest the queued files many times faster.
  bool may_help = !lanes_;
  for (;;) {
    if (mine->state == status::done) {
      hand_out(*mine, out);
      window_.pop_front();
      take_done_locked();
      return true;
    }
    if (mine->state == status::queued && mine->look_only) {
      // Looking costs less than waiting for a thread to take it.
      look_at_run_locked(0, walk_folder_, lock);
      continue;
    }
    if (mine->state == status::queued) {
      drop_locked(mine);
      window_.pop_front();
      return false;
    }
    // Being dealt with by another thread: rather than idle, take a later file meanwhile
    // (listed ones always: a look is quicker than being woken).
    const size_t at = first_claimable_locked(1);
    std::shared_ptr<item> next = at < window_.size() ? window_[at] : nullptr;
    if (next && !next->look_only && !may_help) next = nullptr;
    if (next && !stop_requested()) {
      if (next->look_only) {
        look_at_run_locked(at, walk_folder_, lock);
      } else if (process_item(next, buffer, lock)) {
        ++counts_.hashed_helping;
      } else {
        may_help = false;
      }
    } else {
      awaited_ = mine.get();
      item_done_.wait(lock);
      awaited_ = nullptr;
    }
  }
}

void pipeline::halt() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    halted_ = true;
    scout_off_.store(true, std::memory_order_relaxed);
    plan_.clear();
    // Files being dealt with finish and are dropped; queued ones are never started.
    std::erase_if(window_, [&](const std::shared_ptr<item>& it) {
      if (it->state != status::queued && it->state != status::advising) return false;
      drop_locked(it);
      return true;
    });
    note_sizes_locked();
  }
  plan_room_.notify_all();
  read_room_.notify_all();
}

counters pipeline::snapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_;
}

}  // namespace prehash
