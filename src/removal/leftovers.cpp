// Leftovers of a deletion that a run did not live to finish: logs under
// an aside name. A name proves itself: it records the file's own identity
// (checked on the entry, a link never counts) and the archive folder its
// run archived into, so a user's file that merely looks like one, a link,
// or another archive folder's leftover is never taken for it.
#include <charconv>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive_log.h"
#include "errors/notes.h"
#include "fs/run_folders.h"
#include "fs/search.h"
#include "removal/removal.h"

namespace quilbo {

namespace {

// Longest entry name the system takes.
constexpr std::size_t kLongestName = 255;

void AppendHex(std::string& text, std::uint64_t value) {
  char digits[17];
  const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
  text.append(digits, end);
}

// A number as AsideName writes it (no sign, no leading zero) up to '-'.
template <typename Number>
bool TakeNumber(std::string_view& rest, int base, Number* value) {
  const std::size_t dash = rest.find('-');
  if (dash == 0 || dash == std::string_view::npos || (rest[0] == '0' && dash > 1)) return false;
  for (std::size_t i = 0; i < dash; ++i) {
    const char c = rest[i];
    if (!((c >= '0' && c <= '9') || (base == 16 && c >= 'a' && c <= 'f'))) return false;
  }
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + dash, *value, base);
  if (error != std::errc() || end != rest.data() + dash) return false;
  rest.remove_prefix(dash + 1);
  return true;
}

// Whether name is a leftover its own file proves; *gone when the name
// has the form but no longer exists.
bool IsOwnLeftover(const RunFolders& folders, std::string_view name, AsideParts* parts,
                   bool* gone = nullptr) {
  if (!ParseAsideName(name, parts)) return false;
  const std::string text(name);
  FileInfo info{};
  if (!Os().entryInfoAt(folders.logs, text.c_str(), false, &info)) {
    if (gone != nullptr) *gone = Os().lastError() == kErrFileNotFound;
    return false;
  }
  return (info.attributes & (kAttrLink | kAttrDirectory)) == 0 && info.identity.index == parts->file;
}

}  // namespace

std::string AsideName(std::string_view log, std::int64_t archived, const FileIdentity& file,
                      const FileIdentity& archiveFolder) {
  std::string name(kReservedNamePrefix);
  name += std::to_string(archived);
  name += '-';
  AppendHex(name, file.index);
  name += '-';
  AppendHex(name, archiveFolder.index);
  name += '-';
  name += log;
  if (name.size() > kLongestName) name.clear();
  return name;
}

bool ParseAsideName(std::string_view name, AsideParts* parts) {
  const std::string_view prefix(kReservedNamePrefix);
  if (name.substr(0, prefix.size()) != prefix) return false;
  std::string_view rest = name.substr(prefix.size());
  AsideParts found;
  if (!TakeNumber(rest, 10, &found.archived) || !TakeNumber(rest, 16, &found.file) ||
      !TakeNumber(rest, 16, &found.archiveFolder) || rest.empty())
    return false;
  found.log = rest;
  *parts = found;
  return true;
}

bool IsLeftover(const RunFolders& folders, std::string_view name) {
  if (!kMovesAside || folders.logs == kInvalidHandle) return false;
  AsideParts parts;
  bool gone = false;
  // Gone since the listing: a log of this run's own deletion, which runs
  // beside the walk, passing through its aside name.
  return IsOwnLeftover(folders, name, &parts, &gone) || gone;
}

void FinishLeftovers(RemovalGroup& group, RunFolders& folders, std::string_view logPattern,
                     bool deleting) {
  if (!kMovesAside || folders.logs == kInvalidHandle || folders.archives == kInvalidHandle) return;
  // Listed first, handled after: the handling renames and removes.
  std::vector<std::string> found;
  SearchEntry entry{};
  entry.Handle = kInvalidHandle;
  entry.NeverOpen = kReservedNamePrefix;
  const std::string pattern =
      folders.logPath + std::string(kReservedNamePrefix) + "*-" + std::string(logPattern);
  for (SearchFirst(pattern, 0x27, entry); SearchError == 0; SearchNext(entry))
    found.emplace_back(entry.OwnName);
  SearchClose(entry);
  for (const std::string& name : found) {
    AsideParts parts;
    if (!IsOwnLeftover(folders, name, &parts) ||
        parts.archiveFolder != group.archiveFolder.index)
      continue;
    if (!deleting) {
      const std::string path = folders.logPath + name;
      WriteNote("%.*s holds %.*s, left aside by a run with /D that stopped; the next run "
                "with /D finishes it",
                static_cast<int>(path.size()), path.data(), static_cast<int>(parts.log.size()),
                parts.log.data());
      continue;
    }
    ArchivedLog done;
    if (ArchiveLogFile(folders, name, parts.log, parts.archived, group.truncateKb, true, &done))
      AddRemoval(group, folders, name, parts.log, done);
  }
}

}  // namespace quilbo
