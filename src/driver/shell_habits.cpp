#include "driver/shell_habits.h"

namespace quilbo {

namespace {

bool HasWildcard(std::string_view name) {
  return name.find_first_of("*?") != std::string_view::npos;
}

bool IsLiteralFile(std::string_view name, bool (*isFile)(std::string_view)) {
  return !name.empty() && !HasWildcard(name) && isFile(name);
}

}  // namespace

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
  std::string list;
  for (const std::string& name : names) {
    const std::size_t needed = (list.empty() ? 0 : 1) + name.size();
    if (list.size() + needed > kRoom - 4) {
      list += list.empty() ? "..." : " ...";
      break;
    }
    if (!list.empty()) list += ' ';
    list += name;
  }
  return std::string(kHead) + list + std::string(kTail);
}

}  // namespace quilbo
