// Windows deletion of a group of logs whose archives are on the disk: the
// sharing modes do what leases do on POSIX. A log opened for its deletion
// sharing nothing but deletion is refused while any other process holds it
// open, and nobody else can open it until that handle closes; it must
// still be the file copied, at the size copied.
#ifdef _WIN32

#include <utility>

#include "removal/removal.h"

namespace quilbo {

namespace {

std::int32_t DeleteOne(OsHandle folder, PendingRemoval& log) {
  const PlatformApi& os = Os();
  const OsHandle held = os.openToDeleteAt(folder, log.log.c_str());
  if (held == kInvalidHandle) return KeepFailure(log);
  FileInfo info{};
  std::int32_t error = 0;
  if (!os.fileInfoOf(held, &info)) {
    error = KeepFailure(log);
  } else if ((info.attributes & kAttrLink) == 0 &&
             (!SameFile(info.identity, log.identity) ||
              (log.copiedSize >= 0 && info.size != static_cast<std::uint64_t>(log.copiedSize)))) {
    error = kErrSharingViolation;
  } else if (!os.deleteFileAt(folder, log.log.c_str())) {
    error = KeepFailure(log);
  }
  os.closeHandle(held);  // the deletion takes effect here
  return error;
}

}  // namespace

void DeleteGroup(GroupWork& work) {
  for (PendingRemoval& log : *work.group) {
    // This run's own handle would refuse the deletion.
    Os().closeHandle(std::exchange(log.file, kInvalidHandle));
    log.error = DeleteOne(work.logs, log);
  }
}

}  // namespace quilbo

#endif  // _WIN32
