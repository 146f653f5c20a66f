// The operating-system services Quilbo uses, with Windows meanings on every
// platform. Everything outside src/platform reaches them through Os(), one
// table of function pointers, so tests can wrap it to count calls and inject
// failures. Failing calls leave a Windows error number for LastError().
#ifndef QUILBO_PLATFORM_PLATFORM_H_
#define QUILBO_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quilbo {

// An open file, standard handle or directory search. -1 is the invalid value.
using OsHandle = std::intptr_t;
inline constexpr OsHandle kInvalidHandle = -1;

// Names in the core are the platform's own names as 8-bit text. Windows
// names are UTF-16; they travel as UTF-8 (lone surrogates kept, so every
// name the system gives comes back to it unchanged), and the system's
// limits count UTF-16 units. Linux names are bytes, and a byte is a
// character.
#ifdef _WIN32
inline constexpr int kBytesPerCharacter = 3;  // the longest unit in UTF-8
#else
inline constexpr int kBytesPerCharacter = 1;
#endif

// Longest path the platform accepts in characters, terminating NUL
// included: Windows keeps its 259 characters; Linux takes paths of up to
// 4095 bytes.
#ifdef _WIN32
inline constexpr int kMaxPath = 260;
#else
inline constexpr int kMaxPath = 4096;
#endif
inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFF;

// Bytes that hold any path the platform accepts, terminating NUL included.
inline constexpr int kPathBytes = (kMaxPath - 1) * kBytesPerCharacter + 1;
// Bytes that hold the name of one directory entry, terminating NUL included.
inline constexpr int kMaxEntryName = 259 * kBytesPerCharacter + 1;

// How many characters of the platform's limits a byte of a name starts:
// Windows counts a UTF-8 sequence as its UTF-16 units (a four-byte one is
// two), its continuation bytes as none.
constexpr std::size_t CharactersStartedBy(unsigned char byte) {
  if (kBytesPerCharacter == 1) return 1;
  if ((byte & 0xC0) == 0x80) return 0;
  return byte >= 0xF0 ? 2 : 1;
}

// The length of a name in the characters the platform's limits count.
constexpr std::size_t CharacterCount(std::string_view name) {
  std::size_t count = 0;
  for (const char c : name) count += CharactersStartedBy(static_cast<unsigned char>(c));
  return count;
}

// The bytes of the longest start of name that holds at most characters
// characters and bytes bytes, never ending inside a character.
constexpr std::size_t CharactersPrefix(std::string_view name, std::size_t characters,
                                       std::size_t bytes) {
  std::size_t count = 0;
  std::size_t end = 0;
  for (std::size_t i = 0; i < name.size() && i < bytes; ++i) {
    const std::size_t started = CharactersStartedBy(static_cast<unsigned char>(name[i]));
    if (started != 0 && count + started > characters) break;
    count += started;
    end = i + 1;
  }
  // A character cut by the byte bound is dropped whole.
  while (end < name.size() && end > 0 &&
         CharactersStartedBy(static_cast<unsigned char>(name[end])) == 0)
    --end;
  return end;
}

enum class FileAccess : std::uint8_t { kRead, kReadWrite };
// kCreateNew fails with kErrFileExists when the name exists.
enum class FileCreation : std::uint8_t { kOpenExisting, kCreateAlways, kCreateNew };
enum class SeekFrom : std::uint8_t { kBegin, kCurrent, kEnd };
enum class StdStream : std::uint8_t { kInput, kOutput, kError };
// kCharacter covers character devices, pipes and sockets.
enum class FileKind : std::uint8_t { kUnknown, kDisk, kCharacter };

// Windows attribute bits as the directory search reports them.
inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrSystem = 0x04;
inline constexpr std::uint32_t kAttrVolume = 0x08;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;
// A link (Windows: a reparse point), reported by entryInfoAt, never by a search.
inline constexpr std::uint32_t kAttrLink = 0x400;

