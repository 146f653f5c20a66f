// Windows names are UTF-16; the core carries them as UTF-8. A name on disk
// may hold a lone surrogate, which UTF-8 proper cannot carry, so it travels
// as the three bytes its code would take (the "WTF-8" form): every name the
// system gives comes back to it unchanged. Pure: tested on every platform.
#ifndef QUILBO_PLATFORM_UTF16_H_
#define QUILBO_PLATFORM_UTF16_H_

#include <cstddef>
#include <cstdint>

namespace quilbo {

// Converts the NUL-terminated text into units, NUL-terminated; Unit is a
// 16-bit character type (char16_t, or wchar_t on Windows). Returns the
// number of units before the NUL, or -1 when they do not fit capacity
// units (NUL included) or text is not in the form above.
template <typename Unit>
int Utf16FromUtf8(const char* text, Unit* units, std::size_t capacity);

// The reverse: units, NUL-terminated, into bytes of at most capacity
// (NUL included); the number of bytes before the NUL, or -1 when they do
// not fit. Every unit sequence has a form.
template <typename Unit>
int Utf8FromUtf16(const Unit* units, char* text, std::size_t capacity);

// ---- implementation ------------------------------------------------------

namespace utf16_detail {

// The code of the sequence that starts at text, or -1; *length gets its
// bytes. Overlong forms and codes past U+10FFFF are refused; surrogate
// codes are taken (they carry lone surrogates).
inline std::int32_t Decode(const unsigned char* text, int* length) {
  const unsigned char lead = text[0];
  if (lead < 0x80) {
    *length = 1;
    return lead;
  }
  int count = 0;
  std::int32_t code = 0;
  std::int32_t least = 0;
  if ((lead & 0xE0) == 0xC0) {
    count = 2, code = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    count = 3, code = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    count = 4, code = lead & 0x07, least = 0x10000;
  } else {
    return -1;
  }
  for (int i = 1; i < count; ++i) {
    if ((text[i] & 0xC0) != 0x80) return -1;  // also stops at the NUL
    code = (code << 6) | (text[i] & 0x3F);
  }
  if (code < least || code > 0x10FFFF) return -1;
  *length = count;
  return code;
}

}  // namespace utf16_detail

template <typename Unit>
int Utf16FromUtf8(const char* text, Unit* units, std::size_t capacity) {
  static_assert(sizeof(Unit) == 2);
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  std::size_t n = 0;
  while (*p != 0) {
    int length = 0;
    const std::int32_t code = utf16_detail::Decode(p, &length);
    if (code < 0) return -1;
    // A surrogate pair spelt as two three-byte codes would read back as
    // one four-byte code: only lone surrogates take that form.
    if (code >= 0xD800 && code <= 0xDBFF && p[3] != 0) {
      int next = 0;
      const std::int32_t low = utf16_detail::Decode(p + 3, &next);
      if (low >= 0xDC00 && low <= 0xDFFF) return -1;
    }
    p += length;
    const std::size_t need = code >= 0x10000 ? 2 : 1;
    if (n + need >= capacity) return -1;
    if (need == 2) {
      units[n++] = static_cast<Unit>(0xD800 + ((code - 0x10000) >> 10));
      units[n++] = static_cast<Unit>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      units[n++] = static_cast<Unit>(code);
    }
  }
  if (n >= capacity) return -1;
  units[n] = 0;
  return static_cast<int>(n);
}

template <typename Unit>
int Utf8FromUtf16(const Unit* units, char* text, std::size_t capacity) {
  static_assert(sizeof(Unit) == 2);
  std::size_t n = 0;
  for (std::size_t i = 0; units[i] != 0; ++i) {
    std::uint32_t code = static_cast<std::uint16_t>(units[i]);
    const auto next = static_cast<std::uint16_t>(units[i + 1]);
    if (code >= 0xD800 && code <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
      ++i;
    }
    unsigned char bytes[4];
    std::size_t count = 0;
    if (code < 0x80) {
      bytes[count++] = static_cast<unsigned char>(code);
    } else if (code < 0x800) {
      bytes[count++] = static_cast<unsigned char>(0xC0 | (code >> 6));
      bytes[count++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      bytes[count++] = static_cast<unsigned char>(0xE0 | (code >> 12));
      bytes[count++] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
      bytes[count++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    } else {
      bytes[count++] = static_cast<unsigned char>(0xF0 | (code >> 18));
      bytes[count++] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
      bytes[count++] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
      bytes[count++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    }
    if (n + count >= capacity) return -1;
    for (std::size_t k = 0; k < count; ++k) text[n++] = static_cast<char>(bytes[k]);
  }
  if (n >= capacity) return -1;
  text[n] = '\0';
  return static_cast<int>(n);
}

}  // namespace quilbo

#endif  // QUILBO_PLATFORM_UTF16_H_
