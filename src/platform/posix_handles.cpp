// POSIX handles the run holds: what each one's open found, kept while it
// is open, and their closing.

#ifndef _WIN32

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/posix_internal.h"

namespace quilbo::posix {

// What the open of a handle the core holds found, so that asking again
// costs no call: a handle's kind never changes while it is open, and a
// log's access and owner, as its open found them, are the model of its
// new archive. A handle is forgotten when it closes. Kept by descriptor,
// so that a whole group of logs held open for deletion is still known.
namespace {
struct OpenedFacts {
  bool known;
  mode_t mode;
  uid_t uid;
  gid_t gid;
  dev_t dev;
  ino_t ino;
};
constexpr int kOpenedKept = 1 << 16;  // descriptors above are asked again
thread_local std::vector<OpenedFacts> tOpened;  // grows with the highest descriptor

OpenedFacts* FactsOf(int fd) {
  const auto at = static_cast<std::size_t>(fd);
  return fd >= 0 && at < tOpened.size() ? &tOpened[at] : nullptr;
}
}  // namespace

void RememberOpened(int fd, const struct stat& info) {
  if (fd < 0 || fd >= kOpenedKept) return;
  if (FactsOf(fd) == nullptr) tOpened.resize(static_cast<std::size_t>(fd) + 1);
  *FactsOf(fd) = OpenedFacts{true, info.st_mode, info.st_uid, info.st_gid, info.st_dev, info.st_ino};
}

bool OpenedInfo(int fd, struct stat* info) {
  const OpenedFacts* found = FactsOf(fd);
  if (found == nullptr || !found->known) return false;
  const OpenedFacts& facts = *found;
  *info = {};
  info->st_mode = facts.mode;
  info->st_uid = facts.uid;
  info->st_gid = facts.gid;
  info->st_dev = facts.dev;
  info->st_ino = facts.ino;
  return true;
}

void CloseOpened(int fd) {
  ForgetOpened(fd);
  close(fd);
}

void ForgetOpened(int fd) {
  if (OpenedFacts* facts = FactsOf(fd)) facts->known = false;
}

bool CloseHandlePosix(OsHandle handle) {
  ForgetOpened(static_cast<int>(handle));
  if (close(static_cast<int>(handle)) != 0 && errno != EINTR)
    return Fail(errno);
  return true;
}

}  // namespace quilbo::posix

#endif  // !_WIN32
