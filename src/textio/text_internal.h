// Pieces of the text streams shared by their files and the item writers of
// the console.
#ifndef QUILBO_TEXTIO_TEXT_INTERNAL_H_
#define QUILBO_TEXTIO_TEXT_INTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "textio/text_stream.h"

namespace quilbo {

// Stores code (0: nothing) as the failure of step on stream's file, which
// the failure report's note names.
void StoreStreamFailure(const TextStream& stream, std::int32_t code,
                        const char* step);
// False, doing nothing, while a failure is pending; stores 105 when the
// stream is not open for writing.
bool MayWrite(TextStream& stream);
// Bytes through the buffer, which is written out each time it fills.
void PutBytes(TextStream& stream, const char* bytes, std::size_t count);
// text right-aligned in width (never cut).
void PutItem(TextStream& stream, std::string_view text, std::int32_t width);

}  // namespace quilbo

#endif  // QUILBO_TEXTIO_TEXT_INTERNAL_H_
