#include "can_columns.h"

#include <gcuproto/blackbox.pb.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace gcuproto {
namespace python {

CanShape ScanCan(LogInput* input) {
  CanShape shape;
  BlackboxCandumpFileLine line;
  while (input->Next()) {
    const std::string_view raw = input->reader().raw();
    // A line that does not decode counts as a row; the second pass stops at
    // it or leaves it out.
    if (line.ParseFromArray(raw.data(), static_cast<int>(raw.size()))) {
      shape.max_data = std::max(shape.max_data, line.data().size());
    }
    ++shape.rows;
  }
  shape.end = input->reader().complete_bytes();
  return shape;
}

std::size_t CanFiller::Fill(const CanBlock& block) {
  return FillRows(input_, block.rows, &rows_left_, [&](std::size_t n) {
    const BlackboxCandumpFileLine& line = input_->reader().can_line();
    const std::string& data = line.data();
    if (data.size() > shape_.max_data) {
      throw ChangedBetweenPasses("CAN line", input_->reader().offset(), "more data");
    }
    block.seq_no[n] = line.seqno();
    block.timestamp[n] = line.timestamp();
    block.can_id[n] = line.canid();
    block.message_id[n] = line.messageid();
    block.extended[n] = line.extended();
    if (block.data != nullptr) {
      // The caller sized the matrix for the longest frame.
      block.dlc[n] = static_cast<std::uint8_t>(data.size());
      std::uint8_t* cell = block.data + n;
      for (std::size_t i = 0; i < block.data_width; ++i, cell += block.rows) {
        *cell = i < data.size() ? static_cast<std::uint8_t>(data[i]) : 0;
      }
    } else {
      block.data_bytes->append(data);
      block.data_ends->push_back(block.data_bytes->size());
    }
  });
}

}  // namespace python
}  // namespace gcuproto
