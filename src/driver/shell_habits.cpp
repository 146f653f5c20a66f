#include "driver/shell_habits.h"

#include <cstdio>

#include "driver/settings.h"

namespace quilbo {

namespace {

bool HasWildcard(std::string_view name) {
  return name.find_first_of("*?") != std::string_view::npos;
}

bool IsLiteralFile(std::string_view name, bool (*isFile)(std::string_view)) {
  return !name.empty() && !HasWildcard(name) && isFile(name);
}

// The first 80 bytes of an argument, enough to recognise it.
int Shown(std::string_view argument) {
  return static_cast<int>(argument.size() > 80 ? 80 : argument.size());
}

// names joined with spaces, " ..." where the rest does not fit in room.
std::string ListOf(const std::vector<std::string>& names, std::size_t room) {
  std::string list;
  for (const std::string& name : names) {
    const std::size_t needed = (list.empty() ? 0 : 1) + name.size();
    if (list.size() + needed > room - 4) {
      list += list.empty() ? "..." : " ...";
      break;
    }
    if (!list.empty()) list += ' ';
    list += name;
  }
  return list;
}

}  // namespace

std::span<const char* const> LinuxHelp() {
  static constexpr const char* kLines[] = {
      "Usage: quilbo [--] 'Filepattern' [ArchiveDir] [/D] [/Tn]",
      "",
      "Appends the text of every file that matches Filepattern to the file of",
      "the same name in ArchiveDir (Archive when not given), a folder beside",
      "the matched files that is made when needed. Quote the pattern, so that",
      "the shell leaves it to quilbo. For text files only.",
      "",
      "  /D            delete each log once its text is archived",
      "  /Tn           cut each archive to its last n KB (1 KB = 1024 bytes);",
      "                n is read up to its first character that is no digit",
      "                (/T1000kb is 1000, /T$400 is 1024); /T, /T0 or a",
      "                negative n cut nothing",
      "  --            ends the options: the next argument is the pattern",
      "  -h, --help    this help",
      "  --version     the version",
      "Options take either case and come in any order after the pattern. An",
      "argument there that starts with '-', or is /word without a second '/',",
      "is refused as a mistyped option: write such a folder ./-x or /word/.",
      "",
      "Exit codes: 0 files were archived; 5 nothing matched (standard error",
      "names a pattern folder that does not exist or cannot be read); 1 a",
      "failure, reported on standard output, with the file and the system's",
      "reason on standard error.",
      "",
      "  example: quilbo '*.log' backup /d /t1000",
      "",
      "Manual page: man quilbo (share/man/man1/quilbo.1 where it was installed)",
  };
  return kLines;
}

std::int32_t PatternIndex(std::string_view first) { return first == "--" ? 2 : 1; }

bool IsMistypedOption(std::string_view folder) {
  if (folder.starts_with('-')) return true;
  return folder.size() > 1 && folder[0] == '/' &&
         folder.find('/', 1) == std::string_view::npos;
}

std::string MistypedOptionMessage(std::string_view argument) {
  const int shown = Shown(argument);
  const bool dash = argument.starts_with('-');
  char message[256];
  std::snprintf(message, sizeof message,
                "Unknown option %.*s: the options are /D and /Txxxx; a folder "
                "of that name is written %s%.*s%s",
                shown, argument.data(), dash ? "./" : "", shown, argument.data(),
                dash ? "" : "/");
  return message;
}

Shortcut ShortcutOf(std::int32_t argCount, std::string_view first) {
  if (argCount != 1) return Shortcut::kNone;
  if (first == "--help" || first == "-h") return Shortcut::kHelp;
  if (first == "--version") return Shortcut::kVersion;
  return Shortcut::kNone;
}

std::vector<std::string> ExpandedNames(std::string_view pattern,
                                       const std::vector<std::string>& folders,
                                       bool (*isFile)(std::string_view)) {
  std::vector<std::string> files;
  for (const std::string& folder : folders)
    if (IsLiteralFile(folder, isFile)) files.push_back(folder);
  if (files.empty()) return {};
  const bool patternIsFile = IsLiteralFile(pattern, isFile);
  if (folders.size() < 2 && !patternIsFile) return {};
  if (patternIsFile) files.insert(files.begin(), std::string(pattern));
  return files;
}

std::string ExpandedPatternMessage(const std::vector<std::string>& names) {
  static constexpr std::string_view kHead = "Several file names where one pattern belongs (";
  static constexpr std::string_view kTail =
      "): quote the pattern, as in quilbo '*.log' backup, so that the shell "
      "leaves it to quilbo";
  // Room for the names: what the report's 255 characters leave.
  constexpr std::size_t kRoom = 255 - kHead.size() - kTail.size();
  return std::string(kHead) + ListOf(names, kRoom) + std::string(kTail);
}

std::string ReplacedFolderNote(const std::vector<std::string>& folders) {
  if (folders.size() < 2) return {};
  const std::string& used = folders.back();
  const std::vector<std::string> replaced(folders.begin(), folders.end() - 1);
  char note[512];
  std::snprintf(note, sizeof note,
                "the archive folder is %.*s: %s %s before it %s replaced (one "
                "archive folder per run)",
                Shown(used), used.data(), replaced.size() == 1 ? "the folder" : "the folders",
                ListOf(replaced, 200).c_str(), replaced.size() == 1 ? "was" : "were");
  return note;
}

std::string OptionFirstMessage(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return {};
  const std::string& first = arguments.front();
  const bool dash = first.starts_with('-');
  RunSettings probe;
  const bool known = !dash && ApplyOption(probe, first) != ArgumentRole::kFolder;
  if (!dash && !known && (!IsMistypedOption(first) || HasWildcard(first))) return {};
  const int shown = Shown(first);
  char message[256];
  if (ShortcutOf(1, first) != Shortcut::kNone) {
    std::snprintf(message, sizeof message,
                  "%.*s takes no other argument; a pattern of that name is written "
                  "after --, as in quilbo -- %.*s",
                  shown, first.data(), shown, first.data());
  } else if (known) {
    // The run that was meant, in the right order: the pattern, the rest,
    // then the option.
    std::string run = "quilbo '" + (arguments.size() > 1 ? arguments[1] : "Filepattern") + "'";
    for (std::size_t i = 2; i < arguments.size(); ++i) run += " " + arguments[i];
    run += " " + first;
    if (run.size() > 160) run = run.substr(0, 156) + " ...";
    std::snprintf(message, sizeof message, "The option %.*s comes after the pattern: %s",
                  shown, first.data(), run.c_str());
  } else {
    std::snprintf(message, sizeof message,
                  "Unknown option %.*s: the pattern comes first, then the folder "
                  "and /D or /Txxxx, as in quilbo '*.log' backup /d /t1000; %s%.*s",
                  shown, first.data(),
                  dash ? "a pattern that starts with '-' follows --: quilbo -- "
                       : "a file at the root is written /",
                  shown, first.data());
  }
  return message;
}

}  // namespace quilbo
