// The POSIX platform: Windows semantics on top of POSIX calls. Names are
// bytes and go to the system unchanged: '/' separates, '\' is a byte of a
// name (the driver turns a typed '\' into '/' before names get here).
#ifndef _WIN32

#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/errno_map.h"
#include "platform/platform.h"
#include "platform/posix_internal.h"
#include "platform/posix_path.h"

// The bounds of the executable's image, from GNU ld.
extern "C" const char __executable_start[];
extern "C" const char _end[];

namespace quilbo {

namespace posix {
namespace {

int gArgc = 0;
const char* const* gArgv = nullptr;

const char* CommandLinePosix() { return nullptr; }

bool SplitArgumentsPosix(int* count, const char* const** arguments) {
  *count = gArgc;
  *arguments = gArgv;
  return gArgv != nullptr;
}

std::uint32_t ExecutablePathPosix(char* buffer, std::uint32_t size) {
  if (size == 0) return 0;
  const ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
  if (n < 0) {
    Fail(errno);
    buffer[0] = '\0';
    return 0;
  }
  buffer[n] = '\0';
  return static_cast<std::uint32_t>(n);
}

bool ModuleOfAddressPosix(const void* address, char* path, std::uint32_t size,
                          std::uintptr_t* base) {
  // The executable's own image, from the linker's bounds: a static
  // executable has no loader list for dladdr to search.
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  const auto start = reinterpret_cast<std::uintptr_t>(__executable_start);
  if (at >= start && at < reinterpret_cast<std::uintptr_t>(_end)) {
    if (ExecutablePathPosix(path, size) == 0) return false;
    *base = start;
    return true;
  }
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fbase == nullptr ||
      info.dli_fname == nullptr || info.dli_fname[0] == '\0')
    return Fail(EINVAL);
  *base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  std::snprintf(path, size, "%s", info.dli_fname);
  return true;
}

void SetLastErrorPosix(std::int32_t code) { FailWith(code, 0); }
void ExitProcessPosix(std::uint32_t code) { _exit(static_cast<int>(code)); }

void* Allocate(std::size_t size) { return std::malloc(size); }
void Release(void* block) { std::free(block); }

}  // namespace
}  // namespace posix

