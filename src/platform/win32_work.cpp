// Windows threads for work done beside the run, requests to stop from the
// console, the clock and the limit on open files.
#ifdef _WIN32

#include <windows.h>

#include <new>

#include "platform/win32_internal.h"

namespace quilbo::win32 {

namespace {

struct Work {
  WorkFunction work;
  void* context;
  HANDLE thread;
};

DWORD WINAPI RunWork(LPVOID handle) {
  auto* job = static_cast<Work*>(handle);
  job->work(job->context);
  return 0;
}

// The console event that asked the run to stop, plus 1 (0: none).
volatile LONG gStop = 0;

BOOL WINAPI NoteStop(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
    return FALSE;
  InterlockedCompareExchange(&gStop, static_cast<LONG>(event) + 1, 0);
  // When the console closes, the process ends as this handler returns:
  // it waits while the run finishes (the system allows some 5 seconds).
  if (event == CTRL_CLOSE_EVENT) Sleep(4500);
  return TRUE;
}

}  // namespace

OsHandle StartWorkWin(WorkFunction work, void* context) {
  auto* job = new (std::nothrow) Work{work, context, nullptr};
  if (job == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return kInvalidHandle;
  }
  job->thread = CreateThread(nullptr, 0, RunWork, job, 0, nullptr);
  // Without a thread the work is done here and now: slower, as sound.
  if (job->thread == nullptr) work(context);
  return reinterpret_cast<OsHandle>(job);
}

bool FinishWorkWin(OsHandle work) {
  auto* job = reinterpret_cast<Work*>(work);
  if (job == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (job->thread != nullptr) {
    WaitForSingleObject(job->thread, INFINITE);
    CloseHandle(job->thread);
  }
  delete job;
  return true;
}

void WatchStopsWin() { SetConsoleCtrlHandler(NoteStop, TRUE); }

std::int32_t StopRequestedWin() { return static_cast<std::int32_t>(gStop); }

const char* StopNameWin(std::int32_t stop) {
  switch (stop - 1) {
    case CTRL_C_EVENT: return "Ctrl-C";
    case CTRL_BREAK_EVENT: return "Ctrl-Break";
    case CTRL_CLOSE_EVENT: return "the console closing";
    default: return "a request to stop";
  }
}

// What the console's default handler ends a process with.
void EndStoppedWin(std::int32_t /*stop*/) { ExitProcess(STATUS_CONTROL_C_EXIT); }

std::uint64_t TickCountWin() { return GetTickCount64(); }

// Handles are limited only by memory, far beyond what a run holds.
std::uint32_t OpenFilesAllowedWin() { return 1u << 24; }

}  // namespace quilbo::win32

#endif  // _WIN32
