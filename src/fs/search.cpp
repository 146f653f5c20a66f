#include "fs/search.h"

#include <algorithm>
#include <cstring>

namespace quilbo {

thread_local std::int32_t SearchError = 0;

namespace {

// The low byte of mask lists the attributes an entry may have, bits 8-15
// those it must have. Read-only and the bits above archive never exclude.
bool PassesFilter(std::uint32_t attributes, std::uint32_t mask) {
  const std::uint32_t required = (mask >> 8) & 0xFF;
  const std::uint32_t excluded = 0x3E & ~mask & ~required;
  return (attributes & excluded) == 0 && (attributes & required) == required;
}

// Skips the entries the filter rejects, then fills the caller's fields from
// the first one it accepts.
std::int32_t AcceptStep(SearchEntry& entry) {
  const PlatformApi& os = Os();
  while (!PassesFilter(entry.OsEntry.attributes, entry.Mask)) {
    if (!os.findNextFile(entry.Handle, &entry.OsEntry)) return FailedCallError();
  }
  FindData& found = entry.OsEntry;
  entry.PackedTime = PackedLocalTime(found.lastWriteTime);
  entry.Size = static_cast<std::int32_t>(static_cast<std::uint32_t>(found.size));
  entry.FullSize = found.size;
  entry.Attributes = static_cast<std::uint8_t>(found.attributes);
  found.name[sizeof found.name - 1] = '\0';
  std::memcpy(entry.OwnName, found.name, sizeof entry.OwnName);
  // Only the console form is converted; the platform's own name stays.
  char shown[kMaxEntryName];
  os.nameToOem(found.name, shown, sizeof shown);
  shown[sizeof shown - 1] = '\0';
  const void* end = std::memchr(shown, '\0', kCountedMax);
  const std::size_t length =
      end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - shown)
                     : kCountedMax;
  std::memcpy(entry.Name.chars, shown, length);
  entry.Name.length = static_cast<std::uint8_t>(length);
  return 0;
}

// The steps themselves; each gives its code, and SearchFirst, SearchNext
// and SearchClose keep it in SearchError.
std::int32_t StartSearch(const char* pattern, std::uint32_t mask,
                         SearchEntry& entry) {
  const PlatformApi& os = Os();
  entry.Mask = mask;
  entry.Handle = os.findFirstFile(pattern, entry.NeverOpen, &entry.OsEntry);
  if (entry.Handle == kInvalidHandle) return FailedCallError();
  const std::int32_t code = AcceptStep(entry);
  if (code != 0) {
    // Nothing passed the filter: the search ends closed.
    os.findClose(entry.Handle);
    entry.Handle = kInvalidHandle;
  }
  return code;
}

std::int32_t ContinueSearch(SearchEntry& entry) {
  const PlatformApi& os = Os();
  if (!os.findNextFile(entry.Handle, &entry.OsEntry)) return FailedCallError();
  return AcceptStep(entry);
}

std::int32_t StopSearch(SearchEntry& entry) {
  if (entry.Handle == kInvalidHandle) return 0;
  const PlatformApi& os = Os();
  const std::int32_t code = os.findClose(entry.Handle) ? 0 : FailedCallError();
  entry.Handle = kInvalidHandle;
  return code;
}

}  // namespace

std::uint32_t PackedLocalTime(std::uint64_t utc) {
  const PlatformApi& os = Os();
  std::uint64_t local = 0;
  std::uint16_t date = 0;
  std::uint16_t time = 0;
  // Outside the packed range nothing is written; the earliest packed time
  // stands in, never -1, which FileTimeOf reserves for "missing".
  if (!os.fileTimeToLocalFileTime(utc, &local) ||
      !os.fileTimeToDosDateTime(local, &date, &time))
    return kEarliestPackedTime;
  return (static_cast<std::uint32_t>(date) << 16) | time;
}

void SearchFirst(std::string_view pattern, std::uint32_t mask, SearchEntry& entry) {
  char buffer[kPathBytes];
  const std::size_t length = std::min(pattern.size(), sizeof buffer - 1);
  if (length != 0) std::memcpy(buffer, pattern.data(), length);
  buffer[length] = '\0';
  SearchError = StartSearch(buffer, mask, entry);
}

void SearchFirst(const CountedString& pattern, std::uint32_t mask, SearchEntry& entry) {
  SearchFirst(View(pattern), mask, entry);  // 255 characters at most
}

void SearchNext(SearchEntry& entry) { SearchError = ContinueSearch(entry); }

void SearchClose(SearchEntry& entry) { SearchError = StopSearch(entry); }

}  // namespace quilbo
