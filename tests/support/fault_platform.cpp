#include "support/fault_platform.h"

#include <map>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "support/fs_fixtures.h"

namespace quilbo::testing {

namespace {

FaultPlan gPlan;
FaultCounts gCounts;
PlatformApi gTable;
std::string gFlushes;
std::string gChanges;

void Note(std::string& list, std::uint64_t call) {
  if (!list.empty()) list.push_back(',');
  list.append(std::to_string(call));
}

// Whether a call may have changed what the disk holds (writes to the
// console and opens of existing files do not).
template <Service S, typename R, typename... A>
bool Changed(R result, A... args) {
  const auto values = std::make_tuple(args...);
  if constexpr (S == Service::kCreateFileAt) {
    return result != kInvalidHandle && std::get<3>(values) != FileCreation::kOpenExisting;
  } else if constexpr (S == Service::kWriteFile) {
    return NativePlatform().fileType(std::get<0>(values)) == FileKind::kDisk;
  } else {
    return S == Service::kSetEndOfFile || S == Service::kMoveFileAt ||
           S == Service::kCreateDirectory || S == Service::kCreateFileAsAt || S == Service::kNameFileAt ||
           S == Service::kDeleteFileAt;
  }
}

[[noreturn]] void EndProcess() {
  NativePlatform().exitProcess(kCrashExitCode);
  __builtin_trap();
}

// For a simulated power loss: what each file the run wrote holds on the
// disk (its bytes when first opened, or at its last flush), and whether it
// was written since; known by the names the run's folder steps give it,
// following its renames. A run writes only inside its open folders.
struct DiskImage {
  std::string bytes;
  bool dirty;
};
std::map<std::string, DiskImage> gImages;
// Files without a name are known by a key that no path has.
std::string UnnamedKey(OsHandle file) {
  std::string key(1, '\n');
  key.append(std::to_string(file));
  return key;
}
std::map<OsHandle, std::string> gWriters;
std::map<OsHandle, std::string> gFolders;  // open folders and their paths

std::string Joined(OsHandle folder, const char* name) {
  const std::string& path = gFolders[folder];
  const bool separated = path.empty() || std::string_view("/\\:").find(path.back()) != std::string_view::npos;
  return path + (separated ? "" : std::string(1, kSep)) + name;
}

// Every file loses its writes since its last flush; then the process ends.
[[noreturn]] void PowerLoss() {
  SetPlatform(nullptr);  // the native services from here on
  const PlatformApi& os = NativePlatform();
  for (const auto& [name, image] : gImages) {
    if (!image.dirty || name[0] == '\n') continue;
    const OsHandle file = CreateFileByPath(name.c_str(), FileAccess::kReadWrite, FileCreation::kCreateAlways);
    if (file == kInvalidHandle) continue;
    std::uint32_t done = 0;
    os.writeFile(file, image.bytes.data(), static_cast<std::uint32_t>(image.bytes.size()), &done);
    os.closeHandle(file);
  }
  EndProcess();
}

// What file holds now, read through its handle, which stays where it was.
std::string ReadThrough(OsHandle file) {
  const PlatformApi& os = NativePlatform();
  std::int64_t at = 0;
  std::string bytes;
  if (!os.setFilePointer(file, 0, SeekFrom::kCurrent, &at) || !os.setFilePointer(file, 0, SeekFrom::kBegin, nullptr))
    return bytes;
  char block[1 << 16];
  std::uint32_t got = 0;
  while (os.readFile(file, block, sizeof block, &got) && got != 0) bytes.append(block, got);
  os.setFilePointer(file, at, SeekFrom::kBegin, nullptr);
  return bytes;
}

DiskImage* ImageOf(OsHandle file) {
  const auto writer = gWriters.find(file);
  const auto found = writer == gWriters.end() ? gImages.end() : gImages.find(writer->second);
  return found == gImages.end() ? nullptr : &found->second;
}

// Keeps the disk images up to date after a call that succeeded.
template <Service S, typename R, typename... A>
void Track(R result, A... args) {
  const auto v = std::make_tuple(args...);
  if constexpr (S == Service::kCloseHandle) gWriters.erase(std::get<0>(v));
  if constexpr (std::is_same_v<R, OsHandle>) {
    if (result == kInvalidHandle) return;
  } else if (!result) {
    return;
  }
  if constexpr (S == Service::kCreateFileAt) {
    const std::string name = Joined(std::get<0>(v), std::get<1>(v));
    if (std::get<2>(v) != FileAccess::kReadWrite) return;
    gWriters[result] = name;
    if (gImages.count(name) == 0) gImages[name] = DiskImage{ReadWholeFile(name), false};
    if (std::get<3>(v) == FileCreation::kCreateAlways) gImages[name].bytes.clear();
  } else if constexpr (S == Service::kCreateFileAsAt) {
    gWriters[result] = Joined(std::get<0>(v), std::get<1>(v));
    gImages[gWriters[result]] = DiskImage{std::string(), std::get<4>(v) != 0};
  } else if constexpr (S == Service::kCreateUnnamedAt) {
    gWriters[result] = UnnamedKey(result);
    gImages[gWriters[result]] = DiskImage{std::string(), false};
  } else if constexpr (S == Service::kNameFileAt) {
    const std::string name = Joined(std::get<0>(v), std::get<2>(v));
    const std::string key = UnnamedKey(std::get<1>(v));
    if (gImages.count(key) != 0) gImages[name] = gImages[key];
    gImages.erase(key);
    gWriters[std::get<1>(v)] = name;
  } else if constexpr (S == Service::kOpenFolder) {
    gFolders[result] = std::get<0>(v);
  } else if constexpr (S == Service::kWriteFile) {
    if (DiskImage* image = ImageOf(std::get<0>(v))) image->dirty = true;
  } else if constexpr (S == Service::kSetEndOfFile) {
    std::int64_t at = 0;
    DiskImage* image = ImageOf(std::get<0>(v));
    if (image != nullptr && NativePlatform().setFilePointer(std::get<0>(v), 0, SeekFrom::kCurrent, &at) &&
        static_cast<std::uint64_t>(at) < image->bytes.size())
      image->bytes.resize(static_cast<std::size_t>(at));  // a size change is kept, as names are
  } else if constexpr (S == Service::kFlushFile) {
    if (DiskImage* image = ImageOf(std::get<0>(v))) *image = {ReadThrough(std::get<0>(v)), false};
  } else if constexpr (S == Service::kFlushFilesAt) {
    // Only the files named count as flushed, though one flush of the file
    // system may write more.
    for (std::size_t i = 0; i < std::get<2>(v); ++i) {
      const std::string name = Joined(std::get<0>(v), std::get<1>(v)[i]);
      if (gImages.count(name) != 0) gImages[name] = DiskImage{ReadWholeFile(name), false};
    }
  } else if constexpr (S == Service::kMoveFileAt) {
    const std::string from = Joined(std::get<0>(v), std::get<1>(v));
    const std::string to = Joined(std::get<2>(v), std::get<3>(v));
    if (gImages.count(from) != 0) gImages[to] = gImages[from];
    gImages.erase(gImages.count(from) != 0 ? from : to);
  } else if constexpr (S == Service::kDeleteFileAt) {
    gImages.erase(Joined(std::get<0>(v), std::get<1>(v)));
  }
}

// Counts one call of service and says whether it must fail; a failing call
// leaves the plan's error as the last error.
bool ShouldFail(Service service) {
  if (gPlan.crashBefore != 0 && gCounts.total + 1 == gPlan.crashBefore) EndProcess();
  ++gCounts.total;
  const std::uint64_t nth = ++gCounts.byService[static_cast<int>(service)];
  if (service == Service::kFlushFile || service == Service::kFlushFolder ||
      service == Service::kFlushFilesAt)
    Note(gFlushes, gCounts.total);
  bool fail = gPlan.failCall != 0 && gCounts.total == gPlan.failCall;
  if (service == gPlan.failService)
    fail = fail || (gPlan.failOnce ? nth == gPlan.fromNth : nth >= gPlan.fromNth);
  if (fail) {
    ++gCounts.injected;
    NativePlatform().setLastError(gPlan.error);
  }
  return fail;
}

// Each wrapper forwards to the native table unless the plan says fail.
template <Service S, auto Member, auto FailValue>
struct Wrap;

template <Service S, typename R, typename... A, R (*PlatformApi::*Member)(A...), auto FailValue>
struct Wrap<S, Member, FailValue> {
  static R Call(A... args) {
    if (ShouldFail(S)) return static_cast<R>(FailValue);
    const R result = (NativePlatform().*Member)(args...);
    if (Changed<S>(result, args...)) Note(gChanges, gCounts.total);
    if (gPlan.powerLossAfter == 0) return result;
    Track<S>(result, args...);
    if (gCounts.total == gPlan.powerLossAfter) PowerLoss();
    return result;
  }
};

// Work meant for another thread runs in the call that starts it.
OsHandle StartWorkHere(WorkFunction work, void* context) {
  work(context);
  return 1;
}

bool FinishWorkHere(OsHandle /*work*/) { return true; }

}  // namespace

const char* ServiceName(Service service) {
#define QUILBO_SERVICE_NAME(field, service, failValue) #field,
  static constexpr const char* kNames[] = {QUILBO_FAILABLE_SERVICES(QUILBO_SERVICE_NAME)};
#undef QUILBO_SERVICE_NAME
  return kNames[static_cast<int>(service)];
}

void InstallFaults(const FaultPlan& plan) {
  gPlan = plan;
  gCounts = FaultCounts{};
  gFlushes.clear();
  gChanges.clear();
  gImages.clear();
  gWriters.clear();
  gFolders.clear();
  gTable = NativePlatform();
#define QUILBO_WRAP(field, service, failValue) \
  gTable.field = &Wrap<Service::service, &PlatformApi::field, failValue>::Call;
  QUILBO_FAILABLE_SERVICES(QUILBO_WRAP)
#undef QUILBO_WRAP
  gTable.startWork = StartWorkHere;
  gTable.finishWork = FinishWorkHere;
  SetPlatform(&gTable);
}

void RemoveFaults() { SetPlatform(nullptr); }
const FaultCounts& Counts() { return gCounts; }
const char* FlushCallList() { return gFlushes.c_str(); }
const char* ChangeCallList() { return gChanges.c_str(); }
std::uint64_t CallsOf(Service service) { return gCounts.byService[static_cast<int>(service)]; }
PlatformApi& FaultTable() { return gTable; }

}  // namespace quilbo::testing
