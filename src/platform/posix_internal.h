// What the POSIX platform's files share: the error helpers and the services
// each file gives to the one table in posix.cpp, file by file. Only the
// POSIX build has it.
#ifndef QUILBO_PLATFORM_POSIX_INTERNAL_H_
#define QUILBO_PLATFORM_POSIX_INTERNAL_H_

#ifndef _WIN32

#include <limits.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>

#include "platform/platform.h"
#include "platform/posix_path.h"

// Sizes and positions past 4 GiB and times past 2038 on every build: a
// 32-bit one needs _FILE_OFFSET_BITS=64 and _TIME_BITS=64 (CMakeLists.txt).
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");
static_assert(sizeof(std::time_t) == 8, "build with _TIME_BITS=64");

namespace quilbo::posix {

// The file map: what each file of the POSIX platform gives the others and
// the table. posix.cpp: the table, the process services and the one errno
// table (errno_map.h); posix_path.cpp: names resolved one component at a
// time (posix_path.h); posix_error_text.cpp: the system's words for a
// failure (error_text.h).

// posix_files.cpp: the error helpers, opens, transfers, positions, the
// handle's kind, closes, the standard handles.

// Stores the Windows number for err (path, when given, tells a missing
// folder from a missing file) and gives false.
bool Fail(int err, const char* path = nullptr);
// Stores code as the number of a failure whose errno is err (0: no call
// of the system failed: a refusal of the platform's own) and gives false.
// Only for a number other than the one Fail gives for err.
bool FailWith(std::int32_t code, int err);
// The Windows number of the calling thread's last failed call (lastError),
// and the errno behind it, or 0 (lastCause): stored together, so a number
// never gets another failure's errno.
std::int32_t LastError();
std::int32_t LastCause();

// A name as the system takes it. Names longer than the buffer fail rather
// than being cut, so a cut name can never reach another file.
struct PosixName {
  char text[PATH_MAX];
  bool ok;
};
PosixName ToPosix(const char* name);

bool NoWritePermission(const struct stat& info);
// The Windows number for a failed resolution of path.
std::int32_t PathError(const PathFailure& why, const char* path);
bool FailPath(const PathFailure& why, const char* path);
// Resolves the folder part of name (trusted links only) into spot; on
// failure leaves the Windows number and gives false.
bool SpotOf(const char* name, PathSpot* spot, PosixName* path);

// Checks a new descriptor as the open of a Windows file would: folders,
// devices for reading, read-only files for writing are refused (closed).
OsHandle CheckOpened(int fd, FileAccess access, FileCreation creation);
// The open of one entry of an open folder as OpenInFolder makes it, links
// at the end refused: the descriptor, unchecked, or -1 with errno set. A
// read keeps the file's access time while *keepAccessTime (cleared once
// the system refuses that).
int OpenAsIn(int folder, const char* name, FileAccess access, FileCreation creation,
             bool* keepAccessTime);
// Opens one entry of an open folder; a trusted link at the end is
// followed, another user's is not.
OsHandle OpenInFolder(int folder, const char* name, FileAccess access,
                      FileCreation creation);
bool ReadFilePosix(OsHandle file, void* buffer, std::uint32_t size, std::uint32_t* done);
bool WriteFilePosix(OsHandle file, const void* buffer, std::uint32_t size,
                    std::uint32_t* done);
bool SetFilePointerPosix(OsHandle file, std::int64_t distance, SeekFrom from,
                         std::int64_t* position);
bool SetEndOfFilePosix(OsHandle file);
bool CloseHandlePosix(OsHandle handle);
// What a file of mode is, as fileType tells it.
FileKind KindOf(mode_t mode);
FileKind FileTypePosix(OsHandle handle);
OsHandle StdHandlePosix(StdStream stream);
// The whole transfer or a failure (fd must be a regular file).
bool WriteAll(int fd, const void* data, std::uint32_t count);


// posix_folders.cpp: folders opened once and the steps inside them.
// What creating a file in an open folder gives it: its group, and whether
// the umask (not a default ACL) limits its mode. Found once per open folder;
// the run does not follow an admin changing the folder while it runs.
struct FolderGift {
  gid_t group;
  bool plainModes;
};
// A folder opened once: openFolder's handle points to it, and the caller
// that holds the handle owns it until closeFolder. It knows its identity
// (which tells whether the walk found a file in this very folder) and,
// from the first creation in it on, what creating a file there gives.
struct PosixFolder {
  int fd;
  dev_t dev;
  ino_t ino;
  bool giftKnown;
  FolderGift gift;
};
inline PosixFolder& FolderOf(OsHandle folder) { return *reinterpret_cast<PosixFolder*>(folder); }
bool FolderGiftOf(PosixFolder& folder, FolderGift* gift);
OsHandle OpenFolderPosix(const char* name);
bool CloseFolderPosix(OsHandle folder);
OsHandle CreateFileAtPosix(OsHandle folder, const char* name, FileAccess access,
                           FileCreation creation);
bool EntryInfoAtPosix(OsHandle folder, const char* name, bool followLinks, FileInfo* info);
bool DeleteFileAtPosix(OsHandle folder, const char* name);
OsHandle CreateFileAsAtPosix(OsHandle folder, const char* name, OsHandle model,
                             const void* data, std::uint32_t count);
OsHandle CreateUnnamedAtPosix(OsHandle folder, OsHandle model);
bool NameFileAtPosix(OsHandle folder, OsHandle file, const char* name);
bool MoveFileAtPosix(OsHandle fromFolder, const char* from, OsHandle toFolder, const char* to,
                     bool replace);
// Deletes name (a link itself, never its target); info is its entry.
bool DeleteEntry(int folder, const char* name, const char* path);

// posix_search.cpp: the walk, its wildcards, and what an entry is.
OsHandle FindFirstFilePosix(const char* pattern, const char* neverOpen, FindData* entry);
bool FindNextFilePosix(OsHandle handle, FindData* entry);
bool FindClosePosix(OsHandle handle);
void CopyNamePosix(const char* name, char* destination, std::size_t size);
OsHandle OpenFoundAtPosix(OsHandle folder, FindData* entry);
// Fills entry from info, the file reached under name.
void FillEntry(const struct stat& info, const char* name, FindData* entry);
// Only regular files and folders are entries.
bool IsEntryKind(const struct stat& info);
// What path (from folder start) leads to through trusted links; false with
// the Windows number in *code when that is nothing, or no entry.
bool StatThroughLinks(int start, const char* path, struct stat* info, std::int32_t* code);

// posix_times.cpp: times in the Windows forms.
// A POSIX time as a Windows file time.
std::uint64_t ToFileTime(const struct timespec& when);
bool FileTimeToLocalPosix(std::uint64_t utc, std::uint64_t* local);
bool FileTimeToDosPosix(std::uint64_t time, std::uint16_t* dosDate, std::uint16_t* dosTime);

// posix_names.cpp: folders made, moves, and the access of new files.
bool CreateDirectoryPosix(const char* name);
// Gives the new file the access of model (see CreateAsIn).
bool CopyAccess(const struct stat& model, int to);
mode_t CopiedMode(const struct stat& model);
// What fstat finds, or the failure stored.
bool InfoOf(int fd, struct stat* info);
OsHandle CreateUnnamedIn(int folder, OsHandle model);
bool NameFileIn(int folder, OsHandle file, const char* name);
// createFileAsAt inside an open folder (see platform.h); path, when
// given, names it in errors.
OsHandle CreateAsIn(PosixFolder& folder, const char* name, OsHandle model, const void* data,
                    std::uint32_t count, const char* path);
// Moves from to to, never replacing an existing to.
bool MoveBetween(const PathSpot& from, const PathSpot& to);

// posix_leases.cpp: leases, and what an entry or an open handle is.
// What an entry or a handle is, as entryInfoAt and fileInfoOf tell it.
void DescribeEntry(const struct stat& info, FileInfo* out);
bool FileInfoOfPosix(OsHandle file, FileInfo* info);
bool TakeLeasePosix(OsHandle file);
bool LeaseHeldPosix(OsHandle file);
bool DropLeasePosix(OsHandle file);
OsHandle OpenToDeleteAtPosix(OsHandle folder, const char* name);

// posix_work.cpp: threads, requests to stop, the clock and the limit on
// open files.
OsHandle StartWorkPosix(WorkFunction work, void* context);
bool FinishWorkPosix(OsHandle work);
void WatchStopsPosix();
std::int32_t StopRequestedPosix();
const char* StopNamePosix(std::int32_t stop);
void EndStoppedPosix(std::int32_t stop);
std::uint64_t TickCountPosix();
std::uint32_t OpenFilesAllowedPosix();

// posix_lock.cpp: folder locks and flushes.
OsHandle LockFolderPosix(const char* name, std::uint32_t waitMs);
bool UnlockFolderPosix(OsHandle lock);
bool FlushFilePosix(OsHandle file);
bool FlushFolderPosix(OsHandle lock);
bool FlushFilesAtPosix(OsHandle folder, const char* const* names, std::size_t count);

}  // namespace quilbo::posix

#endif  // !_WIN32

#endif  // QUILBO_PLATFORM_POSIX_INTERNAL_H_
