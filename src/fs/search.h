// Directory search with the attribute filter.
#ifndef QUILBO_FS_SEARCH_H_
#define QUILBO_FS_SEARCH_H_

#include <cstdint>
#include <string_view>

#include "platform/platform.h"
#include "textio/counted_string.h"

namespace quilbo {

struct SearchEntry {
  OsHandle Handle;  // kInvalidHandle when no search is open
  std::uint8_t Attributes;
  std::uint32_t PackedTime;  // MS-DOS form: time word low, date word high
  std::int32_t Size;         // low 32 bits of the size
  CountedString Name;        // in the OEM code page, for the console
  std::uint32_t Mask;
  FindData OsEntry;
  std::uint64_t FullSize;  // the whole size, for files of 4 GiB and more
  // The accepted entry's name in the platform's own form, whole, as the
  // platform returned it (Windows: its UTF-16 text as UTF-8). Every file operation on
  // the entry uses this name: Name may differ from it, or be cut.
  char OwnName[kMaxEntryName];
  // Names that start so are never opened by the walk for a look (the
  // run's own files, which an open would disturb); null: none.
  const char* NeverOpen;
};

// The packed time used when the real one lies outside the packed range.
inline constexpr std::uint32_t kEarliestPackedTime = 0x00210000;  // 1980-01-01

// A last-write time (UTC file time) in the packed local form; the earliest
// packed time when it lies outside the packed range.
std::uint32_t PackedLocalTime(std::uint64_t utc);

// Result of the thread's last SearchFirst, SearchNext or SearchClose.
extern thread_local std::int32_t SearchError;

// The pattern is handed to the platform unchanged: a counted one holds up
// to 255 characters (Windows: 255 UTF-16 characters as UTF-8); a path the
// program built may be as long as the platform takes.
void SearchFirst(std::string_view pattern, std::uint32_t mask, SearchEntry& entry);
void SearchFirst(const CountedString& pattern, std::uint32_t mask,
                 SearchEntry& entry);
void SearchNext(SearchEntry& entry);
void SearchClose(SearchEntry& entry);

}  // namespace quilbo

#endif  // QUILBO_FS_SEARCH_H_
