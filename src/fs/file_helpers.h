// Small file-system helpers. They report only through their results and
// touch neither IoStatus nor SearchError.
#ifndef QUILBO_FS_FILE_HELPERS_H_
#define QUILBO_FS_FILE_HELPERS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quilbo {

// Converts name from the OEM to the ANSI code page into the per-thread
// scratch area; null when it does not fit (the caller then fails as for an
// invalid name, never using a cut name).
const char* ToAnsiScratch(std::string_view name);

std::int32_t FileTimeOf(std::string_view name);  // -1: missing or a folder
bool IsPlainFile(std::string_view name);
bool RemoveFile(std::string_view name);
// Deletes a log whose copy just ended, unless another process holds it open
// or (copiedSize >= 0) its size is no longer copiedSize.
bool RemoveLog(std::string_view name, std::int64_t copiedSize);
bool MakeDirectory(std::string_view name);
std::string DirectoryPart(std::string_view path);

}  // namespace quilbo

#endif  // QUILBO_FS_FILE_HELPERS_H_
