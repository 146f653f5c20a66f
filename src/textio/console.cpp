// The standard streams and the number and character item writers.
#include "textio/console.h"

#include "errors/termination.h"
#include "textio/text_internal.h"

namespace quilbo {

TextStream Output;
TextStream Input;

void OpenStandardStreams() {
  // With empty names the standard handles are taken as they are: neither
  // open can fail, and Output writes through at every statement's end.
  AttachName(Input, std::string_view{});
  OpenRead(Input);
  AttachName(Output, std::string_view{});
  OpenNew(Output);
  ExitStep = CloseStandardStreams;
}

void CloseStandardStreams() {
  CloseStream(Input);
  CloseStream(Output);
}

void WriteNumber(TextStream& stream, std::int32_t value, std::int32_t width) {
  if (!MayWrite(stream)) return;
  char digits[11];
  char* first = digits + sizeof digits;
  // The magnitude as unsigned, so that the smallest value has one too.
  std::uint32_t magnitude = static_cast<std::uint32_t>(value);
  if (value < 0) magnitude = 0U - magnitude;
  do {
    *--first = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--first = '-';
  PutItem(stream,
          std::string_view(first, static_cast<std::size_t>(digits + sizeof digits - first)),
          width);
}

void WriteChar(TextStream& stream, char ch, std::int32_t width) {
  if (MayWrite(stream)) PutItem(stream, std::string_view(&ch, 1), width);
}

}  // namespace quilbo
