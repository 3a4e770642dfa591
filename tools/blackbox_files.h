// What the blackbox subcommands share: streaming outputs that appear only
// when complete, a progress line for large inputs, and reading options.
#ifndef GCUPROTO_TOOLS_BLACKBOX_FILES_H
#define GCUPROTO_TOOLS_BLACKBOX_FILES_H

#include <gcuproto/blackbox/can_id_field.h>
#include <gcuproto/blackbox/error.h>
#include <gcuproto/blackbox/reader.h>
#include <gcuproto/platform/file.h>

#include <cstdint>
#include <memory>
#include <string>

namespace CLI {
class App;
}  // namespace CLI

namespace gcuproto::cli {

class Progress;

void AddBlackboxInfoCommand(CLI::App& group);
void AddBlackboxExportCommand(CLI::App& group);
void AddBlackboxRecoverCommand(CLI::App& group);
void AddBlackboxCatCommand(CLI::App& group);

// An output written as it goes: standard output for "" and "-", else a
// platform::Output: a regular file (a symbolic link's target) is replaced by
// commit() once complete, keeping its mode, owner and hard links; destroyed
// without commit(), nothing of it remains. A device, FIFO or socket is
// written directly. Call RefuseOutputOverInput() (output.h) first.
class StreamingOutput {
 public:
  explicit StreamingOutput(const std::string& path);  // throws InputError
  StreamingOutput(const StreamingOutput&) = delete;
  StreamingOutput& operator=(const StreamingOutput&) = delete;

  int fd() { return output_.file().descriptor(); }
  platform::File& file() { return output_.file(); }
  bool is_stdout() const { return path_.empty() || path_ == "-"; }
  // Throws InputError naming the output and the errno of a failed write.
  [[noreturn]] void Fail(int error_number) const;
  [[noreturn]] void Fail(std::error_code error, const std::string& detail = {}) const;
  void Commit();  // throws InputError

 private:
  std::string path_;
  platform::Output output_;
};

// Copies bytes [from, to) of the file at `path` to `output`; throws
// InputError when either side fails.
void CopyBytes(const std::string& path, std::uint64_t from, std::uint64_t to,
               StreamingOutput& output, Progress* progress = nullptr,
               std::uint64_t progress_base = 0);

// "PATH: damaged at byte N: reason", the one-line message for damaged input.
std::string DamageMessage(const std::string& path, const blackbox::Error& damage);

// True when `path` can be read more than once: a regular file (or a block
// device), not standard input, a FIFO, <(...) or a character device.
bool ReadableTwice(const std::string& path);

// Opens a blackbox file for reading; "-" reads standard input. A command
// that must read its input twice gives `not_stdin_reason`, and is refused (a
// UsageError) any input that can be read only once. Throws InputError when
// the file cannot be opened.
std::unique_ptr<blackbox::Reader> OpenBlackbox(const std::string& path,
                                               blackbox::ReaderOptions options,
                                               const char* not_stdin_reason = nullptr);

// Size of a regular file, 0 for anything else.
std::uint64_t FileSize(const std::string& path);

// "done/total MiB, percent" on one stderr line, redrawn with \r; only when
// stderr is a terminal and the input is at least 64 MiB.
class Progress {
 public:
  Progress(std::string label, std::uint64_t total);
  ~Progress();
  void Update(std::uint64_t done);
  void set_label(std::string label) { label_ = std::move(label); }

 private:
  std::string label_;
  std::uint64_t total_;
  bool shown_;
  std::size_t drawn_ = 0;  // length of the longest line drawn
};

// The names --id-field accepts.
blackbox::CanIdField ParseIdField(const std::string& name);
extern const char* const kIdFieldHelp;

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_BLACKBOX_FILES_H
