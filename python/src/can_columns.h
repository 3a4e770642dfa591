// The CAN lines of a log as columns, in two passes like the logger lines.
#ifndef GCUPROTO_PYTHON_CAN_COLUMNS_H
#define GCUPROTO_PYTHON_CAN_COLUMNS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "log_input.h"

namespace gcuproto {
namespace python {

struct CanShape {
  std::uint64_t rows = 0;
  std::size_t max_data = 0;  // longest data of any line
  std::uint64_t end = 0;     // input offset where the pass stopped
};

// The first pass, over a reader of CAN lines only that does not decode.
CanShape ScanCan(LogInput* input);

// Where one fill writes, `rows` rows. The data goes either into `data`, a
// matrix of `data_width` columns of `rows` bytes, column after column, zero
// past a frame's length; or, without it, into `data_bytes` with each line's
// end in `data_ends`.
struct CanBlock {
  std::size_t rows = 0;
  std::uint32_t* seq_no = nullptr;
  std::uint32_t* timestamp = nullptr;
  std::uint32_t* can_id = nullptr;
  std::uint32_t* message_id = nullptr;
  bool* extended = nullptr;
  std::uint8_t* dlc = nullptr;
  std::uint8_t* data = nullptr;
  std::size_t data_width = 0;
  std::string* data_bytes = nullptr;
  std::vector<std::size_t>* data_ends = nullptr;
};

class CanFiller {
 public:
  CanFiller(LogInput* input, const CanShape& shape)
      : input_(input), shape_(shape), rows_left_(shape.rows) {}

  // Fills up to block.rows rows and returns how many; fewer only at the end.
  std::size_t Fill(const CanBlock& block);

 private:
  LogInput* input_;
  CanShape shape_;
  std::uint64_t rows_left_;
};

}  // namespace python
}  // namespace gcuproto

#endif  // GCUPROTO_PYTHON_CAN_COLUMNS_H
