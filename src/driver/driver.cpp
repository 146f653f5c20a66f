#include <charconv>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive_log.h"
#include "driver/command_line.h"
#include "driver/program.h"
#include "driver/settings.h"
#include "driver/shell_habits.h"
#include "driver/text_ops.h"
#include "errors/io_status.h"
#include "errors/notes.h"
#include "errors/raise.h"
#include "errors/termination.h"
#include "fs/file_helpers.h"
#include "fs/folder_lock.h"
#include "fs/run_folders.h"
#include "fs/search.h"
#include "removal/removal.h"
#include "textio/console.h"

namespace quilbo {

namespace {

// Every console line is one statement, checked when it ends.
void EndLine() {
  WriteLineEnd(Output);
  CheckIo();
}

void PrintLine(std::string_view text) {
  WriteText(Output, text, 0);
  EndLine();
}

constexpr const char* kBanner = " Quilbo v1.1";

void PrintUsage() {
  WriteText(Output,
            JoinText(JoinText(ToCounted("Usage: "), ToCounted(ConsoleForm(ArgAt(0)))),
                     ToCounted(" Filepattern [ArchiveDir] [/D] [/Txxxx]")),
            0);
  EndLine();
  static constexpr const char* kLines[] = {
      "",
      " All files matching Filepattern will be archived to files with the same",
      " name in the Archive subdir (Archive Dir will be created if needed).",
      " If ArchiveDir is not entered 'Archive' is used (don't use full path!)",
      " Original files will be deleted if /d option is used",
      " Archive will be truncated at xxxx Kb if /txxx is used",
      // Linux would expand the unquoted pattern before the program starts.
      kShellHabits ? "   example: quilbo '*.log' backup /d /t1000"
                   : "   example: Quilbo *.log backup /d /t1000",
      " DO NOT USE on binary files !",
      "",
      kBanner,
  };
  for (const char* line : kLines) PrintLine(line);
  if constexpr (kShellHabits) WriteNote("%s", kHelpPointer);
}

bool NamesExistingFile(std::string_view name) { return IsPlainFile(name); }

void PrintSettings(const RunSettings& settings) {
  WriteText(Output, "Archive folder : ", 0);
  WriteText(Output, ConsoleForm(settings.ArchiveDir), 0);
  EndLine();
  if (settings.TruncateKb > 0) {
    WriteText(Output, "Archives will be truncated at ", 0);
    WriteNumber(Output, settings.TruncateKb, 0);
    WriteText(Output, " Kb.", 0);
    EndLine();
  }
  if (settings.DeleteOriginals)
    PrintLine("Original files will be deleted after archiving");
}

// The whole size: files of 2 GiB and more must not show a wrapped count.
void WriteSize(std::uint64_t size) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, size);
  WriteText(Output, std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)), 0);
}

void PrintFileLine(std::int32_t counter, const RunSettings& settings,
                   const SearchEntry& entry) {
  WriteText(Output, "File ", 0);
  WriteNumber(Output, counter, 0);
  WriteChar(Output, ' ', 0);
  WriteText(Output, ConsoleForm(settings.PatternDir), 0);
  WriteText(Output, entry.Name, 0);
  WriteText(Output, " (", 0);
  WriteSize(entry.FullSize);
  WriteText(Output, " bytes)", 0);
  EndLine();
}

// Archives every log the pattern matches, in the walk's order; gives how
// the walk ended.
SystemFailure ArchiveLogs(RunFolders& run, const RunSettings& settings, RemovalGroup& group,
                         std::int32_t* counter) {
  SearchEntry entry{};
  entry.Handle = kInvalidHandle;
  entry.NeverOpen = kReservedNamePrefix;
  SearchFirst(TypedPath(settings.pattern), 0x27, entry);
  // A request to stop takes no new log; the one in hand is finished.
  while (SearchError == 0 && Os().stopRequested() == 0) {
    // The platform's own name, not the console's form: only it is sure to
    // reach the file that was found, and it is never split.
    const std::string name(entry.OwnName);
    // A log on its way out: its deletion, or the next run, finishes it.
    if (IsLeftover(run, name)) {
      SearchNext(entry);
      continue;
    }
    ++*counter;
    PrintFileLine(*counter, settings, entry);
    ArchivedLog done;
    run.found = &entry.OsEntry;
    const bool archived =
        ArchiveLogFile(run, name, name, 0, settings.TruncateKb, settings.DeleteOriginals, &done);
    run.found = nullptr;
    if (archived && settings.DeleteOriginals)
      AddRemoval(group, run, name, name, done);
    SearchNext(entry);
  }
  const SystemFailure walkEnd = FailureOf(SearchError);
  SearchClose(entry);
  return walkEnd;
}