// Windows error numbers the program itself needs to name.
inline constexpr std::int32_t kErrFileNotFound = 2;
inline constexpr std::int32_t kErrPathNotFound = 3;
inline constexpr std::int32_t kErrTooManyOpenFiles = 4;
inline constexpr std::int32_t kErrAccessDenied = 5;
inline constexpr std::int32_t kErrInvalidHandle = 6;
inline constexpr std::int32_t kErrNotEnoughMemory = 8;
inline constexpr std::int32_t kErrNoMoreFiles = 18;
// What a failed call stands for when the platform left no error number.
inline constexpr std::int32_t kErrGeneralFailure = 31;
inline constexpr std::int32_t kErrSharingViolation = 32;
inline constexpr std::int32_t kErrNotSupported = 50;
inline constexpr std::int32_t kErrFileExists = 80;
inline constexpr std::int32_t kErrInvalidParameter = 87;
inline constexpr std::int32_t kErrBrokenPipe = 109;
inline constexpr std::int32_t kErrDiskFull = 112;
inline constexpr std::int32_t kErrInvalidName = 123;
inline constexpr std::int32_t kErrFilenameTooLong = 206;
inline constexpr std::int32_t kErrAlreadyExists = 183;
inline constexpr std::int32_t kErrTimeout = 1460;
inline constexpr std::int32_t kErrCantResolve = 1921;  // a link loop
// ERROR_UNTRUSTED_MOUNT_POINT: a link that the run does not follow because
// another user owns it.
inline constexpr std::int32_t kErrUntrustedLink = 448;

// Identity of an existing file, equal for two names of the same file.
struct FileIdentity {
  std::uint64_t volume;
  std::uint64_t index;
};

inline bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.volume == b.volume && a.index == b.index;
}

// One directory entry as the platform's search returns it.
struct FindData {
  std::uint32_t attributes;
  std::uint64_t lastWriteTime;  // 100 ns units since 1601-01-01 UTC
  std::uint64_t size;
  char name[kMaxEntryName];  // the platform's own name
  // A file the walk found may come opened for reading (POSIX: the walk
  // opens it to learn its entry), so that opening it costs no second
  // resolution of its name and the entry describes the very file read:
  // openFoundAt takes it. Only the walk's latest entry holds one; the
  // walk's next step, or its end, closes it unless it was taken.
  // kInvalidHandle when none.
  OsHandle held;
  FileIdentity heldIn;  // the folder the walk found it in
};

// What a file is, as its entry or its open handle shows it.
struct FileInfo {
  std::uint32_t attributes;  // kAttr* bits; kAttrLink for a link itself
  std::uint64_t size;
  std::uint64_t lastWriteTime;  // 100 ns units since 1601-01-01 UTC
  FileIdentity identity;
  FileKind kind;  // as fileType tells it for an open handle
};

// Work handed to another thread: work(context) runs there while the caller
// goes on, until finishWork waits for it.
using WorkFunction = void (*)(void* context);

struct PlatformApi {
  // Files (opened by createFileAt). Sharing is always read and write, the
  // handle inheritable.
  bool (*readFile)(OsHandle file, void* buffer, std::uint32_t size,
                   std::uint32_t* done);
  bool (*writeFile)(OsHandle file, const void* buffer, std::uint32_t size,
                    std::uint32_t* done);
  bool (*setFilePointer)(OsHandle file, std::int64_t distance, SeekFrom from,
                         std::int64_t* position);
  bool (*setEndOfFile)(OsHandle file);
  bool (*closeHandle)(OsHandle handle);
  FileKind (*fileType)(OsHandle handle);
  OsHandle (*stdHandle)(StdStream stream);
  // Gives the entry from of fromFolder the name to in toFolder (openFolder
  // handles; the same one for a rename), in one step, replacing an
  // existing to when replace
  // (else failing with kErrAlreadyExists; POSIX: with kErrNotSupported on
  // a file system that can neither rename without replacing nor link, as
  // exFAT). Windows writes the move through to the disk; POSIX leaves that
  // to flushFolder.
  bool (*moveFileAt)(OsHandle fromFolder, const char* from, OsHandle toFolder, const char* to,
                     bool replace);

  // Directory search; "." and ".." are reported like any folder. A name
  // that starts with neverOpen (null: none) is never opened by the walk
  // (the caller's own files, which a look must not disturb).
  OsHandle (*findFirstFile)(const char* pattern, const char* neverOpen, FindData* entry);
  bool (*findNextFile)(OsHandle search, FindData* entry);
  bool (*findClose)(OsHandle search);
  bool (*fileTimeToLocalFileTime)(std::uint64_t utc, std::uint64_t* local);
  bool (*fileTimeToDosDateTime)(std::uint64_t time, std::uint16_t* dosDate,
                                std::uint16_t* dosTime);

