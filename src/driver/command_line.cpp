// The program's arguments. The scanning rules work on a command
// line given as one string; the platform either hands one over (Windows:
// its UTF-16 command line as UTF-8) or hands the arguments over already
// split (POSIX: argv).
// Nothing is cached: every call asks the platform and scans afresh.
#include "driver/command_line.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace quilbo {

namespace {

bool IsSeparator(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 1 && byte <= 32;
}

// Scans one token from p. Returns the position after the token; the
// token's first 255 characters go to token when it is not null, its whole
// length in characters to fullLength, and empty tells whether the token is
// empty (the end of the list). Characters past the 255th are scanned but not
// kept, so a long token still ends where the rules end it. A character is
// what the platform's limits count (Windows: a UTF-16 unit of the UTF-8
// text; elsewhere a byte); a character is kept whole or not at all.
const char* ScanToken(const char* p, std::string* token, bool* empty,
                      std::size_t* fullLength = nullptr) {
  std::size_t length = 0;
  std::size_t bytes = 0;
  bool keeping = true;
  const auto keep = [&](char c) {
    ++bytes;
    const std::size_t count = CharactersStartedBy(static_cast<unsigned char>(c));
    if (count != 0) keeping = length + count <= static_cast<std::size_t>(kCountedMax);
    length += count;
    if (token != nullptr && keeping) token->push_back(c);
  };

  for (;;) {  // steps 1 and 2: separators and leading pairs of quotes
    while (IsSeparator(*p)) ++p;
    if (p[0] == '"' && p[1] == '"') {
      p += 2;
      continue;
    }
    break;
  }

  for (;;) {  // step 3
    const char c = *p;
    if (c == '\0' || IsSeparator(c)) break;  // the separator stays
    ++p;
    if (c == '"') {
      while (*p != '\0' && *p != '"') keep(*p++);
      if (*p == '"') ++p;  // the closing quote is dropped
      continue;
    }
    keep(c);
  }

  *empty = bytes == 0;
  if (fullLength != nullptr) *fullLength = length;
  return p;
}

// The first 255 characters of a zero-terminated string, reading no further.
std::string CutTo255(const char* text) {
  std::string result;
  if (text == nullptr) return result;
  std::size_t length = 0;
  for (; *text != '\0'; ++text) {
    length += CharactersStartedBy(static_cast<unsigned char>(*text));
    if (length > static_cast<std::size_t>(kCountedMax)) break;
    result.push_back(*text);
  }
  return result;
}

// The platform's command line, or null where it hands over split arguments.
const char* PlatformCommandLine() {
  const PlatformApi& os = Os();
  return os.commandLine != nullptr ? os.commandLine() : nullptr;
}

// The platform's split argument vector; count 0 when it has none.
struct ArgumentVector {
  int count;
  const char* const* values;
};

ArgumentVector PlatformArguments() {
  ArgumentVector vector{0, nullptr};
  const PlatformApi& os = Os();
  if (os.splitArguments == nullptr ||
      !os.splitArguments(&vector.count, &vector.values) ||
      vector.values == nullptr || vector.count < 0) {
    return {0, nullptr};
  }
  return vector;
}

// ArgAt(0): the executable's full path, asked for with a buffer of 260
// characters, cut to 255; empty when the platform cannot tell.
std::string ExecutablePath() {
  char buffer[260 * kBytesPerCharacter] = {};
  const PlatformApi& os = Os();
  if (os.executablePath == nullptr ||
      os.executablePath(buffer, static_cast<std::uint32_t>(sizeof buffer)) == 0) {
    return {};
  }
  buffer[sizeof buffer - 1] = '\0';  // whatever the platform left there
  return CutTo255(buffer);
}

}  // namespace

std::int32_t CountArguments(const char* commandLine) {
  if (commandLine == nullptr) return -1;
  std::int32_t tokens = 0;
  const char* p = commandLine;
  for (;;) {
    bool empty = false;
    p = ScanToken(p, nullptr, &empty);
    if (empty) break;
    // A command line has fewer than 2^31 tokens wherever it fits in memory
    // of a 32-bit process; saturate rather than wrap elsewhere.
    if (tokens == INT32_MAX) break;
    ++tokens;
  }
  return tokens - 1;
}

std::string ArgumentAt(const char* commandLine, std::int32_t index) {
  std::string token;
  if (commandLine == nullptr || index < 0) return {};
  const char* p = commandLine;
  for (std::int32_t i = 0;; ++i) {
    bool empty = false;
    p = ScanToken(p, i == index ? &token : nullptr, &empty);
    if (empty) return {};
    if (i == index) return token;
  }
}

namespace {

// Split arguments skip the empty ones, as a command line skips a "" pair:
// a script's unset variable must not become an archive folder of "" (the
// root of the file system).
bool IsEmptyArgument(const char* value) {
  return value == nullptr || value[0] == '\0';
}

}  // namespace

std::size_t ArgumentLength(const char* commandLine, std::int32_t index) {
  if (commandLine == nullptr || index < 0) return 0;
  const char* p = commandLine;
  for (std::int32_t i = 0;; ++i) {
    bool empty = false;
    std::size_t length = 0;
    p = ScanToken(p, nullptr, &empty, &length);
    if (empty) return 0;
    if (i == index) return length;
  }
}

std::int32_t ArgCount() {
  if (const char* line = PlatformCommandLine(); line != nullptr)
    return CountArguments(line);
  const ArgumentVector arguments = PlatformArguments();
  if (arguments.count == 0) return -1;
  std::int32_t count = 0;
  for (int i = 1; i < arguments.count; ++i)
    if (!IsEmptyArgument(arguments.values[i])) ++count;
  return count;
}

std::string ArgAt(std::int32_t index) {
  if (index == 0) return ExecutablePath();
  if (index < 0) return {};
  if (const char* line = PlatformCommandLine(); line != nullptr)
    return ArgumentAt(line, index);
  const ArgumentVector arguments = PlatformArguments();
  std::int32_t seen = 0;
  for (int i = 1; i < arguments.count; ++i) {
    if (IsEmptyArgument(arguments.values[i])) continue;
    if (++seen == index) return CutTo255(arguments.values[i]);
  }
  return {};
}

bool ArgIsCut(std::int32_t index) {
  if (index <= 0) return false;
  if (const char* line = PlatformCommandLine(); line != nullptr)
    return ArgumentLength(line, index) > static_cast<std::size_t>(kCountedMax);
  const ArgumentVector arguments = PlatformArguments();
  std::int32_t seen = 0;
  for (int i = 1; i < arguments.count; ++i) {
    if (IsEmptyArgument(arguments.values[i])) continue;
    if (++seen == index)
      return CharacterCount(arguments.values[i]) > static_cast<std::size_t>(kCountedMax);
  }
  return false;
}

}  // namespace quilbo
