// The exception classes: the only classes of the program. They exist only
// to end the run; the top level hands them to ReportUnhandled.
#ifndef QUILBO_ERRORS_EXCEPTIONS_H_
#define QUILBO_ERRORS_EXCEPTIONS_H_

#include <cstdint>
#include <source_location>

#include "platform/platform.h"

namespace quilbo {

// Room for the note that tells a person what failed: the step, two paths,
// the folder the file lies in and the system's reasons.
inline constexpr std::uint32_t kFailureNoteSize = 3 * kMaxPath + 1024;

// Where a failure was raised: a code address and, when known, the source.
struct FailureSite {
  const void* address;
  const char* file;  // null when unknown
  std::uint32_t line;
};

class Exception {
 public:
  // The message is copied into the object, so raising needs no heap.
  Exception(const char* message, FailureSite site);
  virtual ~Exception() = default;
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;

  virtual const char* ClassName() const { return "Exception"; }
  const char* Message() const { return message_; }
  const FailureSite& Site() const { return site_; }

 protected:
  // For subclasses that compose their message in place.
  explicit Exception(FailureSite site) : message_{}, site_(site) {}
  char* MessageBuffer() { return message_; }
  static constexpr std::uint32_t kMessageSize = 256;

 private:
  char message_[kMessageSize];
  FailureSite site_;
};

class EInOutError : public Exception {
 public:
  // note: what a person is told of the failure, made where it happened
  // (copied; empty when there is none).
  EInOutError(std::int32_t code, FailureSite site, const char* note = "");
  const char* ClassName() const override { return "EInOutError"; }
  std::int32_t IoCode() const { return ioCode_; }
  const char* Note() const { return note_; }

 private:
  std::int32_t ioCode_;
  char note_[kFailureNoteSize];
};

class EOutOfMemory : public Exception {
 public:
  explicit EOutOfMemory(FailureSite site) : Exception("Out of memory", site) {}
  const char* ClassName() const override { return "EOutOfMemory"; }
};

// The message the failure report gives for an I/O code.
void IoMessage(std::int32_t code, char* out, std::uint32_t size);

}  // namespace quilbo

#endif  // QUILBO_ERRORS_EXCEPTIONS_H_
