#ifndef _WIN32

#include "platform/posix_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace quilbo {

namespace {

// As many links as the kernel follows in one name.
constexpr int kMaxLinks = 40;

bool Fail(PathFailure* why, int err, bool inFolder) {
  why->err = err;
  why->inFolder = inFolder;
  return false;
}

void CloseFd(int fd) {
  if (fd >= 0) close(fd);
}

// The entry behind an O_PATH descriptor itself, a link not followed.
bool StatOf(int fd, struct stat* info) {
  return fstatat(fd, "", info, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) == 0;
}

// The text of the link open as link (O_PATH, not followed), when its owner
// may be trusted. The text of a link never changes, so what is read here
// is what the ownership was checked for.
bool ReadTrustedLink(int link, const struct stat& info, std::string* target,
                     bool inFolder, PathFailure* why) {
  if (!TrustedLinkOwner(info.st_uid))
    return Fail(why, kErrnoUntrustedLink, inFolder);
  char text[PATH_MAX + 1];
  const ssize_t n = readlinkat(link, "", text, sizeof text);
  if (n < 0) return Fail(why, errno, inFolder);
  if (static_cast<std::size_t>(n) >= sizeof text)
    return Fail(why, ENAMETOOLONG, inFolder);
  if (n == 0) return Fail(why, ENOENT, inFolder);
  target->assign(text, static_cast<std::size_t>(n));
  return true;
}

int OpenPath(int folder, const char* name) {
  return openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
}

// Replaces *folder (owned) with the file system's root.
bool ToRoot(int* folder, PathFailure* why) {
  const int root = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) return Fail(why, errno, true);
  CloseFd(*folder);
  *folder = root;
  return true;
}

// Walks path from *folder (owned, replaced as the walk descends) to the
// folder holding its last component, whose name goes to *name. Trailing
// separators are dropped; a path of separators only names ".".
bool WalkFolders(int* folder, std::string path, std::string* name, int* links,
                 PathFailure* why) {
  if (path.empty()) return Fail(why, ENOENT, true);
  if (path[0] == '/' && !ToRoot(folder, why)) return false;
  for (;;) {
    std::size_t begin = path.find_first_not_of('/');
    if (begin == std::string::npos) {
      name->assign(1, '.');
      return true;
    }
    std::size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    const std::size_t next = path.find_first_not_of('/', end);
    if (next == std::string::npos) {
      name->assign(path, begin, end - begin);
      return true;
    }
    const std::string component(path, begin, end - begin);
    const int fd = OpenPath(*folder, component.c_str());
    if (fd < 0) return Fail(why, errno, true);
    struct stat info {};
    if (!StatOf(fd, &info)) {
      const int err = errno;
      CloseFd(fd);
      return Fail(why, err, true);
    }
    if (S_ISDIR(info.st_mode)) {
      CloseFd(*folder);
      *folder = fd;
      path.erase(0, next);
      continue;
    }
    if (!S_ISLNK(info.st_mode)) {
      CloseFd(fd);
      return Fail(why, ENOTDIR, true);
    }
    std::string target;
    const bool read = ++*links <= kMaxLinks
                          ? ReadTrustedLink(fd, info, &target, true, why)
                          : Fail(why, ELOOP, true);
    CloseFd(fd);
    if (!read) return false;
    // The rest of the path now continues from where the link leads.
    target.push_back('/');
    target.append(path, next, std::string::npos);
    path.swap(target);
    if (path[0] == '/' && !ToRoot(folder, why)) return false;
  }
}

bool StartWalk(int start, std::string_view path, PathSpot* spot, int* links,
               PathFailure* why) {
  spot->folder = openat(start, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (spot->folder < 0) return Fail(why, errno, true);
  if (WalkFolders(&spot->folder, std::string(path), &spot->name, links, why))
    return true;
  ReleaseSpot(spot);
  return false;
}

// spot's name is a link (open as link): resolves its target from spot's
// folder into spot. False when it may not or cannot be followed.
bool FollowLink(PathSpot* spot, int link, int* links, PathFailure* why) {
  struct stat info {};
  if (!StatOf(link, &info)) return Fail(why, errno, false);
  if (++*links > kMaxLinks) return Fail(why, ELOOP, false);
  std::string target;
  if (!ReadTrustedLink(link, info, &target, false, why)) return false;
  return WalkFolders(&spot->folder, target, &spot->name, links, why);
}

}  // namespace

void ReleaseSpot(PathSpot* spot) {
  CloseFd(spot->folder);
  spot->folder = -1;
}

bool TrustedLinkOwner(uid_t owner) { return owner == 0 || owner == geteuid(); }

bool ResolveParent(int start, std::string_view path, PathSpot* spot,
                   PathFailure* why) {
  int links = 0;
  return StartWalk(start, path, spot, &links, why);
}

int OpenAtSpot(PathSpot* spot, int flags, mode_t mode, PathFailure* why) {
  int links = 0;
  for (;;) {
    const int fd = openat(spot->folder, spot->name.c_str(), flags | O_NOFOLLOW,
                          mode);
    if (fd >= 0) return fd;
    const int err = errno;
    // O_NOFOLLOW refuses a link at the end with ELOOP, O_EXCL with EEXIST.
    if (err != ELOOP && !(err == EEXIST && (flags & O_EXCL) != 0)) {
      Fail(why, err, false);
      return -1;
    }
    const int link = OpenPath(spot->folder, spot->name.c_str());
    if (link < 0) {
      // Gone since: try again, as far as the budget of links goes.
      if (errno == ENOENT && ++links <= kMaxLinks) continue;
      Fail(why, errno == ENOENT ? err : errno, false);
      return -1;
    }
    struct stat info {};
    if (!StatOf(link, &info)) {
      Fail(why, errno, false);
      CloseFd(link);
      return -1;
    }
    if (!S_ISLNK(info.st_mode)) {
      CloseFd(link);
      if (err == EEXIST) {
        Fail(why, EEXIST, false);
        return -1;
      }
      // A link that was replaced after the open refused it: once more.
      if (++links <= kMaxLinks) continue;
      Fail(why, ELOOP, false);
      return -1;
    }
    if ((flags & O_EXCL) != 0) {
      // A name that is a link exists, whether or not it leads anywhere;
      // another user's link still counts as not there.
      const bool trusted = TrustedLinkOwner(info.st_uid);
      CloseFd(link);
      Fail(why, trusted ? EEXIST : kErrnoUntrustedLink, false);
      return -1;
    }
    const bool followed = FollowLink(spot, link, &links, why);
    CloseFd(link);
    if (!followed) return -1;
  }
}

int ResolvePath(int start, std::string_view path, PathFailure* why) {
  PathSpot spot{-1, {}};
  int links = 0;
  if (!StartWalk(start, path, &spot, &links, why)) return -1;
  for (;;) {
    const int fd = OpenPath(spot.folder, spot.name.c_str());
    if (fd < 0) {
      Fail(why, errno, false);
      break;
    }
    struct stat info {};
    if (!StatOf(fd, &info)) {
      Fail(why, errno, false);
      CloseFd(fd);
      break;
    }
    if (!S_ISLNK(info.st_mode)) {
      ReleaseSpot(&spot);
      return fd;
    }
    const bool followed = FollowLink(&spot, fd, &links, why);
    CloseFd(fd);
    if (!followed) break;
  }
  ReleaseSpot(&spot);
  return -1;
}

}  // namespace quilbo

#endif  // !_WIN32
