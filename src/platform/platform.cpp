#include "platform/platform.h"

#include <cstring>

namespace quilbo {

namespace {
const PlatformApi* gCurrent = nullptr;
}  // namespace

const PlatformApi& Os() {
  if (gCurrent == nullptr) gCurrent = &NativePlatform();
  return *gCurrent;
}

void SetPlatform(const PlatformApi* api) {
  gCurrent = api != nullptr ? api : &NativePlatform();
}

namespace {

// A whole path as its folder, opened for one step, and its last name.
struct PathStep {
  OsHandle folder;
  const char* name;
};

// Where the folder part of path ends: after its last separator (Windows:
// also a drive's colon).
std::size_t FolderPartLength(const char* path) {
#ifdef _WIN32
  constexpr const char* kSeparators = "\\/:";
#else
  constexpr const char* kSeparators = "/";
#endif
  std::size_t end = 0;
  for (std::size_t i = 0; path[i] != '\0'; ++i)
    if (std::strchr(kSeparators, path[i]) != nullptr) end = i + 1;
  return end;
}

bool OpenPathStep(const char* path, PathStep* step) {
  const std::size_t length = FolderPartLength(path);
  char folder[kPathBytes];
  if (length >= sizeof folder) {
    Os().setLastError(kErrFilenameTooLong);
    return false;
  }
  std::memcpy(folder, path, length);
#ifdef _WIN32
  folder[length] = '\0';  // "C:" and "logs\" are folders as they stand
#else
  folder[length > 1 ? length - 1 : length] = '\0';  // "logs/" is logs; "/" stays whole
#endif
  step->folder = Os().openFolder(folder);
  step->name = path + length;
  return step->folder != kInvalidHandle;
}

// Closes the step's folder; the outcome of the step stays for lastError
// (a close that succeeds leaves it).
template <typename Result>
Result EndPathStep(const PathStep& step, Result result) {
  const std::int32_t error = Os().lastError();
  if (!Os().closeFolder(step.folder)) Os().setLastError(error);
  return result;
}

}  // namespace

OsHandle CreateFileByPath(const char* path, FileAccess access, FileCreation creation) {
  PathStep step{};
  if (!OpenPathStep(path, &step)) return kInvalidHandle;
  return EndPathStep(step, Os().createFileAt(step.folder, step.name, access, creation));
}

bool DeleteFileByPath(const char* path) {
  PathStep step{};
  if (!OpenPathStep(path, &step)) return false;
  return EndPathStep(step, Os().deleteFileAt(step.folder, step.name));
}

bool EntryInfoByPath(const char* path, bool followLinks, FileInfo* info) {
  PathStep step{};
  if (!OpenPathStep(path, &step)) return false;
  // A path that ends in a separator ("/", "logs/", a drive's root) names its folder.
  const char* name = step.name[0] != '\0' ? step.name : ".";
  return EndPathStep(step, Os().entryInfoAt(step.folder, name, followLinks, info));
}

bool MoveFileByPath(const char* from, const char* to) {
  PathStep source{};
  if (!OpenPathStep(from, &source)) return false;
  PathStep target{};
  if (!OpenPathStep(to, &target)) return EndPathStep(source, false);
  const bool moved = Os().moveFileAt(source.folder, source.name, target.folder, target.name, false);
  return EndPathStep(source, EndPathStep(target, moved));
}

}  // namespace quilbo
