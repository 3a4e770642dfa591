// Exit statuses of gcuproto and the exceptions that carry a one-line error to
// main(), which prints it and exits with the matching status.
#ifndef GCUPROTO_TOOLS_ERRORS_H
#define GCUPROTO_TOOLS_ERRORS_H

#include <stdexcept>
#include <string>

namespace gcuproto::cli {

enum ExitStatus : int {
  kExitOk = 0,
  kExitBadInput = 1,  // the input (or an output file) could not be handled
  kExitUsage = 2,     // the command line itself is wrong
  kExitInternal = 3,  // a fault of gcuproto itself, whatever the input
};

// Input that cannot be read, decoded or parsed, or an output that cannot be
// written. The message is one line that names what was wrong and where.
class InputError : public std::runtime_error {
 public:
  explicit InputError(const std::string& message) : std::runtime_error(message) {}
};

// A command line that parses but asks for something the tool cannot do.
class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

// A broken invariant of the tool's own code: a bug to report, never the
// user's input. Any other unexpected exception is treated the same.
class InternalError : public std::logic_error {
 public:
  explicit InternalError(const std::string& message) : std::logic_error(message) {}
};

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_ERRORS_H
