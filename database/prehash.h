// Reading the upcoming ".mp3" files of a folder walk ahead of it, in threads of their own.
// A scout thread lists the tree in the walk's own order; the calling thread passes the
// paths it finds on a little ahead of the walk. A file not yet listed in the tables goes to
// the hashers, which digest it; a listed one is only looked at to see that it can still be
// opened, which is all the walk needs of it. A reader thread asks the system to bring the
// next files to be digested into its cache, a bounded number of bytes ahead and in the
// order of the disk, so that the disk never waits for the hashers. The calling thread takes
// each outcome back when the walk reaches the file. Workers never touch the tables; the
// calling thread alone decides what is added.
//
// The same machinery reads a given list of files through (every one digested), for
// checking listed files against their content.
//
// Nothing here may end the process: a thread that cannot be started, or that cannot have
// the memory it needs, leaves its share to the others and to the calling thread, which
// does itself whatever no other thread did.
#ifndef VARNELO_DATABASE_PREHASH_H_
#define VARNELO_DATABASE_PREHASH_H_

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "database/audio_region.h"
#include "database/folder_rules.h"
#include "database/walk_stop.h"
#include "digest/md5_lanes.h"
#include "platform/platform.h"

namespace prehash {

// What a hasher found for one file, or what a look at a listed file found.
struct outcome {
  bool opened = false;         // it could be opened (or, looked at only, it could be)
  int error = 0;               // errno when it could not
  int64_t seen_at = 0;         // steady clock, ns: when that was found
  platform::file_state state;  // the file as it was read (digested files only)
  // False when the file changed while it was read, was changed too shortly before for its
  // timestamps to tell a later change apart, or was only looked at.
  bool trusted = false;
  bool has_digest = false;  // false where md5_hashfile_fast gives null, or the read stopped
  unsigned char digest[16] = {};
  // The path was listed in the tables when it was planned (and so only looked at), while
  // tables::paths_dropped() was listed_mark: it still is while that count is the same.
  bool listed = false;
  uint64_t listed_mark = 0;
};

// The steady clock in nanoseconds, as outcome::seen_at counts it.
int64_t steady_ns();

// Opens and digests path as a worker does; the read gives up once stop is requested.
// Throws std::bad_alloc when buffer cannot have its memory.
outcome hash_file(const char* path, audio_region::read_buffer& buffer,
                  const walk_stop::flag* stop = nullptr);

// A file opened for digesting, by the reader ahead of time or by the hasher itself.
struct opened_file {
  platform::unique_fd fd;
  platform::file_state state;
  int64_t started = 0;  // realtime ns: when it was opened

  // False (errno set) when path cannot be opened as a regular file.
  bool open(const char* path);
  // Digests it as hash_file does. Throws std::bad_alloc when buffer cannot have its memory.
  outcome digest(audio_region::read_buffer& buffer, const walk_stop::flag* stop) const;
};

// What the threads of one pipeline did; for tests and benchmarks.
struct counters {
  uint64_t planned = 0;           // ".mp3" files the scout found
  uint64_t skipped_listed = 0;    // planned files only looked at because already listed
  uint64_t looked_at = 0;         // listed files a thread other than the caller looked at
  uint64_t read_ahead = 0;        // files the reader had the system read ahead
  uint64_t hashed_ahead = 0;      // digests computed by worker threads
  uint64_t hashed_helping = 0;    // digests computed ahead by the calling thread meanwhile
  uint64_t used = 0;              // digests computed ahead and taken for an added file
  uint64_t rejected = 0;          // digests computed ahead but refused: the file had changed
  uint64_t hashed_on_caller = 0;  // digests the calling thread computed at add time
  uint64_t workers_retired = 0;   // workers that gave up for want of memory
};

class pipeline {
 public:
  // Starts the scout on root (a folder path without trailing separator), the reader, and
  // hashers - 1 worker threads; the calling thread is the last hasher. lanes: none for one
  // file at a time per worker, or the md5_lanes_path by which each worker digests several
  // files side by side. Once stop (if given) is requested, the scout plans nothing more and
  // the workers give up what they read and take nothing new.
  pipeline(const std::string& root, int hashers, std::optional<md5_lanes_path> lanes = {},
           const walk_stop::flag* stop = nullptr);
  // The same for a list of files, in its order, each of them digested whether listed in
  // the tables or not; take's order is then the index in files.
  pipeline(std::shared_ptr<const std::vector<std::string>> files, int hashers,
           std::optional<md5_lanes_path> lanes = {}, const walk_stop::flag* stop = nullptr);
  // Stops and joins every thread; outcomes not taken are thrown away.
  ~pipeline();
  pipeline(const pipeline&) = delete;
  pipeline& operator=(const pipeline&) = delete;

