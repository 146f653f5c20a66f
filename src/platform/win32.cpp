// The Windows platform: thin forwarding to kernel32 and user32, one file per
// group of services (win32_*.cpp). Here: the process services and the table.
#ifdef _WIN32

#include <cstdlib>

#include "platform/win32_internal.h"

namespace quilbo {

namespace {

using namespace win32;

bool SplitArgumentsWin(int* count, const char* const** arguments) {
  *count = 0;
  *arguments = nullptr;
  return false;
}

// The module's name in the failure report keeps the system's ANSI form.
bool ModuleOfAddressWin(const void* address, char* path, std::uint32_t size,
                        std::uintptr_t* base) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(address, &info, sizeof info) == 0) return false;
  *base = reinterpret_cast<std::uintptr_t>(info.AllocationBase);
  const DWORD n =
      GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), path, size);
  if (n == 0) return false;
  if (n >= size) path[size - 1] = '\0';
  return true;
}

std::int32_t LastErrorWin() { return static_cast<std::int32_t>(GetLastError()); }
void SetLastErrorWin(std::int32_t code) { SetLastError(static_cast<DWORD>(code)); }
void ExitProcessWin(std::uint32_t code) { ExitProcess(code); }

void* Allocate(std::size_t size) { return std::malloc(size); }
void Release(void* block) { std::free(block); }

using namespace win32;

const PlatformApi kWin32 = {
    .readFile = ReadFileWin,
    .writeFile = WriteFileWin,
    .setFilePointer = SetFilePointerWin,
    .setEndOfFile = SetEndOfFileWin,
    .closeHandle = CloseHandleWin,
    .fileType = FileTypeWin,
    .stdHandle = StdHandleWin,
    .moveFileAt = MoveFileAtWin,
    .findFirstFile = FindFirstFileWin,
    .findNextFile = FindNextFileWin,
    .findClose = FindCloseWin,
    .fileTimeToLocalFileTime = FileTimeToLocalWin,
    .fileTimeToDosDateTime = FileTimeToDosWin,
    .nameToOem = NameToOemWin,
    .nameToAnsi = NameToAnsiWin,
    .createDirectory = CreateDirectoryWin,
    .lockFolder = LockFolderWin,
    .unlockFolder = UnlockFolderWin,
    .flushFile = FlushFileWin,
    .flushFolder = FlushFolderWin,
    .openFolder = OpenFolderWin,
    .closeFolder = CloseFolderWin,
    .createFileAt = CreateFileAtWin,
    .openFoundAt = OpenFoundAtWin,
    .createFileAsAt = CreateFileAsAtWin,
    .createUnnamedAt = CreateUnnamedAtWin,
    .nameFileAt = NameFileAtWin,
    .deleteFileAt = DeleteFileAtWin,
    .flushFilesAt = FlushFilesAtWin,
    .entryInfoAt = EntryInfoAtWin,
    .fileInfoOf = FileInfoOfWin,
    .takeLease = NoLeaseWin,
    .leaseHeld = NoLeaseWin,
    .dropLease = NoLeaseWin,
    .openToDeleteAt = OpenToDeleteAtWin,
    .startWork = StartWorkWin,
    .finishWork = FinishWorkWin,
    .tickCount = TickCountWin,
    .openFilesAllowed = OpenFilesAllowedWin,
    .commandLine = CommandLineWin,
    .splitArguments = SplitArgumentsWin,
    .executablePath = ExecutablePathWin,
    .moduleOfAddress = ModuleOfAddressWin,
    .allocate = Allocate,
    .release = Release,
    .lastError = LastErrorWin,
    .setLastError = SetLastErrorWin,
    .lastCause = LastErrorWin,
    .exitProcess = ExitProcessWin,
    .watchStops = WatchStopsWin,
    .stopRequested = StopRequestedWin,
    .stopName = StopNameWin,
    .endStopped = EndStoppedWin,
};

}  // namespace

const PlatformApi& NativePlatform() { return kWin32; }

void InitPlatform(int /*argc*/, char** /*argv*/) {}

}  // namespace quilbo

#endif  // _WIN32
