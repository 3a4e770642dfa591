#include <gcuproto/blackbox/exporter.h>
#include <gcuproto/blackbox/line_decoder.h>

#include <algorithm>
#include <cstring>

#include "number_text.h"
#include "varint_block.h"

namespace gcuproto {
namespace blackbox {
namespace {

constexpr std::uint64_t kProgressStep = std::uint64_t{16} << 20;
constexpr std::string_view kDoesNotDecode = "logger line does not decode";

// Where the four fields of a logger line sit in its encoding, for the
// encoding the unit writes: each field at most once, samples packed.
struct Layout {
  std::uint32_t seq_no = 0;
  std::uint32_t timestamp = 0;
  const std::uint8_t* input = nullptr;
  const std::uint8_t* input_end = nullptr;
  const std::uint8_t* output = nullptr;
  const std::uint8_t* output_end = nullptr;
};

// False for anything else (repeated or unpacked samples, unknown fields,
// malformed bytes): the general decoder then decides.
bool FindLayout(std::string_view encoded, Layout* layout) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(encoded.data());
  const auto* end = p + encoded.size();
  while (p < end) {
    const std::uint8_t key = *p++;
    switch (key) {
      case 0x08:
        p = ReadVarint32(p, end, &layout->seq_no);
        break;
      case 0x18:
        p = ReadVarint32(p, end, &layout->timestamp);
        break;
      case 0x12:
      case 0x22: {
        const std::uint8_t** begin = key == 0x12 ? &layout->input : &layout->output;
        std::uint32_t size;
        if (*begin != nullptr || (p = ReadSize(p, end, &size)) == nullptr) return false;
        if (size > static_cast<std::size_t>(end - p)) return false;
        *begin = p;
        (key == 0x12 ? layout->input_end : layout->output_end) = p + size;
        p += size;
        break;
      }
      default:
        return false;
    }
    if (p == nullptr) return false;
  }
  return true;
}

// ",sample" for the zigzag-encoded values below 2^14 (samples from -8192 to
// 8191), eight bytes each with the text's length last: one load and one store
// write a cell.
struct SmallCells {
  static constexpr std::uint32_t kCount = 1u << 14;
  struct Cell {
    char text[7];
    std::uint8_t size;
  };
  Cell cells[kCount];

  SmallCells() {
    for (std::uint32_t n = 0; n < kCount; ++n) {
      char* q = cells[n].text;
      *q++ = ',';
      q = std::to_chars(q, cells[n].text + sizeof cells[n].text, ZigZag32(n)).ptr;
      cells[n].size = static_cast<std::uint8_t>(q - cells[n].text);
    }
  }
};

const SmallCells& TheSmallCells() {
  static const SmallCells* const cells = new SmallCells;
  return *cells;
}

// Writes ",sample" for each of `count` zigzag-encoded samples.
inline char* PutSamples(char* q, const std::uint32_t* samples, std::size_t count,
                        const SmallCells& small) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t n = samples[i];
    if (n < SmallCells::kCount) {
      std::memcpy(q, &small.cells[n], sizeof(SmallCells::Cell));
      q += small.cells[n].size;
    } else {
      *q++ = ',';
      q = PutDecimal(q, ZigZag32(n));
    }
  }
  return q;
}

inline char* PutEmptyCells(char* q, std::size_t cells) {
  std::memset(q, ',', cells);
  return q + cells;
}

std::string TooWide(std::size_t inputs, std::size_t outputs, CsvColumns columns) {
  return "logger line has " + std::to_string(inputs) + " input and " + std::to_string(outputs) +
         " output samples, more than the " + std::to_string(columns.inputs) + " and " +
         std::to_string(columns.outputs) + " columns";
}

// Number of varints in a packed block: the bytes without the continuation bit.
std::size_t CountVarints(const std::uint8_t* p, const std::uint8_t* end) {
  std::size_t terminal = 0;
  for (; end - p >= 8; p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    // One in the low bit of each byte that ends a varint, summed into the top byte.
    const std::uint64_t ends = (~word & 0x8080808080808080ull) >> 7;
    terminal += static_cast<std::size_t>((ends * 0x0101010101010101ull) >> 56);
  }
  for (; p < end; ++p) terminal += *p < 0x80;
  return terminal;
}

}  // namespace

void CsvFormatter::Begin(TextBuffer* out) {
  std::string header = "seqNo,timestamp";
  for (std::size_t i = 0; i < columns_.inputs; ++i) header += ",in" + std::to_string(i);
  for (std::size_t i = 0; i < columns_.outputs; ++i) header += ",out" + std::to_string(i);
  header += '\n';
  out->Append(header);
}