  // Calling thread: hands planned files to the threads until enough are ahead.
  void top_up();
  // top_up when it may have something to do: cheap enough to call after every entry.
  void top_up_if_low() {
    if (window_low_.load(std::memory_order_relaxed)) top_up();
  }
  // Calling thread: the outcome for path if another thread dealt with it. Waits for a file
  // being dealt with (hashing further files meanwhile); looks at a listed file itself when
  // no other thread has yet. False when path was not planned, or was to be digested and no
  // thread has begun, which also withdraws it. Files planned before path are given up.
  // order, when not negative, is how many ".mp3" files (folders not counted) the walk met
  // before path: a scout that fell behind the walk is waited for, and files the walk has
  // passed are given up even when path itself was never planned.
  bool take(std::string_view path, audio_region::read_buffer& buffer, outcome* out,
            int64_t order = -1);
  // Calling thread: no more reading ahead for this walk (after the callback said stop).
  void halt();

  // Calling thread: how an add used what was offered.
  void note_used() { ++counts_.used; }
  void note_rejected() { ++counts_.rejected; }
  void note_hashed_on_caller() { ++counts_.hashed_on_caller; }
  counters snapshot();

 private:
  enum class status { queued, advising, running, done };
  // A planned path, kept with the others planned with it in one string (each followed by a
  // NUL): a walk through many files then costs no allocation for each of them.
  struct path_ref {
    std::shared_ptr<const std::string> block;
    size_t at = 0;
    size_t length = 0;
    const char* c_str() const { return block->data() + at; }
    std::string_view view() const { return {c_str(), length}; }
  };
  struct planned {
    path_ref path;
    bool regular = false;  // the scout's listing showed a regular file
    int64_t order = 0;     // how many files were planned before it
  };
  // Files found and not yet planned: their paths, and the string that will hold them.
  struct found_files {
    std::string paths;
    std::vector<planned> files;
    void add(std::string_view dir, std::string_view name, bool regular);
  };
  struct item {
    path_ref path;
    int64_t order = 0;
    bool look_only = false;  // listed: only whether it can be opened is wanted
    uint64_t listed_mark = 0;  // tables::paths_dropped() when it was found listed
    bool regular = false;
    status state = status::queued;
    bool advised = false;  // the reader has been at it (whatever it found)
    bool gone = false;     // left the window: whatever is found is thrown away
    opened_file file;      // opened and read ahead by the reader, for the hasher that takes it
    int64_t ahead_bytes = 0;  // counted in bytes_ahead_ until the file is dealt with
    outcome result;
  };
  struct read_ahead_file {
    std::shared_ptr<item> it;
    opened_file file;
    int error = 0;
    int64_t place = -1;  // where it lies on its device, -1 when unknown
  };
  class lane_files;
  // The folder a thread last looked at listed files in, kept open for its next run (a
  // folder holds many runs' worth of files), and the thread's way of looking at them.
  struct look_folder {
    std::string dir;
    platform::unique_fd fd;
    platform::open_checker checker;
  };

