// How the blackbox library reports what went wrong.
//
// Every call that can fail returns bool (a factory: a null pointer) and,
// when it fails, describes the failure in `*error`, its last parameter;
// `error` may be null when the verdict is all the caller needs:
//
//   Error error;
//   std::unique_ptr<Writer> writer = Writer::Open(path, {}, &error);
//   if (!writer || !writer->Write(line, &error)) std::cerr << error.message() << '\n';
//
// That holds for opening (Reader::Open, Writer::Open), writing (Writer's
// calls), formatting and exporting (LineFormatter::Line and SetSource, the
// formatters' Append calls, Exporter, Export) and parsing what a person
// typed (ParseCanIdMatch, ParseTick, ParseSeqRange, ParseCsvChannels).
// Calls that only judge whether bytes or text are valid, where there is
// nothing to say but no (DecodeLoggerLine, ReadLineHeader, Selects,
// StatsCollector::AddEncoded, TimeScale::Parse), answer with bool alone, as
// does a Sink, which alone knows why it could not write.
//
// Objects keep no error to be asked for later, with one exception that is
// no failed call: a Reader's input may end in damage, which is what the
// reading found rather than a call that failed; once Next() has returned
// false, Reader::damage() holds it as an Error.
//
// Misuse is a bug of the caller, not an error to handle: debug builds
// assert on it (a logger line's fields asked for while the record is a CAN
// line, a write after a failed write or after Close()); release builds
// answer a misused call that can fail with kInvalidArgument or the failure
// before it.
#ifndef GCUPROTO_BLACKBOX_ERROR_H
#define GCUPROTO_BLACKBOX_ERROR_H

#include <cstdint>
#include <string>
#include <utility>

namespace gcuproto {
namespace blackbox {

enum class ErrorKind {
  kIo,               // the system refused to open, read, write or sync
  kDamaged,          // bytes that are not a valid record or line
  kCutShort,         // a record cut short by the end of the input
  kUnsupported,      // a valid line the chosen output cannot hold
  kInvalidArgument,  // text or a call the caller got wrong
};

class Error {
 public:
  // A blank to pass as an out-parameter.
  Error() = default;
  Error(ErrorKind kind, std::string message) : kind_(kind), message_(std::move(message)) {}
  Error(ErrorKind kind, std::uint64_t offset, std::string message)
      : kind_(kind), has_offset_(true), offset_(offset), message_(std::move(message)) {}

  ErrorKind kind() const { return kind_; }
  // The byte of the input (or of the output) where it went wrong.
  bool has_offset() const { return has_offset_; }
  std::uint64_t offset() const { return offset_; }
  // One line for a person. It names the file when the call was given a
  // path; for damage in a stream it says only what is wrong, since only
  // the caller knows the stream's name and says where.
  const std::string& message() const { return message_; }

  // The same error placed at `offset`, as a caller that knows where a
  // line stands adds it to a formatter's verdict.
  Error At(std::uint64_t offset) const { return Error(kind_, offset, message_); }

 private:
  ErrorKind kind_ = ErrorKind::kInvalidArgument;
  bool has_offset_ = false;
  std::uint64_t offset_ = 0;
  std::string message_;
};

// Fills `*error`, when there is one, and returns false: the last statement
// of a failing call, a LineFormatter's included.
inline bool Report(Error* error, Error what) {
  if (error != nullptr) *error = std::move(what);
  return false;
}

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_ERROR_H