namespace {

using namespace posix;

const PlatformApi kPosix = {
    .readFile = ReadFilePosix,
    .writeFile = WriteFilePosix,
    .setFilePointer = SetFilePointerPosix,
    .setEndOfFile = SetEndOfFilePosix,
    .closeHandle = CloseHandlePosix,
    .fileType = FileTypePosix,
    .stdHandle = StdHandlePosix,
    .moveFileAt = MoveFileAtPosix,
    .findFirstFile = FindFirstFilePosix,
    .findNextFile = FindNextFilePosix,
    .findClose = FindClosePosix,
    .fileTimeToLocalFileTime = FileTimeToLocalPosix,
    .fileTimeToDosDateTime = FileTimeToDosPosix,
    .nameToOem = CopyNamePosix,
    .nameToAnsi = CopyNamePosix,
    .createDirectory = CreateDirectoryPosix,
    .lockFolder = LockFolderPosix,
    .unlockFolder = UnlockFolderPosix,
    .flushFile = FlushFilePosix,
    .flushFolder = FlushFolderPosix,
    .openFolder = OpenFolderPosix,
    .closeFolder = CloseFolderPosix,
    .createFileAt = CreateFileAtPosix,
    .openFoundAt = OpenFoundAtPosix,
    .createFileAsAt = CreateFileAsAtPosix,
    .createUnnamedAt = CreateUnnamedAtPosix,
    .nameFileAt = NameFileAtPosix,
    .deleteFileAt = DeleteFileAtPosix,
    .flushFilesAt = FlushFilesAtPosix,
    .entryInfoAt = EntryInfoAtPosix,
    .fileInfoOf = FileInfoOfPosix,
    .takeLease = TakeLeasePosix,
    .leaseHeld = LeaseHeldPosix,
    .dropLease = DropLeasePosix,
    .openToDeleteAt = OpenToDeleteAtPosix,
    .startWork = StartWorkPosix,
    .finishWork = FinishWorkPosix,
    .tickCount = TickCountPosix,
    .openFilesAllowed = OpenFilesAllowedPosix,
    .commandLine = CommandLinePosix,
    .splitArguments = SplitArgumentsPosix,
    .executablePath = ExecutablePathPosix,
    .moduleOfAddress = ModuleOfAddressPosix,
    .allocate = Allocate,
    .release = Release,
    .lastError = LastError,
    .setLastError = SetLastErrorPosix,
    .lastCause = LastCause,
    .exitProcess = ExitProcessPosix,
    .watchStops = WatchStopsPosix,
    .stopRequested = StopRequestedPosix,
    .stopName = StopNamePosix,
    .endStopped = EndStoppedPosix,
};

// errno values and the Windows numbers of the same condition. The first
// row of a number names the errno that number usually stands for.
struct Row {
  int err;
  std::int32_t code;
};
constexpr Row kTable[] = {
    {ENOENT, kErrFileNotFound},
    {ENOTDIR, kErrPathNotFound},
    {EACCES, kErrAccessDenied},
    {EPERM, kErrAccessDenied},
    {EROFS, kErrAccessDenied},
    {EISDIR, kErrAccessDenied},
    {EMFILE, kErrTooManyOpenFiles},
    {ENFILE, kErrTooManyOpenFiles},
    {ENOSPC, kErrDiskFull},
    {EDQUOT, kErrDiskFull},
    {EEXIST, kErrAlreadyExists},
    {ENOTEMPTY, 145},  // ERROR_DIR_NOT_EMPTY
    {EPIPE, kErrBrokenPipe},
    {ENAMETOOLONG, kErrFilenameTooLong},
    {EBUSY, kErrSharingViolation},
    {ETXTBSY, kErrSharingViolation},
    {EBADF, kErrInvalidHandle},
    {EINVAL, kErrInvalidParameter},
    {ENOMEM, kErrNotEnoughMemory},
    {EIO, 1117},       // ERROR_IO_DEVICE
    {EFBIG, 223},      // ERROR_FILE_TOO_LARGE
    {EXDEV, 17},       // ERROR_NOT_SAME_DEVICE
    {ELOOP, 1921},     // ERROR_CANT_RESOLVE_FILENAME
    {kErrnoUntrustedLink, kErrUntrustedLink},
    {ESPIPE, 131},     // ERROR_NEGATIVE_SEEK
    {EAGAIN, 232},     // ERROR_NO_DATA
};

// ENOENT means "path not found" when the folder part of path is missing.
bool ParentMissing(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return false;
  if (slash == path) return false;
  char folder[PATH_MAX];
  const auto length = static_cast<std::size_t>(slash - path);
  if (length >= sizeof folder) return true;
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  struct stat info {};
  return stat(folder, &info) != 0 || !S_ISDIR(info.st_mode);
}

}  // namespace

std::int32_t WindowsErrorFromErrno(int err, const char* path) {
  for (const Row& row : kTable) {
    if (row.err != err) continue;
    if (err == ENOENT && path != nullptr && ParentMissing(path))
      return kErrPathNotFound;
    return row.code;
  }
  return kUnmappedErrnoBase | (err & 0xFFFF);
}

int ErrnoOfWindowsError(std::int32_t code) {
  // Numbers the platform sets without an errno of the same name.
  if (code == kErrPathNotFound || code == kErrNoMoreFiles) return ENOENT;
  if (code == kErrFileExists) return EEXIST;
  for (const Row& row : kTable)
    if (row.code == code) return row.err;
  return 0;
}

const PlatformApi& NativePlatform() { return kPosix; }

void InitPlatform(int argc, char** argv) {
  gArgc = argc;
  gArgv = argv;
  // A write to a pipe whose reader has gone must fail with 109, and one past
  // the file-size limit with its error, not kill us before the report.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  // A process opening a log while a deletion holds its lease would send
  // SIGIO, whose default ends the process.
  signal(SIGIO, SIG_IGN);
  // A group of logs waiting for deletion stays open: the soft limit on
  // open files (often 1,024) is raised to the hard one, as far as it goes.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
}

}  // namespace quilbo

#endif  // !_WIN32
