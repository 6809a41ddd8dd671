// Looking at many files at once to see whether they can be opened: each is opened and
// closed again inside the kernel, a batch per system call, through io_uring's own file
// table (the descriptors never enter the process's, so no limit or fork sees them).
#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>
#include <new>

#include "platform/platform.h"

#ifdef VARNELO_HAVE_URING
#include <liburing.h>
#endif

namespace platform {

#ifdef VARNELO_HAVE_URING
namespace {

// Files opened per call: each takes a slot of the ring's file table and two entries.
constexpr unsigned kBatchFiles = 32;

// The open that readable_regular_at stands for, on an entry the listing showed regular.
// A link is not followed, so that no device is opened through one put in the file's place
// since the listing (a link is looked at without opening, as before); O_NONBLOCK keeps a
// FIFO put there from holding the batch.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW;

// Under a descriptor limit this low the ring's own descriptor is better left to the walk
// (and the ring's file table counts against the limit too).
constexpr rlim_t kFewestDescriptors = 256;

}  // namespace

// The empty file table needs Linux 5.19, which also knows the direct open and close (5.15):
// where it cannot be registered no ring is used, so a close is never taken for one of the
// process's own descriptors by a kernel that does not know the table.
struct open_checker::ring {
  struct io_uring uring;
  bool live = false;
  ring() {
    struct rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur < kFewestDescriptors) return;
    live = io_uring_queue_init(2 * kBatchFiles, &uring, 0) == 0;
    if (live && io_uring_register_files_sparse(&uring, kBatchFiles) != 0) {
      io_uring_queue_exit(&uring);
      live = false;
    }
  }
  ~ring() {
    if (live) io_uring_queue_exit(&uring);
  }
  ring(const ring&) = delete;
  ring& operator=(const ring&) = delete;
};
#else
struct open_checker::ring {};
#endif

open_checker::open_checker(bool batched) : batched_(batched) {}

open_checker::~open_checker() = default;

void open_checker::check(file* files, size_t count) {
#ifdef VARNELO_HAVE_URING
  if (batched_ && !tried_) {
    tried_ = true;
    // Refused where io_uring is switched off or filtered (containers): then one by one.
    ring_.reset(new (std::nothrow) ring());
    if (ring_ && !ring_->live) ring_.reset();
  }
  size_t done = 0;
  while (ring_ && done < count) {
    const unsigned n = static_cast<unsigned>(std::min<size_t>(kBatchFiles, count - done));
    unsigned queued = 0;
    for (unsigned k = 0; k < n; ++k) {
      file& f = files[done + k];
      f.error = -1;  // not settled by the batch
      if (!f.known_regular || f.name == nullptr) continue;
      // The ring holds two entries per file of a batch, and a batch is drained before the
      // next one: there is always room.
      io_uring_sqe* open = io_uring_get_sqe(&ring_->uring);
      io_uring_sqe* close = io_uring_get_sqe(&ring_->uring);
      io_uring_prep_openat_direct(open, f.folder, f.name, kOpenFlags, 0, k);
      open->flags |= IOSQE_IO_LINK;
      open->user_data = 2 * k;
      io_uring_prep_close_direct(close, k);
      close->user_data = 2 * k + 1;
      queued += 2;
    }
    // Every entry completes, a close whose open failed as cancelled, before the slots are
    // used again.
    unsigned seen = 0;
    while (seen < queued) {
      const int submitted = io_uring_submit_and_wait(&ring_->uring, queued - seen);
      if (submitted < 0 && submitted != -EINTR) {
        // The ring no longer works: what it did not settle is looked at one by one.
        ring_.reset();
        break;
      }
      io_uring_cqe* cqe;
      unsigned head, got = 0;
      io_uring_for_each_cqe(&ring_->uring, head, cqe) {
        if (cqe->user_data % 2 == 0 && cqe->res >= 0) files[done + cqe->user_data / 2].error = 0;
        ++got;
      }
      io_uring_cq_advance(&ring_->uring, got);
      seen += got;
    }
    if (!ring_) break;
    // What the batch could not open is looked at as before: for the error it gives, or
    // through a link, which the batch does not follow.
    for (unsigned k = 0; k < n; ++k) {
      file& f = files[done + k];
      if (f.error != 0) f.error = readable_regular_at(f.folder, f.name, f.known_regular);
    }
    done += n;
  }
  for (size_t i = done; i < count; ++i)
    files[i].error = readable_regular_at(files[i].folder, files[i].name, files[i].known_regular);
#else
  (void)tried_;
  for (size_t i = 0; i < count; ++i)
    files[i].error = readable_regular_at(files[i].folder, files[i].name, files[i].known_regular);
#endif
}

}  // namespace platform
