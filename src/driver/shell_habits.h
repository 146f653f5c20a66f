// What users of a Unix shell type out of habit: --help, -h and --version,
// "--" before the pattern, options written -d or mistyped, and a pattern
// left unquoted, which the shell replaces by the names it matches before
// the program starts. Windows passes patterns through as typed and keeps
// /? alone, so there none of this applies.
#ifndef QUILBO_DRIVER_SHELL_HABITS_H_
#define QUILBO_DRIVER_SHELL_HABITS_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quilbo {

#ifdef _WIN32
inline constexpr bool kShellHabits = false;
#else
inline constexpr bool kShellHabits = true;
#endif

enum class Shortcut : std::uint8_t { kNone, kHelp, kVersion };

// --help or -h as the only argument asks for the usage screen, --version
// for the banner; anything else (also these next to other arguments) is a
// run with that pattern.
Shortcut ShortcutOf(std::int32_t argCount, std::string_view first);

// The lines of the Linux help that --help and -h print.
std::span<const char* const> LinuxHelp();

// The index of the pattern among the arguments: 2 after a first "--",
// which ends the options, else 1.
std::int32_t PatternIndex(std::string_view first);

// A refusal of the first argument, before anything is created: an option
// written before the pattern (-x, --word, /D, /T..., or /word without a
// second '/' and without wildcards, which would search the root of the
// file system). arguments are all of them, the first first. Gives the
// message, at most 255 characters, or nothing when the first argument is
// a pattern.
std::string OptionFirstMessage(const std::vector<std::string>& arguments);

// Whether an argument taken as the archive folder is an option mistyped:
// it starts with '-', or it is /word without a second '/' (a folder at
// the root of the file system, which no one means). Such a run is refused.
bool IsMistypedOption(std::string_view folder);
// The refusal's message for that argument: at most 255 characters.
std::string MistypedOptionMessage(std::string_view argument);

// The names that show a pattern expanded by the shell, or none. pattern is
// the first argument, folders the arguments taken as the archive folder, in
// order; isFile tells whether a name is an existing file that is not a
// folder. An expansion left more than one folder argument, or a pattern
// that is itself an existing file; either way a folder argument names an
// existing file, which can never be an archive folder. Names holding * or ?
// are never looked up: the shell leaves those to the program.
std::vector<std::string> ExpandedNames(std::string_view pattern,
                                       const std::vector<std::string>& folders,
                                       bool (*isFile)(std::string_view));

// The refusal's message for those names: at most 255 characters.
std::string ExpandedPatternMessage(const std::vector<std::string>& names);

// The note for folder arguments that a later one replaced (folders in
// order, the last the one used); empty when there was only one.
std::string ReplacedFolderNote(const std::vector<std::string>& folders);

// The note after the usage screen: where the Linux usage is.
inline constexpr const char* kHelpPointer =
    "quilbo --help shows the usage on Linux; quote the pattern, as in "
    "quilbo '*.log' backup /d /t1000";

// What --version prints: the version and the licence, LF-ended.
inline constexpr const char* kVersionText =
    "quilbo 1.1\n"
    "Copyright (c) 2026 the Quilbo authors\n"
    "License MIT <https://opensource.org/license/mit>: free software, no warranty\n";

}  // namespace quilbo

#endif  // QUILBO_DRIVER_SHELL_HABITS_H_
