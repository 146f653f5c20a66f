// The text rule: how the bytes of a log become the lines of its archive,
// and where an archive's own text ends. Everything that reads a log (the
// text streams, the count of a copy, the cut) takes it from here.
//
// A log's text is its bytes before its first end marker (0x1A). CR bytes
// are dropped, every LF becomes CR LF, and a last line without LF is ended
// with CR LF when it holds any byte, CRs included. An archive's text ends
// at the first end marker among its last 128 bytes, where an append cuts
// it; a marker further back is text like any other byte.
#ifndef QUILBO_TEXTIO_TEXT_RULE_H_
#define QUILBO_TEXTIO_TEXT_RULE_H_

#include <cstdint>

#include "platform/platform.h"

namespace quilbo {

inline constexpr char kCR = '\r';
inline constexpr char kLF = '\n';
inline constexpr char kEndMarker = '\x1A';
inline constexpr char kLineEnd[] = "\r\n";
inline constexpr std::uint32_t kLineEndSize = 2;
// How far back from its end an archive is searched for an end marker.
inline constexpr std::uint32_t kMarkerWindow = 128;

// Index of the first CR, LF or end marker among the count bytes at text,
// or count.
std::uint32_t FindLineByte(const char* text, std::uint32_t count);

// Where the copy of a log stands after the bytes it was given so far, in
// log order; zero-initialised before the first.
struct TextState {
  bool ended;     // an end marker was met: no later byte is text
  bool lineOpen;  // the text so far ends inside a line, which a line end closes
};

// The copy of the next count bytes of a log, into out (room for 2 * count
// bytes); gives the number of bytes written, and in *used the number of
// bytes that were text: all of them unless an end marker ended the text.
std::uint32_t ConvertText(TextState& state, const char* in, std::uint32_t count, char* out,
                          std::uint32_t* used);

// What ConvertText makes of the same bytes, counted only.
struct TextCount {
  std::uint32_t text;  // bytes before the end marker, if any
  std::int64_t copy;   // bytes of their copy
};
TextCount CountText(TextState& state, const char* in, std::uint32_t count);

// The bytes a copy that has been given all its log owes at the end: the
// line end of a last line without one.
inline std::uint32_t ClosingBytes(const TextState& state) { return state.lineOpen ? kLineEndSize : 0; }

// Where the text of an archive ends: at its first end marker among its
// last kMarkerWindow bytes, or at its end.
struct TextEnd {
  std::int64_t offset;
  bool marker;  // offset is a marker's, which an append cuts away
};

// Reads the last bytes of the archive open as file into window (room for
// kMarkerWindow bytes) and finds its text end. Without a marker the file
// is left at its end; with one, anywhere. False when the file could not be
// placed or read, with the platform's error of the call that failed.
bool FindTextEnd(OsHandle file, char* window, TextEnd* end);

}  // namespace quilbo

#endif  // QUILBO_TEXTIO_TEXT_RULE_H_