// A pattern that names a folder matches no file: a person is told how a
// pattern for the files in it is written.
void NoteFolderPattern(std::string_view pattern) {
  if (pattern.find_first_of("*?") != std::string_view::npos) return;
  std::string name = TypedPath(pattern);
  while (name.size() > 1 && (name.back() == '/' || name.back() == kPathSeparator))
    name.pop_back();
  FileInfo found{};
  if (name.empty() || !LookUpFile(name, &found) || (found.attributes & kAttrDirectory) == 0)
    return;
  const std::string shown = ConsoleForm(pattern.substr(0, name.size()));
  const bool root = shown.back() == '/' || shown.back() == kPathSeparator;
  const std::string example = shown + (root ? "" : std::string(1, kPathSeparator)) + "*.log";
  if constexpr (kShellHabits)
    WriteNote("%s is a folder, and the pattern names files: for its logs write '%s'",
              shown.c_str(), example.c_str());
  else
    WriteNote("%s is a folder, and the pattern names files: for its logs write %s",
              shown.c_str(), example.c_str());
}

// The usage screen, and on Linux --help and --version: each ends the run.
void ShowUsageOrShortcut(std::int32_t first) {
  if (ArgCount() == first - 1 || (first == 1 && TextEquals(ArgAt(1), "/?"))) {
    PrintUsage();
    ExitProgram(5);
  }
  if constexpr (kShellHabits) {
    switch (first == 1 ? ShortcutOf(ArgCount(), ArgAt(1)) : Shortcut::kNone) {
      case Shortcut::kHelp:
        for (const char* line : LinuxHelp()) PrintLine(line);
        ExitProgram(0);
      case Shortcut::kVersion:
        // As other Linux tools give theirs: LF-ended, with the licence.
        WriteText(Output, kVersionText, 0);
        EndStatement(Output);
        CheckIo();
        ExitProgram(0);
      case Shortcut::kNone:
        break;
    }
  }
}

// A cut pattern or folder names other files (logs/app*.log cut after
// "logs/ap" matches the file ap): refuse before anything is created.
void RefuseCutArguments() {
  for (std::int32_t i = 1; i <= ArgCount(); ++i) {
    if (!ArgIsCut(i)) continue;
    char message[96];
    std::snprintf(message, sizeof message,
                  "Argument %d is longer than 255 characters; use a shorter path",
                  static_cast<int>(i));
    RaiseError(message);
  }
}

// The pattern and the options; folders receives every argument taken as
// the archive folder, in order.
RunSettings ParseOptions(std::int32_t first, std::vector<std::string>& folders) {
  RunSettings settings;
  settings.pattern = ArgAt(first);
  for (std::int32_t i = first + 1; i <= ArgCount(); ++i) {
    const std::string argument = ArgAt(i);
    if (ApplyOption(settings, argument) == ArgumentRole::kFolder)
      folders.push_back(argument);
  }
  return settings;
}

// Linux shells and habits make command lines the run would misread: each
// is refused before anything is created.
void RefuseShellMistakes(const RunSettings& settings, const std::vector<std::string>& folders,
                         std::int32_t first) {
  // Only the first name would be archived, into a folder named after
  // another log.
  const std::vector<std::string> names =
      ExpandedNames(settings.pattern, folders, NamesExistingFile);
  if (!names.empty()) RaiseError(ExpandedPatternMessage(names).c_str());
  // An option before the pattern would be taken as the pattern, and the
  // archive folder made beside what it names.
  if (first == 1) {
    std::vector<std::string> arguments;
    for (std::int32_t i = 1; i <= ArgCount(); ++i) arguments.push_back(ArgAt(i));
    const std::string message = OptionFirstMessage(arguments);
    if (!message.empty()) RaiseError(message.c_str());
  }
  // -d, --delete or /X would make a folder of that name and archive there.
  for (const std::string& folder : folders)
    if (IsMistypedOption(folder)) RaiseError(MistypedOptionMessage(folder).c_str());
}

