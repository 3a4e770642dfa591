// Opening a blackbox log for the Python readers: the selection a read makes,
// the damage it meets, and a reader that can be held to the bytes an earlier
// pass saw.
#ifndef GCUPROTO_PYTHON_LOG_INPUT_H
#define GCUPROTO_PYTHON_LOG_INPUT_H

#include <gcuproto/blackbox/filter.h>
#include <gcuproto/blackbox/reader.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace gcuproto {
namespace python {

// A file that cannot be opened or read; becomes OSError (FileNotFoundError
// and so on by the errno).
class OpenError : public std::runtime_error {
 public:
  OpenError(std::string path, int error_number);
  const std::string& path() const { return path_; }
  int error_number() const { return error_number_; }

 private:
  std::string path_;
  int error_number_;
};

// A line the second pass finds larger than the first pass counted it: `more`
// says in what ("more samples").
std::runtime_error ChangedBetweenPasses(const std::string& line, std::uint64_t offset,
                                        const std::string& more);

// What a read asks for.
struct Selection {
  blackbox::Filter filter;
  // Carry on after damage, keeping every complete record around it, instead
  // of stopping there: the reader's resync mode.
  bool keep_damaged = false;
};

// One open log: its reader, the input it reads, what it skipped.
class LogInput {
 public:
  // Reads `path` up to `limit` bytes (all of it when none), decoding lines or
  // not. Throws OpenError.
  LogInput(const std::string& path, const Selection& selection, bool decode,
           std::optional<std::uint64_t> limit = std::nullopt);
  ~LogInput();
  LogInput(const LogInput&) = delete;
  LogInput& operator=(const LogInput&) = delete;

  blackbox::Reader& reader() { return *reader_; }

  // The next record the selection takes; false at the end or at damage.
  bool Next() { return reader_->Next(); }

  // After Next() returned false: where reading stopped short, if it did.
  const std::optional<blackbox::Error>& stop() const { return reader_->damage(); }
  // The errno of a failed read of the file, 0 when none failed: the reader
  // sees such a read as the end of the input.
  int read_error() const;
  // What was left out (keep_damaged only).
  const std::vector<blackbox::DamagedSpan>& skipped() const { return reader_->damaged_spans(); }

 private:
  struct Streams;
  std::unique_ptr<Streams> streams_;
  std::unique_ptr<blackbox::Reader> reader_;
};

// One fill of the second pass: up to `wanted` rows, `fill_row(n)` writing
// row n from the line just read, while `*rows_left` of the rows the first
// pass counted remain. Once none remain, or the input ends early, it reads
// on to where the first pass stopped without keeping anything, so that the
// damage that stopped the first pass is met here too.
template <typename FillRow>
std::size_t FillRows(LogInput* input, std::size_t wanted, std::uint64_t* rows_left,
                     FillRow fill_row) {
  std::size_t n = 0;
  while (n<wanted&& * rows_left> 0 && input->Next()) {
    fill_row(n);
    ++n;
    --*rows_left;
  }
  if (*rows_left == 0 || n < wanted) {
    *rows_left = 0;
    while (input->Next()) {
    }
  }
  return n;
}

}  // namespace python
}  // namespace gcuproto

#endif  // GCUPROTO_PYTHON_LOG_INPUT_H
