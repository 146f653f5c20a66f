#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/archive_log.h"
#include "archive/log_removal.h"
#include "fs/run_folders.h"
#include "fs/search.h"
#include "platform/aside_name.h"

namespace quilbo {

void FinishDeletions(RunFolders& folders, std::string_view logPattern,
                     std::int32_t truncateKb, RemovalGroup& group) {
  // Listed first, handled after: the handling renames and removes.
  std::vector<std::string> found;
  SearchEntry entry{};
  entry.Handle = kInvalidHandle;
  const std::string pattern =
      folders.logPath + std::string(kAsidePrefix) + "*-" + std::string(logPattern);
  for (std::int32_t code = StartSearch(pattern.c_str(), 0x27, entry); code == 0;
       code = ContinueSearch(entry))
    found.emplace_back(entry.OwnName);
  StopSearch(entry);
  for (const std::string& name : found) {
    std::string_view log;
    std::int64_t archived = 0;
    if (!ParseAsideName(name, &log, &archived)) continue;
    PendingRemoval removal{};
    ArchiveLogFile(folders, name, log, archived, truncateKb, &removal);
    if (removal.file != kInvalidHandle) AddRemoval(group, folders, std::move(removal));
  }
}

}  // namespace quilbo
