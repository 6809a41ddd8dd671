// Hashing the upcoming ".mp3" files of a folder walk ahead of it, in worker threads.
// A scout thread lists the tree in the walk's own order; the calling thread passes the
// paths it finds to the workers a few files ahead of the walk (leaving out paths that are
// already listed), and takes each digest back when the walk reaches the file. Workers
// never touch the tables; the calling thread alone decides what is added.
//
// Nothing here may end the process: a thread that cannot be started, or that cannot have
// the memory it needs, leaves its share to the others and to the calling thread, which
// hashes every file no worker did.
#ifndef VARNELO_DATABASE_PREHASH_H_
#define VARNELO_DATABASE_PREHASH_H_

#include <stdint.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "database/audio_region.h"
#include "database/folder_rules.h"
#include "database/walk_stop.h"
#include "digest/md5_lanes.h"
#include "platform/platform.h"

namespace prehash {

// What a hasher found for one file.
struct outcome {
  platform::file_state state;  // the file as it was read
  // False when the file changed while it was read, was changed too shortly before for its
  // timestamps to tell a later change apart, or could not be opened.
  bool trusted = false;
  bool has_digest = false;  // false where md5_hashfile_fast gives null, or the read stopped
  unsigned char digest[16] = {};
};

// Opens and digests path as a worker does; the read gives up once stop is requested.
// Throws std::bad_alloc when buffer cannot have its memory.
outcome hash_file(const char* path, audio_region::read_buffer& buffer,
                  const walk_stop::flag* stop = nullptr);

// What the hashers of one walk did; for tests and benchmarks.
struct counters {
  uint64_t planned = 0;           // ".mp3" files the scout found
  uint64_t skipped_listed = 0;    // planned files not hashed ahead because already listed
  uint64_t hashed_ahead = 0;      // digests computed by worker threads
  uint64_t hashed_helping = 0;    // digests computed ahead by the calling thread meanwhile
  uint64_t used = 0;              // digests computed ahead and taken for an added file
  uint64_t rejected = 0;          // digests computed ahead but refused: the file had changed
  uint64_t hashed_on_caller = 0;  // digests the calling thread computed at add time
  uint64_t workers_retired = 0;   // workers that gave up for want of memory
};

class pipeline {
 public:
  // Starts the scout on root (a folder path without trailing separator) and hashers - 1
  // worker threads; the calling thread is the last hasher. lanes: none for one file at a
  // time per worker, or the md5_lanes_path by which each worker digests several files side
  // by side. Once stop (if given) is requested, the scout plans nothing more and the
  // workers give up what they read and take nothing new.
  pipeline(const std::string& root, int hashers, std::optional<md5_lanes_path> lanes = {},
           const walk_stop::flag* stop = nullptr);
  // Stops and joins every thread; digests not taken are thrown away.
  ~pipeline();
  pipeline(const pipeline&) = delete;
  pipeline& operator=(const pipeline&) = delete;

  // Calling thread: hands planned files to the workers until enough are ahead.
  void top_up();
  // Calling thread: the outcome for path if a hasher computed it. Waits for a file being
  // hashed (hashing further files meanwhile); false when path was not hashed ahead, which
  // also withdraws it from the workers. Files planned before path are given up.
  bool take(const std::string& path, audio_region::read_buffer& buffer, outcome* out);
  // Calling thread: no more hashing ahead for this walk (after the callback said stop).
  void halt();

  // Calling thread: how an add used what was offered.
  void note_used() { ++counts_.used; }
  void note_rejected() { ++counts_.rejected; }
  void note_hashed_on_caller() { ++counts_.hashed_on_caller; }
  counters snapshot();

 private:
  enum class status { queued, running, done };
  struct item {
    std::string path;
    status state = status::queued;
    outcome result;
  };
  class lane_files;

  bool stop_requested() const {
    return stop_ != nullptr && stop_->load(std::memory_order_acquire);
  }
  void scout_main(std::string root);
  bool scout_folder(const std::string& dir, folder_rules::listing& here,
                    const platform::folder_id* parent, folder_rules::folder_guard* guard);
  bool scout_may_go_on();
  bool plan(std::string path);
  void worker_main();
  void lane_worker_main(md5_lanes_path path);
  void run_lanes(md5_lanes_path path, lane_files& files);
  bool wait_for_work(std::unique_lock<std::mutex>& lock);
  std::shared_ptr<item> claim_queued();
  void requeue(const std::shared_ptr<item>& it);
  void finish_item(const std::shared_ptr<item>& it, const outcome& result);
  std::shared_ptr<item> first_queued_locked(size_t from);
  bool hash_item(const std::shared_ptr<item>& it, audio_region::read_buffer& buffer,
                 std::unique_lock<std::mutex>& lock);

  const size_t window_limit_;
  const walk_stop::flag* const stop_;
  std::mutex mutex_;
  std::condition_variable work_ready_;        // workers: a file is queued, or stopping
  std::condition_variable item_done_;         // calling thread: a file has been hashed
  std::condition_variable plan_room_;         // scout: the plan has room, or stopping
  std::deque<std::string> plan_;              // paths found by the scout, in walk order
  std::deque<std::shared_ptr<item>> window_;  // files handed to the hashers, in walk order
  bool lanes_ = false;  // the workers digest in lanes
  bool halted_ = false;
  bool stopping_ = false;
  counters counts_;
  std::thread scout_;
  std::vector<std::thread> workers_;
};

}  // namespace prehash

#endif  // VARNELO_DATABASE_PREHASH_H_
