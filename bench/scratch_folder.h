// The scratch folder of a benchmark program: removed when the program ends,
// however it ends. At a normal exit the program removes it; a watcher
// process, which waits for the end of a pipe that only the program holds,
// removes it after a signal (Ctrl-C, SIGTERM, even SIGKILL) or a crash.
#ifndef QUILBO_BENCH_SCRATCH_FOLDER_H_
#define QUILBO_BENCH_SCRATCH_FOLDER_H_

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace quilbo_bench {

namespace scratch_detail {

inline std::filesystem::path& Path() {
  static std::filesystem::path path;
  return path;
}

inline void Remove() {
  std::error_code ignored;
  std::filesystem::remove_all(Path(), ignored);
}

// Forks the watcher: it ignores the signals that end the program, holds no
// terminal or pipe of the program's, and removes the folder once the
// program's end of the pipe is closed, which happens only when it ends.
inline void StartWatcher() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return;
  const pid_t child = fork();
  if (child == 0) {
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
      signal(number, SIG_IGN);
    close(ends[1]);
    const int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
    char byte;
    while (read(ends[0], &byte, 1) != 0) {
    }
    Remove();
    _exit(0);
  }
  close(ends[0]);  // the write end stays open until the program ends
}

}  // namespace scratch_detail

// A new folder under the temporary folder, made on first use.
inline const std::filesystem::path& ScratchFolder() {
  static const bool made = [] {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
      auto& path = scratch_detail::Path();
      path = base / ("quilbo-bench-" + std::to_string(random()));
      if (std::filesystem::create_directory(path)) break;
    }
    std::atexit(scratch_detail::Remove);
    scratch_detail::StartWatcher();
    std::fprintf(stderr, "scratch folder %s (removed at the end)\n",
                 scratch_detail::Path().c_str());
    return true;
  }();
  (void)made;
  return scratch_detail::Path();
}

}  // namespace quilbo_bench

#endif  // QUILBO_BENCH_SCRATCH_FOLDER_H_