  pipeline(int hashers, std::optional<md5_lanes_path> lanes, const walk_stop::flag* stop,
           bool look_at_listed);
  void start(int hashers, std::optional<md5_lanes_path> lanes, std::string root,
             std::shared_ptr<const std::vector<std::string>> files);
  outcome look_at(const item& it) const;
  bool stop_requested() const {
    return stop_ != nullptr && stop_->load(std::memory_order_acquire);
  }
  void scout_main(std::string root);
  void list_main(std::shared_ptr<const std::vector<std::string>> files);
  bool scout_folder(const std::string& dir, folder_rules::listing& here,
                    const platform::folder_id* parent, folder_rules::folder_guard* guard);
  bool scout_may_go_on();
  bool plan(found_files& found);
  void scout_done();
  void reader_main();
  bool may_read_ahead_locked();
  std::shared_ptr<item> next_to_read_ahead_locked();
  void release_batch_locked(std::vector<read_ahead_file>& batch);
  static void read_in_disk_order(std::vector<read_ahead_file>& batch);
  void rest_while_cached(std::unique_lock<std::mutex>& lock);
  void worker_main();
  void lane_worker_main(md5_lanes_path path);
  void run_lanes(md5_lanes_path path, lane_files& files);
  bool wait_for_work(std::unique_lock<std::mutex>& lock);
  bool claimable(const item& it) const;
  size_t queued_start_locked();
  void queued_again_locked(item& it);
  size_t first_claimable_locked(size_t from);
  std::shared_ptr<item> claim_to_digest(opened_file* file, look_folder& folder, bool wait);
  void look_at_run_locked(size_t from, look_folder& folder, std::unique_lock<std::mutex>& lock);
  void claim_locked(item& it, opened_file* file);
  void note_sizes_locked();
  void requeue(const std::shared_ptr<item>& it);
  void finish_item(const std::shared_ptr<item>& it, const outcome& result);
  void finish_locked(item& it, const outcome& result);
  void forget_locked(item& it);
  void drop_locked(const std::shared_ptr<item>& it);
  bool process_item(const std::shared_ptr<item>& it, audio_region::read_buffer& buffer,
                    std::unique_lock<std::mutex>& lock);
  static void hand_out(const item& it, outcome* out);
  void take_done_locked();

  const bool look_at_listed_;  // a walk's pipeline: listed files are looked at, not read
  size_t window_limit_ = 0;
  size_t open_ahead_limit_ = 0;
  const walk_stop::flag* const stop_;
  std::mutex mutex_;
  std::condition_variable work_ready_;        // workers: a file is queued, or stopping
  std::condition_variable item_done_;         // calling thread: a file has been dealt with
  std::condition_variable plan_room_;         // scout: the plan has room, or stopping
  std::condition_variable read_room_;         // reader: files to read ahead, or stopping
  std::condition_variable planned_more_;      // calling thread: the scout planned, or ended
  std::deque<planned> plan_;                  // paths found by the scout, in walk order
  std::deque<std::shared_ptr<item>> window_;  // files handed to the threads, in walk order
  int64_t bytes_ahead_ = 0;  // read ahead and not yet digested
  size_t open_ahead_ = 0;    // files the reader holds open for the hashers
  bool reader_running_ = false;  // files to digest wait for the reader (not while it rests)
  bool scout_done_ = false;      // the scout has planned all it will
  look_folder walk_folder_;  // the calling thread's
  // Files dealt with that the calling thread took out of the window together, under one
  // lock, for the walk to meet next: from taken_next_ on they are the window's head (the
  // calling thread's).
  std::vector<std::shared_ptr<item>> taken_;
  size_t taken_next_ = 0;
  const item* awaited_ = nullptr;  // the file the calling thread waits for, if it does
  int64_t queued_from_ = 0;  // no file in the window planned before this one is queued
  int64_t walk_order_ = 0;       // how many files the walk has passed: planned ones before are stale
  std::atomic<bool> window_low_{true};  // top_up would move files: room and a plan
  bool lanes_ = false;       // the workers digest in lanes
  bool halted_ = false;
  bool stopping_ = false;
  // Set with either of the two above, for the scout to look at before every entry unlocked.
  std::atomic<bool> scout_off_{false};
  counters counts_;
  std::thread scout_;
  std::thread reader_;
  std::vector<std::thread> workers_;
};

}  // namespace prehash

#endif  // VARNELO_DATABASE_PREHASH_H_
