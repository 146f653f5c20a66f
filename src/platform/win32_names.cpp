// Windows names on the console, and the command line. The console keeps
// the 8-bit code pages: a found name in the OEM code page, typed text in the
// ANSI code page.
#ifdef _WIN32

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/utf16.h"
#include "platform/win32_internal.h"

namespace quilbo::win32 {

namespace {

// Texts converted here are names and paths of at most a few hundred
// characters; the buffers hold any of them.
constexpr int kWideUnits = kPathBytes;
constexpr int kNarrowBytes = 2 * kPathBytes;  // double-byte code pages

// The conversions leave the last error as they found it: a caller reads it
// after the failed call that came before.
struct KeepLastError {
  DWORD saved = GetLastError();
  ~KeepLastError() { SetLastError(saved); }
};

void CopyCut(const char* text, char* destination, std::size_t size) {
  if (size == 0) return;
  const std::size_t length = std::min(std::strlen(text), size - 1);
  std::memmove(destination, text, length);
  destination[length] = '\0';
}

// A text the conversion cannot read (too long, not UTF-8): its ASCII
// characters, '?' for every other byte.
void AsciiOnly(const char* name, char* destination, std::size_t size) {
  std::string shown(name);
  for (char& c : shown)
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  CopyCut(shown.c_str(), destination, size);
}

// The ANSI form of wide, when every character has one that reads back as
// that character.
bool ExactAnsi(const wchar_t* wide, char* ansi, int size) {
  if (WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, size, nullptr, nullptr) == 0)
    return false;
  wchar_t back[kWideUnits];
  return MultiByteToWideChar(CP_ACP, 0, ansi, -1, back, kWideUnits) != 0 &&
         std::wcscmp(back, wide) == 0;
}

// One character (one unit, or a surrogate pair) in the OEM code page; '?'
// when it has no form there (no best fit: another character would show a
// name that is not there).
std::string OemCharacter(const wchar_t* unit, int count) {
  char bytes[8];
  BOOL defaulted = FALSE;
  const int n = WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, unit, count, bytes,
                                    sizeof bytes, "?", &defaulted);
  if (n <= 0 || defaulted) return "?";
  return std::string(bytes, static_cast<std::size_t>(n));
}

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

void NameToOemWin(const char* name, char* destination, std::size_t size) {
  const KeepLastError keep;
  wchar_t wide[kWideUnits];
  if (Utf16FromUtf8(name, wide, kWideUnits) < 0) return AsciiOnly(name, destination, size);
  // A name with an ANSI form shows as it always has: that form, through the
  // system's ANSI-to-OEM conversion.
  char ansi[kNarrowBytes];
  if (ExactAnsi(wide, ansi, kNarrowBytes)) {
    CharToOemA(ansi, ansi);
    return CopyCut(ansi, destination, size);
  }
  std::string shown;
  for (const wchar_t* p = wide; *p != L'\0';) {
    const int count = IsHighSurrogate(p[0]) && IsLowSurrogate(p[1]) ? 2 : 1;
    shown += OemCharacter(p, count);
    p += count;
  }
  CopyCut(shown.c_str(), destination, size);
}

// What a program reading its command line in the ANSI code page gets.
void NameToAnsiWin(const char* name, char* destination, std::size_t size) {
  const KeepLastError keep;
  wchar_t wide[kWideUnits];
  char ansi[kNarrowBytes];
  if (Utf16FromUtf8(name, wide, kWideUnits) < 0 ||
      WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, kNarrowBytes, nullptr, nullptr) == 0)
    return AsciiOnly(name, destination, size);
  CopyCut(ansi, destination, size);
}

// The command line in the core's form, rebuilt on every call (the scanning
// rules then cut it into arguments).
const char* CommandLineWin() {
  static std::string line;
  const wchar_t* wide = GetCommandLineW();
  if (wide == nullptr) return nullptr;
  line.assign(3 * std::wcslen(wide) + 1, '\0');  // every unit fits in 3 bytes
  Utf8FromUtf16(wide, line.data(), line.size());
  return line.c_str();
}

std::uint32_t ExecutablePathWin(char* buffer, std::uint32_t size) {
  if (size == 0) return 0;
  WidePath wide;
  const DWORD n = GetModuleFileNameW(nullptr, wide, kMaxPath);
  if (n == 0) {
    buffer[0] = '\0';
    return 0;
  }
  wide[kMaxPath - 1] = L'\0';  // a cut path is not always ended
  char path[kPathBytes];
  Utf8FromUtf16(wide, path, sizeof path);
  CopyCut(path, buffer, size);
  return static_cast<std::uint32_t>(std::strlen(buffer));
}

}  // namespace quilbo::win32

#endif  // _WIN32