  // Names as the console shows them (file operations take names in the
  // platform's own form): a name the search found in the OEM code page, a
  // character without an OEM form as '?'; what the user typed in the ANSI
  // code page, as the system hands the command line to programs that read
  // it in that code page. The result is cut to size - 1 bytes and ends
  // with a NUL; the source and the destination may be the same buffer.
  // Linux has no code pages: both copy.
  void (*nameToOem)(const char* name, char* destination, std::size_t size);
  void (*nameToAnsi)(const char* name, char* destination, std::size_t size);
  // The one step that only a whole path makes sense for: a folder made
  // where none is open yet.
  bool (*createDirectory)(const char* name);

  // Runs that share an archive folder. lockFolder waits until it holds an
  // exclusive lock on the folder (by identity: two names of one folder are
  // one lock) and gives its handle; the lock leaves no file behind, and
  // the system releases it when the process ends, however it ends. It
  // waits at most waitMs milliseconds (kWaitForever: no limit), then fails
  // with kErrTimeout.
  OsHandle (*lockFolder)(const char* name, std::uint32_t waitMs);
  bool (*unlockFolder)(OsHandle lock);
  // Durability: flushFile writes a file's data and size through to the
  // disk; flushFolder does the same for the names created, renamed or
  // removed in the folder held by a lockFolder handle.
  bool (*flushFile)(OsHandle file);
  bool (*flushFolder)(OsHandle lock);

  // Folders opened once: openFolder opens the folder called name (reached
  // as every other name is, trusted links only), and each ...At service
  // takes one entry name inside it: never split, never a pattern, never
  // resolved again from the top. Windows: the handle carries the folder's
  // path, which each step joins with the name.
  OsHandle (*openFolder)(const char* name);
  bool (*closeFolder)(OsHandle folder);
  OsHandle (*createFileAt)(OsHandle folder, const char* name, FileAccess access,
                           FileCreation creation);
  // Opens the entry the walk found, in folder, for reading, as createFileAt
  // opens its name: takes the handle the entry holds when the walk found it
  // in this very folder (by identity), else opens the name.
  OsHandle (*openFoundAt)(OsHandle folder, FindData* entry);
  // createFileAsAt creates name in folder, which must not exist
  // (kErrFileExists), open for reading and writing, holding the first count
  // bytes of data, with the access of model (permission bits; owner and
  // group where the process may) from the moment the name exists. POSIX:
  // an unnamed file, linked under name once it has its access and bytes.
  // Windows: new files take the permissions their folder passes on.
  OsHandle (*createFileAsAt)(OsHandle folder, const char* name, OsHandle model,
                             const void* data, std::uint32_t count);
  // A file that is complete and on the disk before it has any name:
  // createUnnamedAt makes a file of folder without a name, open for
  // reading and writing, with the access of model (as createFileAsAt gives
  // it); it fails with kErrNotSupported where the file system has no such
  // files (Windows: always). nameFileAt then gives it name, never replacing
  // an existing one (the numbers createFileAsAt gives for a taken name);
  // where the file system has no hard links its bytes are copied to a new
  // file under name, which is flushed. The caller flushes file first.
  OsHandle (*createUnnamedAt)(OsHandle folder, OsHandle model);
  bool (*nameFileAt)(OsHandle folder, OsHandle file, const char* name);
  bool (*deleteFileAt)(OsHandle folder, const char* name);
  // Writes the named files of folder, and their names, through to the
  // disk: one flush for them all where the system can.
  bool (*flushFilesAt)(OsHandle folder, const char* const* names, std::size_t count);
  // The entry called name in folder, which is never read as a pattern
  // (wildcard bytes are bytes): with followLinks what it leads to through
  // trusted links (files and folders only), else the entry itself (a link
  // is kAttrLink); fails with the Windows number of the reason (2, 3,
  // 123...). And what an open handle reaches.
  bool (*entryInfoAt)(OsHandle folder, const char* name, bool followLinks, FileInfo* info);
  bool (*fileInfoOf)(OsHandle file, FileInfo* info);
  // A write lease on an open file (POSIX): granted only while no other
  // process has the file open (else kErrSharingViolation), kErrNotSupported
  // where the file system has none. While it is held, an open by another
  // process waits until it is dropped or the handle closes; leaseHeld is
  // false once such an open has begun.
  bool (*takeLease)(OsHandle file);
  bool (*leaseHeld)(OsHandle file);
  bool (*dropLease)(OsHandle file);
  // Opens the entry name of folder for its deletion, sharing nothing but
  // deletion (Windows): refused (kErrSharingViolation) while another process
  // holds it open, and nobody else opens it until this handle closes; a
  // link is opened itself. kErrNotSupported on POSIX.
  OsHandle (*openToDeleteAt)(OsHandle folder, const char* name);
  // Threads: startWork runs work(context) on a thread of its own (or here
  // and now where none can be made) and gives the handle finishWork waits
  // for and releases.
  OsHandle (*startWork)(WorkFunction work, void* context);
  bool (*finishWork)(OsHandle work);
  // Milliseconds of a clock that only moves forward.
  std::uint64_t (*tickCount)();
  // How many files the process may hold open at once.
  std::uint32_t (*openFilesAllowed)();

