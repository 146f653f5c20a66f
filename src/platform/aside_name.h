// The name a log passes through while /D deletes it on POSIX:
// ".quilbo-<bytes archived>-<log name>". A run that dies in that moment
// leaves the log under it; the next run over the folder recognises the
// name, archives what a writer added after those bytes and finishes the
// deletion, and the walk never takes such a name for a log.
#ifndef QUILBO_PLATFORM_ASIDE_NAME_H_
#define QUILBO_PLATFORM_ASIDE_NAME_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quilbo {

inline constexpr std::string_view kAsidePrefix = ".quilbo-";

inline std::string AsideName(std::string_view log, std::int64_t archived) {
  std::string name(kAsidePrefix);
  name += std::to_string(archived);
  name += '-';
  name += log;
  return name;
}

// Whether name has the aside form; fills the log's name and the bytes
// already archived.
inline bool ParseAsideName(std::string_view name, std::string_view* log,
                           std::int64_t* archived) {
  if (name.substr(0, kAsidePrefix.size()) != kAsidePrefix) return false;
  std::size_t i = kAsidePrefix.size();
  std::int64_t value = 0;
  const std::size_t first = i;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9' && i - first < 18)
    value = value * 10 + (name[i++] - '0');
  if (i == first || i >= name.size() || name[i] != '-' || i + 1 == name.size())
    return false;
  // Exactly the form AsideName writes: no leading zeros.
  if (name[first] == '0' && i - first > 1) return false;
  *log = name.substr(i + 1);
  *archived = value;
  return true;
}

inline bool IsAsideName(std::string_view name) {
  std::string_view log;
  std::int64_t archived = 0;
  return ParseAsideName(name, &log, &archived);
}

}  // namespace quilbo

#endif  // QUILBO_PLATFORM_ASIDE_NAME_H_
