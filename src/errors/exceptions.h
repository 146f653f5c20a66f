// The exception classes: the only classes of the program. They exist only
// to end the run; the top level hands them to ReportUnhandled.
#ifndef QUILBO_ERRORS_EXCEPTIONS_H_
#define QUILBO_ERRORS_EXCEPTIONS_H_

#include <cstdint>
#include <source_location>

namespace quilbo {

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
  EInOutError(std::int32_t code, FailureSite site);
  const char* ClassName() const override { return "EInOutError"; }
  std::int32_t IoCode() const { return ioCode_; }

 private:
  std::int32_t ioCode_;
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
