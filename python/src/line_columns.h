// The logger lines of a log as columns of numbers, filled in two passes: the
// first counts the lines and their samples, so that the second writes into
// arrays of their final size.
#ifndef GCUPROTO_PYTHON_LINE_COLUMNS_H
#define GCUPROTO_PYTHON_LINE_COLUMNS_H

#include <gcuproto/blackbox.pb.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "log_input.h"

namespace gcuproto {
namespace python {

struct LineShape {
  std::uint64_t rows = 0;
  std::size_t min_inputs = 0;  // fewest samples of any line (0 without lines)
  std::size_t max_inputs = 0;
  std::size_t min_outputs = 0;
  std::size_t max_outputs = 0;
  std::uint64_t end = 0;  // input offset where the pass stopped
};

// The first pass, over a reader of logger lines only that does not decode: the samples are
// counted from their encoding.
LineShape ScanLines(LogInput* input);

// One sample column: input or output `index`, and the column of its mask when
// some lines lack the sample.
struct Channel {
  bool output = false;
  std::size_t index = 0;
  std::ptrdiff_t mask = -1;
};

// Where one fill writes: arrays of `rows` rows, column after column (column
// c of a matrix starts at c * rows).
struct LineBlock {
  std::size_t rows = 0;
  std::uint32_t* seq_no = nullptr;
  std::uint32_t* timestamp = nullptr;
  std::int32_t* samples = nullptr;  // one column per channel, 0 where missing
  bool* missing = nullptr;          // one column per channel with a mask
};

// The second pass, over a decoding reader held to the bytes the first pass
// read.
class LineFiller {
 public:
  LineFiller(LogInput* input, std::vector<Channel> channels, const LineShape& shape);

  // Fills up to block.rows rows and returns how many; fewer only at the end.
  // Throws std::runtime_error when a line is wider than the first pass saw
  // (the file changed between the passes).
  std::size_t Fill(const LineBlock& block);

  std::uint64_t rows_left() const { return rows_left_; }

 private:
  LogInput* input_;
  std::vector<Channel> channels_;
  LineShape shape_;
  std::uint64_t rows_left_;
};

}  // namespace python
}  // namespace gcuproto

#endif  // GCUPROTO_PYTHON_LINE_COLUMNS_H
