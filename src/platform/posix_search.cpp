// POSIX directory search and one-name lookups, with the wildcard rules.

#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/errno_map.h"
#include "platform/posix_internal.h"
#include "platform/posix_path.h"

namespace quilbo::posix {

namespace {

struct PosixSearch {
  DIR* dir;  // null for a name looked up directly
  dev_t dev;  // the folder's identity
  ino_t ino;
  char pattern[NAME_MAX + 1];
  char neverOpen[NAME_MAX + 1];  // names starting so are never opened here
  // The descriptor the latest entry holds, and that entry (the caller's
  // record): one the caller has not taken is closed at the next step.
  int held;
  FindData* heldBy;
  bool keepAccessTime;  // of the files it opens, until the system refuses
};

void DropHeld(PosixSearch* search) {
  if (search->held < 0) return;
  if (search->heldBy->held == search->held) {
    close(search->held);
    search->heldBy->held = kInvalidHandle;
  }
  search->held = -1;
}

// Opens a plain file the folder's listing names, as the run opens a log,
// and fills entry from it, the descriptor with it; false (nothing held)
// when it is anything else by now or cannot be opened, which the look by
// name then sorts out. A name the caller keeps shut (a log on its way out
// under /D, whose lease an open would break) is never opened here.
bool HoldEntry(PosixSearch* search, int folder, const char* name, FindData* entry) {
  const std::size_t shut = std::strlen(search->neverOpen);
  if (shut != 0 && std::strncmp(name, search->neverOpen, shut) == 0) return false;
  const int fd = OpenAsIn(folder, name, FileAccess::kRead, FileCreation::kOpenExisting,
                          &search->keepAccessTime);
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  FillEntry(info, name, entry);
  entry->held = fd;
  entry->heldIn = FileIdentity{static_cast<std::uint64_t>(search->dev),
                               static_cast<std::uint64_t>(search->ino)};
  search->held = fd;
  search->heldBy = entry;
  return true;
}

bool HasWildcards(const char* text) {
  return std::strpbrk(text, "*?") != nullptr;
}

// '*' matches any run (also empty), '?' one byte, all else literally.
bool WildcardMatch(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || *pattern == *name) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

bool NameMatches(const char* pattern, const char* name) {
  if (std::strcmp(pattern, "*.*") == 0) return true;
  return WildcardMatch(pattern, name);
}

// The next entry of an open folder scan that matches; sets 18 at the end.
// Entries that lead nowhere (a dangling or looping link, another user's
// link) or to something other than a file or folder are skipped.
bool NextMatch(PosixSearch* search, FindData* entry) {
  DropHeld(search);
  const int folder = dirfd(search->dir);
  for (;;) {
    errno = 0;
    const dirent* item = readdir(search->dir);
    if (item == nullptr) {
      if (errno != 0) return Fail(errno);
      return FailWith(kErrNoMoreFiles, 0);
    }
    if (!NameMatches(search->pattern, item->d_name)) continue;
    if (item->d_type == DT_REG && HoldEntry(search, folder, item->d_name, entry)) return true;
    struct stat info {};
    if (fstatat(folder, item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    std::int32_t ignored = 0;
    if (S_ISLNK(info.st_mode) &&
        !StatThroughLinks(folder, item->d_name, &info, &ignored))
      continue;
    if (!IsEntryKind(info)) continue;
    FillEntry(info, item->d_name, entry);
    return true;
  }
}

}  // namespace

OsHandle OpenFoundAtPosix(OsHandle folder, FindData* entry) {
  const PosixFolder& place = FolderOf(folder);
  const int held = static_cast<int>(entry->held);
  if (entry->held != kInvalidHandle &&
      static_cast<std::uint64_t>(place.dev) == entry->heldIn.volume &&
      static_cast<std::uint64_t>(place.ino) == entry->heldIn.index) {
    entry->held = kInvalidHandle;
    return held;
  }
  return CreateFileAtPosix(folder, entry->name, FileAccess::kRead, FileCreation::kOpenExisting);
}

// Fills entry from info, the file reached under name.
void FillEntry(const struct stat& info, const char* name, FindData* entry) {
  std::uint32_t attributes = 0;
  if (S_ISDIR(info.st_mode)) {
    attributes |= kAttrDirectory;
  } else {
    attributes |= kAttrArchive;
  }
  if (NoWritePermission(info)) attributes |= kAttrReadOnly;
  entry->attributes = attributes;
  entry->lastWriteTime = ToFileTime(info.st_mtim);
  entry->size = S_ISDIR(info.st_mode) ? 0 : static_cast<std::uint64_t>(info.st_size);
  entry->held = kInvalidHandle;
  std::snprintf(entry->name, sizeof entry->name, "%s", name);
}

// Only regular files and folders are entries: FIFOs, sockets and devices
// are never logs, and opening one could block.
bool IsEntryKind(const struct stat& info) {
  return S_ISREG(info.st_mode) || S_ISDIR(info.st_mode);
}

// What path (from folder start) leads to through trusted links; false with
// the failure stored and its Windows number in *code when that is nothing,
// or no entry.
bool StatThroughLinks(int start, const char* path, struct stat* info,
                      std::int32_t* code) {
  PathFailure why{};
  const int fd = ResolvePath(start, path, &why);
  if (fd < 0) {
    *code = PathError(why, start == AT_FDCWD ? path : nullptr);
    return FailWith(*code, why.err);
  }
  const bool ok = fstatat(fd, "", info, AT_EMPTY_PATH) == 0;
  const int err = errno;
  close(fd);
  if (!ok) {
    *code = WindowsErrorFromErrno(err, nullptr);
    return FailWith(*code, err);
  }
  if (!IsEntryKind(*info)) {
    *code = kErrFileNotFound;
    return FailWith(*code, 0);
  }
  return true;
}

OsHandle FindFirstFilePosix(const char* pattern, const char* neverOpen, FindData* entry) {
  const PosixName path = ToPosix(pattern);
  if (!path.ok) {
    Fail(ENAMETOOLONG);
    return kInvalidHandle;
  }
  const char* slash = std::strrchr(path.text, '/');
  const char* last = slash != nullptr ? slash + 1 : path.text;
  if (std::strlen(last) > NAME_MAX) {
    Fail(ENAMETOOLONG);
    return kInvalidHandle;
  }
  std::string folderName;
  if (slash == nullptr) {
    folderName = ".";
  } else if (slash == path.text) {
    folderName = "/";
  } else {
    folderName.assign(path.text, static_cast<std::size_t>(slash - path.text));
  }
  // The folder, through trusted links only.
  PathFailure why{};
  const int folder = ResolvePath(AT_FDCWD, folderName, &why);
  if (folder < 0) {
    FailWith(why.err == ENOENT ? kErrPathNotFound : PathError(why, nullptr), why.err);
    return kInvalidHandle;
  }
  struct stat folderInfo {};
  const bool isFolder =
      fstatat(folder, "", &folderInfo, AT_EMPTY_PATH) == 0 && S_ISDIR(folderInfo.st_mode);
  if (!isFolder || *last == '\0') {
    close(folder);
    FailWith(isFolder ? kErrFileNotFound : kErrPathNotFound, isFolder ? 0 : ENOTDIR);
    return kInvalidHandle;
  }
  auto* search = static_cast<PosixSearch*>(std::calloc(1, sizeof(PosixSearch)));
  if (search == nullptr) {
    close(folder);
    Fail(ENOMEM);
    return kInvalidHandle;
  }
  std::memcpy(search->pattern, last, std::strlen(last) + 1);
  if (neverOpen != nullptr) std::snprintf(search->neverOpen, sizeof search->neverOpen, "%s", neverOpen);
  search->held = -1;
  search->keepAccessTime = true;
  search->dev = folderInfo.st_dev;
  search->ino = folderInfo.st_ino;
  // The failure is stored already; closing the search leaves it so.
  auto fail = [search](std::int32_t code, int err) {
    if (search->dir != nullptr) closedir(search->dir);
    std::free(search);
    FailWith(code, err);
    return kInvalidHandle;
  };
  if (!HasWildcards(last)) {
    // One name: look it up directly, never by scanning the folder.
    struct stat info {};
    std::int32_t code = 0;
    const bool found = StatThroughLinks(folder, last, &info, &code);
    close(folder);
    if (!found) return fail(code, LastCause());
    FillEntry(info, last, entry);
    return reinterpret_cast<OsHandle>(search);
  }
  const int listing = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int openError = errno;
  close(folder);
  if (listing < 0) return fail(WindowsErrorFromErrno(openError, nullptr), openError);
  search->dir = fdopendir(listing);
  if (search->dir == nullptr) {
    const int err = errno;
    close(listing);
    return fail(WindowsErrorFromErrno(err, nullptr), err);
  }
  if (!NextMatch(search, entry)) {
    const std::int32_t code =
        LastError() == kErrNoMoreFiles ? kErrFileNotFound : LastError();
    return fail(code, LastCause());
  }
  return reinterpret_cast<OsHandle>(search);
}

bool FindNextFilePosix(OsHandle handle, FindData* entry) {
  auto* search = reinterpret_cast<PosixSearch*>(handle);
  if (search == nullptr || handle == kInvalidHandle) {
    return Fail(EBADF);
  }
  if (search->dir == nullptr) return FailWith(kErrNoMoreFiles, 0);
  return NextMatch(search, entry);
}

bool FindClosePosix(OsHandle handle) {
  auto* search = reinterpret_cast<PosixSearch*>(handle);
  if (search == nullptr || handle == kInvalidHandle) {
    return Fail(EBADF);
  }
  DropHeld(search);
  if (search->dir != nullptr) closedir(search->dir);
  std::free(search);
  return true;
}

// No code pages on POSIX: names are bytes, and the console shows them so.
void CopyNamePosix(const char* name, char* destination, std::size_t size) {
  if (size == 0) return;
  const std::size_t length = std::min(std::strlen(name), size - 1);
  std::memmove(destination, name, length);
  destination[length] = '\0';
}

}  // namespace quilbo::posix

#endif  // !_WIN32
