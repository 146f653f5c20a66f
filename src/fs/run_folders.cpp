#include "fs/run_folders.h"

#include "fs/file_helpers.h"

namespace quilbo {

namespace {

OsHandle OpenFolder(std::string_view path, SystemFailure* error) {
  const char* name = ScratchName(path);
  const OsHandle folder = name != nullptr ? Os().openFolder(name) : kInvalidHandle;
  *error = folder != kInvalidHandle ? SystemFailure{0, 0}
           : name == nullptr        ? SystemFailure{kErrFilenameTooLong, 0}
                                    : FailedCall();
  return folder;
}

void CloseFolder(OsHandle* folder) {
  if (*folder != kInvalidHandle) Os().closeFolder(*folder);
  *folder = kInvalidHandle;
}

}  // namespace

void OpenRunFolders(RunFolders& folders, std::string_view logPath,
                    std::string_view archivePath) {
  folders.logPath.assign(logPath);
  folders.archivePath.assign(archivePath);
  folders.logs = OpenFolder(logPath, &folders.logsError);
  folders.archives = OpenFolder(archivePath, &folders.archivesError);
  folders.archiveShown = folders.archivePath + kPathSeparator;
}

void CloseRunFolders(RunFolders& folders) {
  CloseFolder(&folders.logs);
  CloseFolder(&folders.archives);
}

bool LookUpFileAt(OsHandle folder, std::string_view name, FileInfo* found) {
  const char* text = ScratchName(name);
  return text != nullptr && folder != kInvalidHandle && Os().entryInfoAt(folder, text, true, found);
}

bool IsPlainFileAt(OsHandle folder, std::string_view name) {
  FileInfo found{};
  return LookUpFileAt(folder, name, &found) && (found.attributes & kAttrDirectory) == 0;
}

}  // namespace quilbo
