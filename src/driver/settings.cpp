#include "driver/settings.h"

#include "driver/text_ops.h"

namespace quilbo {

std::int32_t ParseLeadingNumber(std::string_view text) {
  const ParsedInteger whole = ParseInteger(text);
  if (whole.errorPosition == 0) return whole.value;
  return ParseInteger(SubText(text, 1, whole.errorPosition - 1)).value;
}

namespace {

// Linux folders start with '/' as options do: /tmp/arch must not read as
// /T. There an argument holding a second '/' is always a folder name.
bool IsFolderNotOption(std::string_view argument) {
#ifdef _WIN32
  (void)argument;
  return false;
#else
  return argument.size() > 1 && argument.find('/', 1) != std::string_view::npos;
#endif
}

}  // namespace

ArgumentRole ApplyOption(RunSettings& settings, std::string_view argument) {
  if (!IsFolderNotOption(argument)) {
    const std::string upper = UpperText(argument);
    if (TextEquals(upper, "/D")) {
      settings.DeleteOriginals = true;
      return ArgumentRole::kDelete;
    }
    if (FindText("/T", upper) == 1) {
      settings.TruncateKb =
          ParseLeadingNumber(SubText(argument, 3, 250));
      return ArgumentRole::kTruncate;
    }
  }
  settings.ArchiveDir = std::string(argument);
  return ArgumentRole::kFolder;
}

}  // namespace quilbo
