// POSIX threads for work done beside the run, requests to stop, the clock
// and the limit on open files.

#ifndef _WIN32

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/posix_internal.h"

namespace quilbo::posix {

namespace {

struct Work {
  WorkFunction work;
  void* context;
  pthread_t thread;
  bool threaded;
};

void* RunWork(void* handle) {
  auto* job = static_cast<Work*>(handle);
  job->work(job->context);
  return nullptr;
}

// The one thing a signal handler may do: note what asked.
volatile sig_atomic_t gStop = 0;

void NoteStop(int signal) {
  if (gStop == 0) gStop = signal;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

OsHandle StartWorkPosix(WorkFunction work, void* context) {
  auto* job = new (std::nothrow) Work{work, context, {}, false};
  if (job == nullptr) {
    Fail(ENOMEM);
    return kInvalidHandle;
  }
  // The stop signals are for the run's own thread, which looks for them.
  sigset_t blocked;
  sigset_t before;
  sigemptyset(&blocked);
  for (const int signal : kStopSignals) sigaddset(&blocked, signal);
  pthread_sigmask(SIG_BLOCK, &blocked, &before);
  job->threaded = pthread_create(&job->thread, nullptr, RunWork, job) == 0;
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  // Without a thread the work is done here and now: slower, as sound.
  if (!job->threaded) work(context);
  return reinterpret_cast<OsHandle>(job);
}

bool FinishWorkPosix(OsHandle work) {
  auto* job = reinterpret_cast<Work*>(work);
  if (job == nullptr) {
    return FailWith(kErrInvalidHandle, 0);
  }
  if (job->threaded) pthread_join(job->thread, nullptr);
  delete job;
  return true;
}

// Calls under way are not interrupted (SA_RESTART): a stop is looked for
// between logs.
void WatchStopsPosix() {
  struct sigaction action {};
  action.sa_handler = NoteStop;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signal : kStopSignals) {
    struct sigaction before {};
    // A signal ignored by whoever started the run (nohup) stays ignored.
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

std::int32_t StopRequestedPosix() { return gStop; }

const char* StopNamePosix(std::int32_t stop) {
  switch (stop) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
  }
}

// The signal again, with its default action: the parent sees the run
// ended by it, as it would have without the handler.
void EndStoppedPosix(std::int32_t stop) {
  signal(stop, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, stop);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(stop);
  _exit(128 + stop);  // should the signal not end the process
}

std::uint64_t TickCountPosix() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 +
         static_cast<std::uint64_t>(now.tv_nsec / 1000000);
}

std::uint32_t OpenFilesAllowedPosix() {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) return 1024;
  return files.rlim_cur < (1u << 24) ? static_cast<std::uint32_t>(files.rlim_cur) : 1u << 24;
}

}  // namespace quilbo::posix

#endif  // !_WIN32
