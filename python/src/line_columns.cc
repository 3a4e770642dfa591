#include "line_columns.h"

#include <gcuproto/blackbox/line_decoder.h>
#include <gcuproto/codec/wire.h>

#include <algorithm>
#include <stdexcept>

namespace gcuproto {
namespace python {

namespace {

// Counts the samples of the usual encoding: known fields only, the samples
// packed or one by one. False for anything else, which the decoder counts.
bool CountSamples(std::string_view encoded, std::size_t* inputs, std::size_t* outputs) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(encoded.data());
  const auto* const end = p + encoded.size();
  *inputs = *outputs = 0;
  while (p < end) {
    const std::uint8_t key = *p++;
    std::uint64_t value;
    switch (key) {
      case 0x08:
      case 0x18:
        p = wire::ReadVarint(p, end, &value);
        break;
      case 0x10:
      case 0x20:
        ++*(key == 0x10 ? inputs : outputs);
        p = wire::ReadVarint(p, end, &value);
        break;
      case 0x12:
      case 0x22: {
        std::uint32_t size = 0;
        p = wire::ReadLength(p, end, &size);
        if (p == nullptr || size > static_cast<std::uint64_t>(end - p)) return false;
        const std::uint8_t* const block_end = p + size;
        if (size > 0 && block_end[-1] >= 0x80) return false;
        std::size_t count = 0;
        for (; p < block_end; ++p) count += *p < 0x80;
        *(key == 0x12 ? inputs : outputs) += count;
        break;
      }
      default:
        return false;
    }
    if (p == nullptr) return false;
  }
  return true;
}

}  // namespace

LineShape ScanLines(LogInput* input) {
  LineShape shape;
  shape.min_inputs = shape.min_outputs = SIZE_MAX;
  BlackboxFileLine line;
  while (input->Next()) {
    std::size_t inputs = 0;
    std::size_t outputs = 0;
    const std::string_view raw = input->reader().raw();
    if (!CountSamples(raw, &inputs, &outputs) && blackbox::DecodeLoggerLine(raw, &line)) {
      inputs = static_cast<std::size_t>(line.datainput_size());
      outputs = static_cast<std::size_t>(line.dataoutput_size());
    }
    // A line that does not decode is counted as it stands; the second pass,
    // which decodes, stops at it or leaves it out.
    ++shape.rows;
    shape.min_inputs = std::min(shape.min_inputs, inputs);
    shape.max_inputs = std::max(shape.max_inputs, inputs);
    shape.min_outputs = std::min(shape.min_outputs, outputs);
    shape.max_outputs = std::max(shape.max_outputs, outputs);
  }
  if (shape.rows == 0) shape.min_inputs = shape.min_outputs = 0;
  shape.end = input->reader().complete_bytes();
  return shape;
}

LineFiller::LineFiller(LogInput* input, std::vector<Channel> channels, const LineShape& shape)
    : input_(input), channels_(std::move(channels)), shape_(shape), rows_left_(shape.rows) {}

std::size_t LineFiller::Fill(const LineBlock& block) {
  const std::size_t stride = block.rows;
  return FillRows(input_, block.rows, &rows_left_, [&](std::size_t n) {
    const BlackboxFileLine& line = input_->reader().logger_line();
    const auto inputs = static_cast<std::size_t>(line.datainput_size());
    const auto outputs = static_cast<std::size_t>(line.dataoutput_size());
    if (inputs > shape_.max_inputs || outputs > shape_.max_outputs) {
      throw ChangedBetweenPasses("logger line", input_->reader().offset(), "more samples");
    }
    block.seq_no[n] = line.seqno();
    block.timestamp[n] = line.timestamp();
    const std::int32_t* const in = line.datainput().data();
    const std::int32_t* const out = line.dataoutput().data();
    std::int32_t* column = block.samples + n;
    for (const Channel& channel : channels_) {
      const std::size_t count = channel.output ? outputs : inputs;
      const bool present = channel.index < count;
      *column = present ? (channel.output ? out : in)[channel.index] : 0;
      if (channel.mask >= 0)
        block.missing[static_cast<std::size_t>(channel.mask) * stride + n] = !present;
      column += stride;
    }
  });
}

}  // namespace python
}  // namespace gcuproto