  // Process. commandLine is null where the platform hands the arguments
  // over already split (then splitArguments gives them). Both, and the
  // executable's path, are in the platform's form of names.
  const char* (*commandLine)();
  bool (*splitArguments)(int* count, const char* const** arguments);
  // Full path of the running executable; returns its length, 0 on failure.
  std::uint32_t (*executablePath)(char* buffer, std::uint32_t size);
  // File path and load address of the module holding a code address.
  bool (*moduleOfAddress)(const void* address, char* path, std::uint32_t size,
                          std::uintptr_t* base);
  // Heap blocks; allocate gives null when memory is exhausted.
  void* (*allocate)(std::size_t size);
  void (*release)(void* block);
  std::int32_t (*lastError)();
  void (*setLastError)(std::int32_t code);  // a number without a cause
  // The system's own number behind lastError: POSIX the errno of the call
  // that failed (EROFS and EACCES both become 5; only the errno tells
  // which), Windows the same number; 0 when no system call's failure is
  // behind it (a refusal of the platform's own, setLastError).
  std::int32_t (*lastCause)();
  void (*exitProcess)(std::uint32_t code);  // does not return
  // A request to stop from outside (POSIX: SIGINT, SIGTERM, SIGHUP;
  // Windows: Ctrl-C, Ctrl-Break, the console closing), caught from
  // watchStops on: stopRequested gives 0, or what asked (the signal's
  // number, or the console event's number plus 1), and stopName its name.
  // endStopped ends the process as that request would have ended it
  // untouched (the parent sees the signal); it does not return.
  void (*watchStops)();
  std::int32_t (*stopRequested)();
  const char* (*stopName)(std::int32_t stop);
  void (*endStopped)(std::int32_t stop);
};

// The table in use; tests swap in a wrapped copy with SetPlatform.
const PlatformApi& Os();
const PlatformApi& NativePlatform();
void SetPlatform(const PlatformApi* api);

// The few steps that have a whole path and no open folder: the path's
// folder is opened for the one step, as openFolder opens it, and the ...At
// service does the step. The error of a failure stays for lastError.
OsHandle CreateFileByPath(const char* path, FileAccess access, FileCreation creation);
bool DeleteFileByPath(const char* path);
bool EntryInfoByPath(const char* path, bool followLinks, FileInfo* info);
// Moves from to to, never replacing an existing to; each path's folder is opened.
bool MoveFileByPath(const char* from, const char* to);

// Process set-up that must precede everything (signals, argument vector).
void InitPlatform(int argc, char** argv);

// The error number of the platform call that just failed. Never 0: a
// failure stored as 0 would read as success.
inline std::int32_t FailedCallError() {
  const std::int32_t code = Os().lastError();
  return code != 0 ? code : kErrGeneralFailure;
}

// A failure as it travels to the note that tells of it: the number the
// program works with and the system's own reason behind it (lastCause; 0:
// none, the number alone tells). Kept with the failure, since later calls
// change what the system remembers.
struct SystemFailure {
  std::int32_t code;
  std::int32_t cause;
};

// The platform call that just failed, with its cause.
inline SystemFailure FailedCall() { return {FailedCallError(), Os().lastCause()}; }

// code with the cause of the call that just failed when code is that
// call's number, else with none (a number the program chose).
inline SystemFailure FailureOf(std::int32_t code) {
  const bool last = code != 0 && code == Os().lastError();
  return {code, last ? Os().lastCause() : 0};
}

}  // namespace quilbo

#endif  // QUILBO_PLATFORM_PLATFORM_H_
