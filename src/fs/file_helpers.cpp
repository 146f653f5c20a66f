#include "fs/file_helpers.h"

#include <cstring>

#include "fs/search.h"
#include "platform/platform.h"

namespace quilbo {

namespace {

#ifdef _WIN32
// The system takes '/' as '\\' does: a pattern typed logs/*.log searches logs.
constexpr bool IsSeparator(char c) { return c == ':' || c == '\\' || c == '/'; }
#else
// No drive letters here; both slashes separate.
constexpr bool IsSeparator(char c) { return c == '/' || c == '\\'; }
#endif

}  // namespace

bool PathFits(std::string_view path) {
  return CharacterCount(path) < static_cast<std::size_t>(kMaxPath) &&
         path.size() < static_cast<std::size_t>(kPathBytes);
}

const char* ScratchName(std::string_view name) {
  thread_local char scratch[kPathBytes];
  if (!PathFits(name)) return nullptr;
  if (name.find('\0') != std::string_view::npos) return nullptr;
  if (!name.empty()) std::memcpy(scratch, name.data(), name.size());
  scratch[name.size()] = '\0';
  return scratch;
}

bool LookUpFile(std::string_view name, FileInfo* found) {
  const char* text = ScratchName(name);
  return text != nullptr && EntryInfoByPath(text, true, found);
}

std::int32_t FileTimeOf(std::string_view name) {
  FileInfo found{};
  if (!LookUpFile(name, &found) || (found.attributes & kAttrDirectory) != 0)
    return -1;
  return static_cast<std::int32_t>(PackedLocalTime(found.lastWriteTime));
}

bool IsPlainFile(std::string_view name) { return FileTimeOf(name) != -1; }

bool RemoveFile(std::string_view name) {
  const char* text = ScratchName(name);
  return text != nullptr && DeleteFileByPath(text);
}

bool MakeDirectory(std::string_view name) {
  const char* text = ScratchName(name);
  return text != nullptr && Os().createDirectory(text);
}

std::string DirectoryPart(std::string_view path) {
  std::size_t i = path.size();
  while (i > 0 && !IsSeparator(path[i - 1])) --i;
  return std::string(path.substr(0, i));
}

std::string ConsoleForm(std::string_view typed) {
  const std::string text(typed.substr(0, typed.find('\0')));
  // Two bytes a character cover the double-byte code pages.
  std::string shown(2 * text.size() + 1, '\0');
  Os().nameToAnsi(text.c_str(), shown.data(), shown.size());
  shown.resize(std::strlen(shown.c_str()));
  return shown;
}

std::string TypedPath(std::string_view typed) {
  std::string path(typed);
#ifndef _WIN32
  for (char& c : path)
    if (c == '\\') c = '/';
#endif
  return path;
}

}  // namespace quilbo
