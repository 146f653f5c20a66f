// Resolving a name on POSIX one component at a time, so that what is
// checked is what is opened. A symbolic link is followed only when the link
// itself belongs to the running user or to root: in a folder that others
// can write, another user's link would otherwise let a run as root read or
// write any file. Such a link counts as not there. Only the POSIX build has
// this.
#ifndef QUILBO_PLATFORM_POSIX_PATH_H_
#define QUILBO_PLATFORM_POSIX_PATH_H_

#ifndef _WIN32

#include <sys/types.h>

#include <string>
#include <string_view>

namespace quilbo {

// The errno-like reason for a link that is not followed because another
// user owns it; outside the range of the system's own errno values.
inline constexpr int kErrnoUntrustedLink = 0x10001;

// Why a resolution failed: an errno value (or kErrnoUntrustedLink), and
// whether it was a folder on the way that is missing or not a folder.
struct PathFailure {
  int err;
  bool inFolder;
};

// A folder, open without read access (O_PATH), and one name inside it.
// The name is a single component and has not been followed.
struct PathSpot {
  int folder;  // -1 when not resolved; AT_FDCWD is never used
  std::string name;
};

// Closes spot's folder (when open).
void ReleaseSpot(PathSpot* spot);

// Whether a link with this owner may be followed.
bool TrustedLinkOwner(uid_t owner);

// Resolves every component of path but the last, starting at folder start
// (AT_FDCWD: the current folder), following trusted links. '/' is the only
// separator. A path ending in '/' or naming "/" ends in the name ".". Fills
// spot and returns true; false with why filled otherwise.
bool ResolveParent(int start, std::string_view path, PathSpot* spot,
                   PathFailure* why);

// Opens spot's name with flags (O_NOFOLLOW and O_CLOEXEC added; mode for
// O_CREAT). When the name is a trusted link, its target is resolved from
// spot's folder and opened instead; spot then holds the final folder and
// name. With O_EXCL, a name that is a link fails as existing (EEXIST).
// Returns the descriptor, or -1 with why filled.
int OpenAtSpot(PathSpot* spot, int flags, mode_t mode, PathFailure* why);

// Resolves the whole path from start, trusted links at the end included;
// returns an O_PATH descriptor of what it names, or -1 with why filled.
int ResolvePath(int start, std::string_view path, PathFailure* why);

}  // namespace quilbo

#endif  // !_WIN32

#endif  // QUILBO_PLATFORM_POSIX_PATH_H_
