#include "fs/file_helpers.h"

#include <cstring>

#include "fs/search.h"
#include "platform/platform.h"

namespace quilbo {

namespace {

// Mask 0x3F accepts every entry, folders included, so the first entry the
// platform returns for the name is the one examined.
constexpr std::uint32_t kAnyEntry = 0x3F;

#ifdef _WIN32
constexpr bool IsSeparator(char c) { return c == ':' || c == '\\'; }
#else
// No drive letters here; both slashes separate.
constexpr bool IsSeparator(char c) { return c == '/' || c == '\\'; }
#endif

}  // namespace

const char* ToAnsiScratch(std::string_view name) {
  thread_local char scratch[kMaxPath];
  // A cut name could reach another file: a name that does not fit, or one
  // that a NUL would end early, is refused instead.
  if (name.size() >= static_cast<std::size_t>(kMaxPath)) return nullptr;
  if (name.find('\0') != std::string_view::npos) return nullptr;
  char source[kMaxPath];
  if (!name.empty()) std::memcpy(source, name.data(), name.size());
  source[name.size()] = '\0';
  Os().oemToChar(source, scratch);
  return scratch;
}

std::int32_t FileTimeOf(std::string_view name) {
  const char* converted = ToAnsiScratch(name);
  if (converted == nullptr) return -1;
  SearchEntry entry{};
  if (StartSearch(converted, kAnyEntry, entry) != 0) return -1;
  const std::int32_t result =
      (entry.Attributes & kAttrDirectory) != 0
          ? -1
          : static_cast<std::int32_t>(entry.PackedTime);
  StopSearch(entry);
  return result;
}

bool IsPlainFile(std::string_view name) { return FileTimeOf(name) != -1; }

bool RemoveFile(std::string_view name) {
  const char* converted = ToAnsiScratch(name);
  return converted != nullptr && Os().deleteFile(converted);
}

bool RemoveLog(std::string_view name, std::int64_t copiedSize) {
  const char* converted = ToAnsiScratch(name);
  return converted != nullptr && Os().deleteLog(converted, copiedSize);
}

bool MakeDirectory(std::string_view name) {
  const char* converted = ToAnsiScratch(name);
  return converted != nullptr && Os().createDirectory(converted);
}

std::string DirectoryPart(std::string_view path) {
  std::size_t i = path.size();
  while (i > 0 && !IsSeparator(path[i - 1])) --i;
  return std::string(path.substr(0, i));
}

}  // namespace quilbo
