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

struct FailureNote {
  std::uint32_t failure;  // IoFailureCount of the failure it describes
  std::int32_t code;
  char what[kSubjectSize];  // "create logs/app.log"
  char subject[kMaxPath];   // the file alone, to tell where it lies
  char reason[kReasonSize];
};
thread_local FailureNote tNote{0, 0, "", "", ""};

struct FolderNote {
  char folder[kMaxPath];
  char reason[kReasonSize];
};
thread_local FolderNote tFolder{"", ""};

// The run's open folders (the log folder and the archive folder).
struct NamedFolder {
  OsHandle folder;
  std::string prefix;
};
thread_local NamedFolder tFolders[2] = {{kInvalidHandle, {}}, {kInvalidHandle, {}}};

int Length(std::string_view text) {
  return static_cast<int>(text.size() < kMaxPath ? text.size() : kMaxPath - 1);
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Whether path names something inside folder.
bool LiesIn(std::string_view path, std::string_view folder) {
  return !folder.empty() && path.size() > folder.size() &&
         path.substr(0, folder.size()) == folder &&
         IsSeparator(path[folder.size()]);
}

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

void StoreIoFailureOn(SystemFailure failure, const char* step,
                      std::string_view subject, std::string_view other) {
  const std::int32_t code = failure.code;
  if (code == 0) return;
  StoreIoFailure(code);
  tNote.failure = IoFailureCount;
  tNote.code = code;
  if (other.empty())
    std::snprintf(tNote.what, sizeof tNote.what, "%s %.*s", step,
                  Length(subject), subject.data());
  else
    std::snprintf(tNote.what, sizeof tNote.what, "%s %.*s to %.*s", step,
                  Length(subject), subject.data(), Length(other), other.data());
  std::snprintf(tNote.subject, sizeof tNote.subject, "%.*s", Length(subject),
                subject.data());
  DescribeFailure(failure, tNote.reason, sizeof tNote.reason);
}

void NoteFolderNotMade(std::string_view folder, SystemFailure failure) {
  // An existing folder is what most runs find.
  if (failure.code == kErrAlreadyExists || failure.code == kErrFileExists) return;
  std::snprintf(tFolder.folder, sizeof tFolder.folder, "%.*s", Length(folder),
                folder.data());
  DescribeFailure(failure, tFolder.reason, sizeof tFolder.reason);
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
  if (tNote.failure != IoFailureCount || tNote.code != failure->IoCode()) {
    // Stored without a note of its own: the platform may still know why.
    char reason[kReasonSize];
    DescribeFailure(FailureOf(failure->IoCode()), reason, sizeof reason);
    WriteNote("%s: %s", exception.Message(), reason);
    return;
  }
  if (LiesIn(tNote.subject, tFolder.folder))
    WriteNote("cannot %s: %s (the folder %s could not be made: %s)", tNote.what,
              tNote.reason, tFolder.folder, tFolder.reason);
  else
    WriteNote("cannot %s: %s", tNote.what, tNote.reason);
}

void NameFolderForNotes(OsHandle folder, std::string_view prefix) {
  if (folder == kInvalidHandle) return;
  for (NamedFolder& named : tFolders) {
    if (named.folder != kInvalidHandle && named.folder != folder) continue;
    named.folder = folder;
    named.prefix.assign(prefix);
    return;
  }
  // More folders than a run opens: the oldest gives way.
  tFolders[0] = tFolders[1];
  tFolders[1] = NamedFolder{folder, std::string(prefix)};
}

std::string NotedPath(OsHandle folder, std::string_view name) {
  if (folder != kInvalidHandle) {
    for (const NamedFolder& named : tFolders)
      if (named.folder == folder) return named.prefix + std::string(name);
  }
  return std::string(name);
}

}  // namespace quilbo