bool CsvFormatter::AppendRow(const BlackboxFileLine& line, TextBuffer* out,
                             std::string* reason) const {
  const auto inputs = static_cast<std::size_t>(line.datainput_size());
  const auto outputs = static_cast<std::size_t>(line.dataoutput_size());
  if (inputs > columns_.inputs || outputs > columns_.outputs) {
    *reason = TooWide(inputs, outputs, columns_);
    return false;
  }
  char* const start =
      out->Reserve(2 * kMaxDecimal32 + (kMaxDecimal32 + 1) * (columns_.inputs + columns_.outputs) + 2);
  char* q = PutDecimal(start, line.seqno());
  *q++ = ',';
  q = PutDecimal(q, line.timestamp());
  for (const std::int32_t sample : line.datainput()) {
    *q++ = ',';
    q = PutDecimal(q, sample);
  }
  q = PutEmptyCells(q, columns_.inputs - inputs);
  for (const std::int32_t sample : line.dataoutput()) {
    *q++ = ',';
    q = PutDecimal(q, sample);
  }
  q = PutEmptyCells(q, columns_.outputs - outputs);
  *q++ = '\n';
  out->Advance(q);
  return true;
}

bool CsvFormatter::Line(RecordKind kind, std::string_view encoded, TextBuffer* out,
                        std::string* reason) {
  if (kind == RecordKind::kCanLine) {
    if (can_line_.ParseFromArray(encoded.data(), static_cast<int>(encoded.size()))) return true;
    *reason = "CAN line does not decode";
    return false;
  }
  Layout layout;
  if (FindLayout(encoded, &layout)) {
    // Each sample takes at least one byte: the blocks' lengths bound the count.
    const auto input_room = static_cast<std::size_t>(layout.input_end - layout.input);
    const auto output_room = static_cast<std::size_t>(layout.output_end - layout.output);
    if (samples_.size() < input_room + output_room) samples_.resize(input_room + output_room);
    std::uint32_t* const inputs = samples_.data();
    const std::uint32_t* const inputs_end = DecodeBlock<Samples::kZigZag>(layout.input, layout.input_end, inputs);
    std::uint32_t* const outputs = samples_.data() + input_room;
    const std::uint32_t* const outputs_end =
        inputs_end == nullptr ? nullptr : DecodeBlock<Samples::kZigZag>(layout.output, layout.output_end, outputs);
    if (outputs_end != nullptr) {
      const auto input_count = static_cast<std::size_t>(inputs_end - inputs);
      const auto output_count = static_cast<std::size_t>(outputs_end - outputs);
      if (input_count > columns_.inputs || output_count > columns_.outputs) {
        *reason = TooWide(input_count, output_count, columns_);
        return false;
      }
      char* q = out->Reserve(2 * kMaxDecimal32 + (kMaxDecimal32 + 1) * (columns_.inputs + columns_.outputs) + 2);
      q = PutDecimal(q, layout.seq_no);
      *q++ = ',';
      q = PutDecimal(q, layout.timestamp);
      const SmallCells& small = TheSmallCells();
      q = PutSamples(q, inputs, input_count, small);
      q = PutEmptyCells(q, columns_.inputs - input_count);
      q = PutSamples(q, outputs, output_count, small);
      q = PutEmptyCells(q, columns_.outputs - output_count);
      *q++ = '\n';
      out->Advance(q);
      return true;
    }
    // Malformed: the decoder below has the last word.
  }
  if (!DecodeLoggerLine(encoded, &line_)) {
    *reason = std::string(kDoesNotDecode);
    return false;
  }
  return AppendRow(line_, out, reason);
}

CsvColumns ScanCsvColumns(Reader* reader,
                          const std::function<void(std::uint64_t offset)>& on_progress) {
  CsvColumns columns;
  BlackboxFileLine line;
  std::uint64_t next_progress = kProgressStep;
  while (reader->next()) {
    if (on_progress && reader->end_offset() >= next_progress) {
      on_progress(reader->end_offset());
      next_progress = reader->end_offset() + kProgressStep;
    }
    if (reader->kind() != RecordKind::kLoggerLine) continue;
    Layout layout;
    std::size_t inputs;
    std::size_t outputs;
    const std::string_view encoded = reader->raw();
    const bool ends_well = [&] {
      // A block whose last byte continues a varint is malformed; count it
      // through the decoder.
      if (!FindLayout(encoded, &layout)) return false;
      if (layout.input != layout.input_end && layout.input_end[-1] >= 0x80) return false;
      if (layout.output != layout.output_end && layout.output_end[-1] >= 0x80) return false;
      return true;
    }();
    if (ends_well) {
      inputs = CountVarints(layout.input, layout.input_end);
      outputs = CountVarints(layout.output, layout.output_end);
    } else if (DecodeLoggerLine(encoded, &line)) {
      inputs = static_cast<std::size_t>(line.datainput_size());
      outputs = static_cast<std::size_t>(line.dataoutput_size());
    } else {
      continue;  // the export itself reports it
    }
    columns.inputs = std::max(columns.inputs, inputs);
    columns.outputs = std::max(columns.outputs, outputs);
  }
  return columns;
}

}  // namespace blackbox
}  // namespace gcuproto
