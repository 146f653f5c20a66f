// /D: deleting the logs a run archived, and nothing else.
//
// Logs are deleted in groups. A group's archives go to the disk in one
// flush, then its logs go: no log goes before its archive is on the disk.
// The flush and the deletions of one group run beside the run (POSIX: on
// a thread of their own) while the next group is copied. A group is
// bounded in logs and in time, so a run killed outright, or a power loss,
// leaves at most about a second of logs to be archived again (never lost).
//
// A log goes only when nobody else holds it open and it is still the file
// and the size that was copied; else it stays, a note says why, and the
// next run archives it again. POSIX moves a log aside first, under a name
// of the run's own (AsideName), so that a writer that found its name just
// before is caught (see delete_posix.cpp). A run that dies in that moment
// leaves the aside name: a leftover, finished by the next run with /D into
// the same archive folder, and by no other.
#ifndef QUILBO_REMOVAL_REMOVAL_H_
#define QUILBO_REMOVAL_REMOVAL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace quilbo {

struct RunFolders;

// Names the run gives files of its own in the log folder start so; the
// walk never opens such a name for a look.
inline constexpr char kReservedNamePrefix[] = ".quilbo-";
struct ArchivedLog;

#ifdef _WIN32
// Windows keeps writers out with sharing modes: no aside names, and the
// flush runs in place (a flush holding an archive open would refuse the
// replacement a cut makes of it meanwhile).
inline constexpr bool kMovesAside = false;
#else
inline constexpr bool kMovesAside = true;
#endif

// Why a log stays (besides the system's own error numbers).
inline constexpr std::int32_t kKeptMoreThanText = -1;  // bytes after its end marker

// A log whose text is in its archive, on its way out.
struct PendingRemoval {
  OsHandle file = kInvalidHandle;  // the log, open since its copy
  std::string log;                 // its name in the log folder (a leftover's aside name)
  std::string archive;             // its archive's name in the archive folder
  std::int64_t copiedSize = -1;    // its size when its copy ended; -1: at an end marker
  FileIdentity identity{};         // the file its open reached
  // Set by its deletion:
  std::int32_t error = 0;  // 0: deleted; else why it stays...
  std::int32_t cause = 0;  // ...and the system's own reason, when it said one
  std::string aside;       // its aside name while it is there
  bool finish = false;     // aside, and a writer added to it: the run archives that
};

// The flush and the deletions of one group, beside the run.
struct GroupWork {
  OsHandle archives = kInvalidHandle;
  OsHandle logs = kInvalidHandle;
  FileIdentity archiveFolder{};
  std::vector<PendingRemoval>* group = nullptr;
  SystemFailure flushError{};  // code 0: the archives are on the disk
};

struct RemovalGroup {
  std::vector<PendingRemoval> logs;       // archived, waiting for their group's flush
  std::vector<PendingRemoval> going;      // the group being flushed and deleted
  std::vector<PendingRemoval> finishing;  // aside, with text added since their copy
  GroupWork work;
  OsHandle working = kInvalidHandle;  // the work on going, when on its own thread
  bool busy = false;                  // going's work started, not yet finished
  std::uint64_t startedAt = 0;        // tick of logs' first log
  std::size_t bound = 1;              // most logs in a group
  FileIdentity archiveFolder{};       // named in aside names
  std::int32_t truncateKb = 0;        // the run's /T, for what is finished
};

// Bounds of a group. Each flush costs the disk's time, so a group is large;
// but its logs stay open until they go, two groups at a time, so it takes
// at most half the files the process may open, less a reserve for the
// rest. With two groups under way, half a second each keeps what a kill
// can leave to about a second of the run's work.
inline constexpr std::size_t kGroupLogs = 4096;
inline constexpr std::uint64_t kGroupMilliseconds = 500;
inline constexpr std::size_t kFilesReserved = 64;

// Sets the group up for the run: its bounds and the archive folder's
// identity (asides name it).
void StartRemovals(RemovalGroup& group, const RunFolders& folders, std::int32_t truncateKb);
// Adds a log the run archived (done, kept open) to the group; once the
// group is full or old, and the group before is done, it goes on its way.
// A log with more than text in it is kept at once, with its note.
void AddRemoval(RemovalGroup& group, const RunFolders& folders, std::string_view log,
                std::string_view archive, const ArchivedLog& done);
// At the end of the run: every archive left goes to the disk, then the
// logs left go; what writers added to logs caught aside is archived and
// those go too. A failed flush ends the run with the report before any
// log of its group goes.
void RemoveLogs(RemovalGroup& group, RunFolders& folders);
// On the way to the report of a failure that ends the run: the logs
// archived before it go as they would have gone one by one, so that the
// next run does not archive them again; those of a failed flush stay.
// Raises nothing.
void RemoveLogsBeforeFailure(RemovalGroup& group, const RunFolders& folders) noexcept;

// Aside names: ".quilbo-<bytes archived>-<file>-<archive folder>-<log>",
// the file's and the archive folder's identities (index) in hexadecimal.
// Empty when the result would be longer than a name may be.
std::string AsideName(std::string_view log, std::int64_t archived, const FileIdentity& file,
                      const FileIdentity& archiveFolder);
struct AsideParts {
  std::string_view log;
  std::int64_t archived = 0;
  std::uint64_t file = 0;
  std::uint64_t archiveFolder = 0;
};
// Whether name has exactly the form AsideName writes.
bool ParseAsideName(std::string_view name, AsideParts* parts);

// Whether the entry name of the log folder is a leftover of an
// interrupted deletion: an aside name that its own file proves (a plain
// file, not a link, whose identity the name records), or one gone since
// the walk listed it (a log of the run's own deletion passing by). Such a
// name is never taken for a log; anything else is one, whatever its name.
bool IsLeftover(const RunFolders& folders, std::string_view name);
// The leftovers of this archive folder whose logs the run's pattern
// (its last part, logPattern) matches: with /D what a writer added after
// the bytes archived goes to the log's archive, with /T applied, and they
// join the group; without /D they stay, and a note says so.
void FinishLeftovers(RemovalGroup& group, RunFolders& folders, std::string_view logPattern,
                     bool deleting);

// The platform's deletion of a group whose archives are on the disk
// (delete_posix.cpp, delete_win32.cpp): sets each log's error (0 when it
// went), aside and finish. Closes no log's handle.
void DeleteGroup(GroupWork& work);

// The number of the platform call that just failed, for log's error; its
// reason is kept in log for the note.
std::int32_t KeepFailure(PendingRemoval& log);

// The note for a log that stays: its text is archived again by the next
// run, which a person should know, and why.
void NoteKeptLog(const RunFolders& folders, const PendingRemoval& log);

}  // namespace quilbo

#endif  // QUILBO_REMOVAL_REMOVAL_H_