// An existing folder and a failure look alike here; a missing folder
// shows up as the failure to open the first archive, whose note then
// tells why the folder is missing: gives that (code 0: made).
SystemFailure MakeArchiveFolder(const std::string& archiveFolder) {
  if (MakeDirectory(archiveFolder)) return SystemFailure{0, 0};
  return PathFits(archiveFolder) ? FailedCall() : SystemFailure{kErrFilenameTooLong, 0};
}

// Both folders are opened once, after the lock: every step of every log
// works inside them. Archives the logs, and the leftovers of runs before,
// then deletes what /D asks; gives how the walk ended.
SystemFailure ArchiveAndRemove(RunFolders& run, const RunSettings& settings,
                               const std::string& folder, const std::string& archiveFolder,
                               std::int32_t* counter) {
  OpenRunFolders(run, folder, archiveFolder);
  RemovalGroup group;
  StartRemovals(group, run, settings.TruncateKb);
  SystemFailure walkEnd{0, 0};
  try {
    FinishLeftovers(group, run, TypedPath(settings.pattern).substr(folder.size()),
                    settings.DeleteOriginals);
    walkEnd = ArchiveLogs(run, settings, group, counter);
    RemoveLogs(group, run);
  } catch (...) {
    RemoveLogsBeforeFailure(group, run);
    throw;
  }
  CloseRunFolders(run);
  return walkEnd;
}

// A stopped run ends as the signal would, after saying what it did.
void EndIfStopped(const RunSettings& settings, std::int32_t counter) {
  const std::int32_t stop = Os().stopRequested();
  if (stop == 0) return;
  WriteNote("stopped by %s after %d logs; what they held is archived%s, the rest waits for the "
            "next run",
            Os().stopName(stop), static_cast<int>(counter),
            settings.DeleteOriginals ? " and they are deleted" : "");
  ExitStopped(stop);
}

}  // namespace

void RunDriver() {
  const std::int32_t first = kShellHabits ? PatternIndex(ArgAt(1)) : 1;
  ShowUsageOrShortcut(first);
  RefuseCutArguments();

  std::vector<std::string> folders;  // every argument taken as the folder
  RunSettings settings = ParseOptions(first, folders);
  if constexpr (kShellHabits) RefuseShellMistakes(settings, folders, first);
  // A later folder argument replaces an earlier one: a person is told
  // which one the run uses.
  if (const std::string note = ReplacedFolderNote(folders); !note.empty())
    WriteNote("%s", note.c_str());
  PrintSettings(settings);

  settings.PatternDir = DirectoryPart(settings.pattern);
  // The console shows the folders as typed (ConsoleForm); the file
  // operations take them in the platform's form.
  const std::string folder = TypedPath(settings.PatternDir);
  const std::string archiveFolder = folder + TypedPath(settings.ArchiveDir);
  RunFolders run{};
  run.archivesNotMade = MakeArchiveFolder(archiveFolder);
  // A stop from now on ends the run cleanly: no log is left half done.
  Os().watchStops();
  // One run at a time per archive folder; taken before the walk starts, so
  // a run that waited finds only the logs still left.
  run.archiveLock = LockArchiveFolder(archiveFolder);

  std::int32_t counter = 0;
  const SystemFailure walkEnd = ArchiveAndRemove(run, settings, folder, archiveFolder, &counter);
  UnlockArchiveFolder(run.archiveLock);
  EndIfStopped(settings, counter);
  NoteUnreadFolder(settings.PatternDir, walkEnd);
  if (counter == 0) NoteFolderPattern(settings.pattern);
  ExitProgram(counter == 0 ? 5 : 0);
}

}  // namespace quilbo
