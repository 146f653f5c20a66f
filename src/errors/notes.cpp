#include "errors/notes.h"

#include <cstdarg>
#include <cstdio>

#include "errors/io_status.h"
#include "platform/error_text.h"
#include "platform/platform.h"

namespace quilbo {

namespace {

#ifdef _WIN32
constexpr const char* kProgram = "Quilbo";
constexpr const char* kLineEnd = "\r\n";
#else
constexpr const char* kProgram = "quilbo";
constexpr const char* kLineEnd = "\n";
#endif

constexpr std::uint32_t kReasonSize = 256;
// Two paths of the longest length and the words around them.
constexpr std::uint32_t kSubjectSize = 2 * kMaxPath + 64;

int Length(std::string_view text) {
  return static_cast<int>(text.size() < kMaxPath ? text.size() : kMaxPath - 1);
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

void WriteNote(const char* format, ...) {
  char line[kSubjectSize + 2 * kReasonSize + kMaxPath];
  int n = std::snprintf(line, sizeof line, "%s: ", kProgram);
  va_list arguments;
  va_start(arguments, format);
  n += std::vsnprintf(line + n, sizeof line - static_cast<std::size_t>(n), format,
                      arguments);
  va_end(arguments);
  const auto room = static_cast<int>(sizeof line) - 3;
  if (n > room) n = room;
  n += std::snprintf(line + n, 3, "%s", kLineEnd);
  std::uint32_t done = 0;
  Os().writeFile(Os().stdHandle(StdStream::kError), line,
                 static_cast<std::uint32_t>(n), &done);
}

void DescribeFailure(SystemFailure failure, char* out, std::uint32_t size) {
  if (failure.cause == 0 && failure.code >= kIoReadBeyondEnd &&
      failure.code <= kIoInvalidNumeric)
    IoMessage(failure.code, out, size);
  else
    SystemErrorText(failure.code, failure.cause, out, size);
}

void DescribeFailure(std::int32_t code, char* out, std::uint32_t size) {
  DescribeFailure(SystemFailure{code, 0}, out, size);
}

void StoreIoFailureOn(std::int32_t code, const char* step,
                      std::string_view subject, std::string_view other) {
  StoreIoFailureOn(FailureOf(code), step, subject, other);
}

namespace {

// "cannot <step> <subject>[ to <other>]: <reason>", then more.
void StoreNotedFailure(SystemFailure failure, const char* step, std::string_view subject,
                       std::string_view other, const char* more) {
  if (failure.code == 0) return;
  char what[kSubjectSize];
  if (other.empty())
    std::snprintf(what, sizeof what, "%s %.*s", step, Length(subject), subject.data());
  else
    std::snprintf(what, sizeof what, "%s %.*s to %.*s", step, Length(subject),
                  subject.data(), Length(other), other.data());
  char reason[kReasonSize];
  DescribeFailure(failure, reason, sizeof reason);
  char note[kFailureNoteSize];
  std::snprintf(note, sizeof note, "cannot %s: %s%s", what, reason, more);
  StoreIoFailure(failure.code, note);
}

}  // namespace

void StoreIoFailureOn(SystemFailure failure, const char* step,
                      std::string_view subject, std::string_view other) {
  StoreNotedFailure(failure, step, subject, other, "");
}

void StoreIoFailureInFolder(SystemFailure failure, const char* step, std::string_view subject,
                            std::string_view folder, SystemFailure notMade) {
  // An existing folder is what most runs find.
  if (notMade.code == 0 || notMade.code == kErrAlreadyExists || notMade.code == kErrFileExists) {
    StoreNotedFailure(failure, step, subject, {}, "");
    return;
  }
  char reason[kReasonSize];
  DescribeFailure(notMade, reason, sizeof reason);
  char more[kMaxPath + kReasonSize + 64];
  std::snprintf(more, sizeof more, " (the folder %.*s could not be made: %s)", Length(folder),
                folder.data(), reason);
  StoreNotedFailure(failure, step, subject, {}, more);
}

void StoreIoFailure(std::int32_t code) {
  if (code == 0) return;
  char message[kReasonSize];
  IoMessage(code, message, sizeof message);
  // The call that just failed may be the one behind code: its reason.
  char reason[kReasonSize];
  DescribeFailure(FailureOf(code), reason, sizeof reason);
  char note[kFailureNoteSize];
  std::snprintf(note, sizeof note, "%s: %s", message, reason);
  StoreIoFailure(code, note);
}

void NoteUnreadFolder(std::string_view patternDir, SystemFailure failure) {
  const std::int32_t code = failure.code;
  if (code == 0 || code == kErrFileNotFound || code == kErrNoMoreFiles) return;
  std::string_view folder = patternDir;
  // "logs/" is the folder logs; "/" and "C:\" stay whole.
  if (folder.size() > 1 && IsSeparator(folder.back()) && folder[folder.size() - 2] != ':')
    folder.remove_suffix(1);
  if (folder.empty()) folder = ".";
  char reason[kReasonSize];
  DescribeFailure(failure, reason, sizeof reason);
  WriteNote("cannot read the folder %.*s: %s", Length(folder), folder.data(), reason);
}

void WriteFailureNote(const Exception& exception) {
  const auto* failure = dynamic_cast<const EInOutError*>(&exception);
  if (failure == nullptr) {
    WriteNote("%s", exception.Message());
    return;
  }
  if (failure->Note()[0] != '\0') {
    WriteNote("%s", failure->Note());
    return;
  }
  // Raised without a note: its number still tells something.
  char reason[kReasonSize];
  DescribeFailure(failure->IoCode(), reason, sizeof reason);
  WriteNote("%s: %s", exception.Message(), reason);
}

}  // namespace quilbo
