// Peak memory of one content digest of a large file: md5_hashfile_fast and md5_hashfile,
// each in a child process of its own, against a child that only probes the file (the
// baseline). Usage: bench_digest_memory [MiB] (default 256; the file is sparse, so it takes
// no space on disk).
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "database/mp3_db.h"

namespace {

struct child_run {
  long peak_kib = -1;
  double seconds = 0;
};

// Runs work in a forked child and gives its peak resident memory.
template <typename Work>
child_run in_child(Work work) {
  child_run r;
  fflush(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid < 0) return r;
  if (pid == 0) _exit(work() ? 0 : 1);
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.peak_kib = usage.ru_maxrss;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc > 1 ? atol(argv[1]) : 256;
  if (mib <= 0 || mib >= 2048) {
    fprintf(stderr, "usage: bench_digest_memory [MiB below 2048]\n");
    return 2;
  }
  const std::string path = "/tmp/varnelo-digest-memory-" + std::to_string(getpid()) + ".mp3";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(mib) << 20) != 0) {
    fprintf(stderr, "cannot make %s\n", path.c_str());
    return 1;
  }
  close(fd);

  auto digest_with = [&](unsigned char* (*routine)(const char*)) {
    return [&path, routine] {
      unsigned char* d = routine(path.c_str());
      bool ok = d != nullptr;
      free(d);
      return ok;
    };
  };
  const child_run base = in_child([&] { return getfilesize(path.c_str()) >= 0; });
  const child_run fast = in_child(digest_with(md5_hashfile_fast));
  const child_run streamed = in_child(digest_with(md5_hashfile));
  unlink(path.c_str());
  if (base.peak_kib < 0 || fast.peak_kib < 0 || streamed.peak_kib < 0) {
    fprintf(stderr, "a child failed\n");
    return 1;
  }

  const double file_kib = static_cast<double>(mib) * 1024;
  printf("file: %ld MiB (sparse); peak resident memory of a child process\n", mib);
  printf("%-28s %10s %12s %14s %9s\n", "child", "peak KiB", "above base", "of file size",
         "seconds");
  auto row = [&](const char* name, const child_run& r) {
    const long above = r.peak_kib - base.peak_kib;
    printf("%-28s %10ld %12ld %13.3f%% %9.3f\n", name, r.peak_kib, above,
           100.0 * static_cast<double>(above) / file_kib, r.seconds);
  };
  row("probe only (baseline)", base);
  row("md5_hashfile_fast", fast);
  row("md5_hashfile (2 x 1 MiB)", streamed);
  printf("\nmd5_hashfile_fast above baseline: %.2fx the file size; %.2fx md5_hashfile's\n",
         static_cast<double>(fast.peak_kib - base.peak_kib) / file_kib,
         static_cast<double>(std::max(fast.peak_kib - base.peak_kib, 1L)) /
             static_cast<double>(std::max(streamed.peak_kib - base.peak_kib, 1L)));
  return 0;
}
