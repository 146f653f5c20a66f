// Small file-system helpers. They report only through their results and
// touch neither IoStatus nor SearchError. Names go to the platform byte for
// byte, in its own form: a name the walk found is never converted between
// code pages, read as a pattern or cut.
#ifndef QUILBO_FS_FILE_HELPERS_H_
#define QUILBO_FS_FILE_HELPERS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace quilbo {

// name, NUL-terminated, in the per-thread scratch area (valid until the
// next call on the thread); null when it does not fit the platform's
// longest path or holds a NUL (the caller then fails, never using a cut
// name).
const char* ScratchName(std::string_view name);

// Whether a path fits the platform's longest path (Windows: 259 UTF-16
// characters).
bool PathFits(std::string_view path);

// The entry called name, looked up without any pattern meaning; false when
// there is none (or the name does not fit).
bool LookUpFile(std::string_view name, FileInfo* found);

std::int32_t FileTimeOf(std::string_view name);  // -1: missing or a folder
bool IsPlainFile(std::string_view name);
bool RemoveFile(std::string_view name);
bool MakeDirectory(std::string_view name);
// The leading part of path up to and including its last separator: '\',
// '/' or ':' on Windows, '/' or '\' elsewhere (no drive letters).
std::string DirectoryPart(std::string_view path);

// What the user typed (a pattern, a folder) in the platform's form: on
// Linux '\' separates as '/' does there, so it becomes '/'. Names found by
// the walk never go through here: there '\' is a byte of the name.
std::string TypedPath(std::string_view typed);

// What the user typed (or a path made from it) as the console shows it:
// Windows shows it in the ANSI code page, as a program reading its command
// line in that code page receives it; Linux shows the bytes.
std::string ConsoleForm(std::string_view typed);

// The separator the program puts between a folder and a name.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

}  // namespace quilbo

#endif  // QUILBO_FS_FILE_HELPERS_H_
