#include <gcuproto/blackbox/csv_formatter.h>
#include <gcuproto/blackbox/line_decoder.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "number_text.h"
#include "sample_text.h"
#include "varint_block.h"

namespace gcuproto {
namespace blackbox {
namespace {

constexpr std::uint64_t kProgressStep = std::uint64_t{16} << 20;
constexpr std::string_view kDoesNotDecode = "logger line does not decode";

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

// Writes the chosen channels' cells from zigzag-encoded samples.
char* PutChannels(char* q, const std::vector<CsvChannel>& channels, const std::uint32_t* inputs,
                  std::size_t input_count, const std::uint32_t* outputs, std::size_t output_count) {
  for (const CsvChannel& channel : channels) {
    *q++ = ',';
    const std::uint32_t* samples = channel.output ? outputs : inputs;
    const std::size_t count = channel.output ? output_count : input_count;
    if (channel.index < count) q = PutDecimal(q, ZigZag32(samples[channel.index]));
  }
  return q;
}

std::string ChannelName(const CsvChannel& channel) {
  return (channel.output ? "out" : "in") + std::to_string(channel.index);
}

}  // namespace

bool ParseCsvChannels(std::string_view text, std::vector<CsvChannel>* channels, Error* error) {
  channels->clear();
  for (;;) {
    const std::size_t comma = text.find(',');
    const std::string_view name = text.substr(0, comma);
    CsvChannel channel;
    std::string_view number;
    if (name.substr(0, 2) == "in") {
      number = name.substr(2);
    } else if (name.substr(0, 3) == "out") {
      channel.output = true;
      number = name.substr(3);
    }
    const auto [end, ec] =
        std::from_chars(number.data(), number.data() + number.size(), channel.index);
    if (number.empty() || ec != std::errc() || end != number.data() + number.size() ||
        (number.size() > 1 && number.front() == '0')) {
      return Report(error, Error(ErrorKind::kInvalidArgument,
                                 "'" + std::string(name) +
                                     "' is no channel: give in<N> or out<N>, such as in2,out0"));
    }
    channels->push_back(channel);
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

CsvFormatter::CsvFormatter(CsvColumns columns, CsvOptions options)
    : columns_(columns), options_(std::move(options)) {
  widenings_.push_back({0, columns_});
}

void CsvFormatter::WriteHeader(TextBuffer* out) const {
  std::string header = "seqNo,timestamp";
  if (options_.time) header += ",time";
  if (!options_.channels.empty()) {
    for (const CsvChannel& channel : options_.channels) header += "," + ChannelName(channel);
  } else {
    for (std::size_t i = 0; i < columns_.inputs; ++i) header += ",in" + std::to_string(i);
    for (std::size_t i = 0; i < columns_.outputs; ++i) header += ",out" + std::to_string(i);
  }
  if (options_.source) header += ",source";
  header += '\n';
  out->Append(header);
}

void CsvFormatter::Begin(TextBuffer* out) {
  if (!options_.grow) WriteHeader(out);
  header_pending_ = options_.grow && options_.header_first;
  first_row_ = out->position();
  begun_ = true;
}

bool CsvFormatter::SetSource(std::string_view name, Error* error) {
  if (name.find_first_of("\r\n") != std::string_view::npos)
    return Report(error, SourceWithLineBreak());
  source_cell_ = "," + CsvCell(name);
  return true;
}

std::size_t CsvFormatter::RowRoom() const {
  const std::size_t cells =
      options_.channels.empty() ? columns_.inputs + columns_.outputs : options_.channels.size();
  return 2 * kMaxDecimal32 + (kMaxDecimal32 + 1) * cells + source_cell_.size() + kMaxSecondsText +
         16;
}

bool CsvFormatter::Fits(std::size_t inputs, std::size_t outputs, TextBuffer* out, Error* error) {
  CsvColumns& columns = columns_;
  if (header_pending_) {
    // The first line sets the header; the rows come after it.
    if (options_.channels.empty()) {
      columns.inputs = std::max(columns.inputs, inputs);
      columns.outputs = std::max(columns.outputs, outputs);
      widenings_.back().columns = columns;
    }
    WriteHeader(out);
    first_row_ = out->position();
    header_pending_ = false;
    return true;
  }
  if (!options_.channels.empty()) return true;
  if (inputs <= columns.inputs && outputs <= columns.outputs) return true;
  if (!options_.grow) {
    return Report(error, Error(ErrorKind::kUnsupported, TooWide(inputs, outputs, columns)));
  }
  columns.inputs = std::max(columns.inputs, inputs);
  columns.outputs = std::max(columns.outputs, outputs);
  const std::uint64_t start = begun_ ? out->position() - first_row_ : 0;
  if (widenings_.back().start == start) {
    widenings_.back().columns = columns;
  } else {
    widenings_.push_back({start, columns});
  }
  return true;
}

char* CsvFormatter::PutPrefix(char* q, std::uint32_t seq_no, std::uint32_t timestamp) const {
  q = PutDecimal(q, seq_no);
  *q++ = ',';
  q = PutDecimal(q, timestamp);
  if (options_.time) {
    *q++ = ',';
    q = PutSeconds(q, timestamp, options_.time_scale.digits(), options_.time_scale.exponent());
  }
  return q;
}

bool CsvFormatter::AppendRow(const BlackboxFileLine& line, TextBuffer* out, Error* error) {
  const auto inputs = static_cast<std::size_t>(line.datainput_size());
  const auto outputs = static_cast<std::size_t>(line.dataoutput_size());
  if (!Fits(inputs, outputs, out, error)) return false;
  char* q = PutPrefix(out->Reserve(RowRoom()), line.seqno(), line.timestamp());
  if (!options_.channels.empty()) {
    for (const CsvChannel& channel : options_.channels) {
      *q++ = ',';
      const auto& samples = channel.output ? line.dataoutput() : line.datainput();
      if (channel.index < static_cast<std::uint32_t>(samples.size())) {
        q = PutDecimal(q, samples.Get(static_cast<int>(channel.index)));
      }
    }
  } else {
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
  }
  q = PutText(q, source_cell_);
  *q++ = '\n';
  out->Advance(q);
  return true;
}

bool CsvFormatter::Line(RecordKind kind, std::string_view encoded, TextBuffer* out, Error* error) {
  if (kind == RecordKind::kCanLine) {
    if (can_line_.ParseFromArray(encoded.data(), static_cast<int>(encoded.size()))) return true;
    return Report(error, Error(ErrorKind::kDamaged, "CAN line does not decode"));
  }
  Layout layout;
  std::size_t input_count;
  std::size_t output_count;
  if (FindLayout(encoded, &layout) &&
      DecodeLayout(layout, &samples_, &input_count, &output_count)) {
    if (!Fits(input_count, output_count, out, error)) return false;
    const std::uint32_t* const inputs = samples_.data();
    const std::uint32_t* const outputs = inputs + input_count;
    char* q = PutPrefix(out->Reserve(RowRoom()), layout.seq_no, layout.timestamp);
    if (options_.channels.empty()) {
      const SmallCells& small = TheSmallCells();
      q = PutSamples(q, inputs, input_count, small);
      q = PutEmptyCells(q, columns_.inputs - input_count);
      q = PutSamples(q, outputs, output_count, small);
      q = PutEmptyCells(q, columns_.outputs - output_count);
    } else {
      q = PutChannels(q, options_.channels, inputs, input_count, outputs, output_count);
    }
    q = PutText(q, source_cell_);
    *q++ = '\n';
    out->Advance(q);
    return true;
  }
  // Unusual or malformed: the decoder has the last word.
  if (!DecodeLoggerLine(encoded, &line_)) {
    return Report(error, Error(ErrorKind::kDamaged, std::string(kDoesNotDecode)));
  }
  return AppendRow(line_, out, error);
}

CsvWidener::CsvWidener(const CsvFormatter& formatter)
    : widenings_(formatter.widenings()),
      final_(formatter.columns()),
      prefix_cells_(formatter.options().time ? 3 : 2) {}

void CsvWidener::Feed(std::string_view rows, TextBuffer* out) {
  while (!rows.empty()) {
    while (epoch_ + 1 < widenings_.size() && offset_ >= widenings_[epoch_ + 1].start) ++epoch_;
    const CsvColumns columns = widenings_[epoch_].columns;
    const std::uint64_t epoch_end =
        epoch_ + 1 < widenings_.size() ? widenings_[epoch_ + 1].start : ~std::uint64_t{0};
    const auto take =
        static_cast<std::size_t>(std::min<std::uint64_t>(rows.size(), epoch_end - offset_));
    const std::string_view piece = rows.substr(0, take);
    const std::size_t add_inputs = final_.inputs - columns.inputs;
    const std::size_t add_outputs = final_.outputs - columns.outputs;
    if (add_inputs == 0 && add_outputs == 0) {
      out->Append(piece);
    } else {
      // After this many cells come the missing inputs, and the missing outputs.
      const std::size_t inputs_at = prefix_cells_ + columns.inputs;
      const std::size_t outputs_at = inputs_at + columns.outputs;
      char* q = out->Reserve(piece.size() * (1 + add_inputs + add_outputs));
      for (const char c : piece) {
        if (c == ',') {
          ++commas_;
          if (commas_ == inputs_at) q = PutEmptyCells(q, add_inputs);
          if (commas_ == outputs_at) q = PutEmptyCells(q, add_outputs);
        } else if (c == '\n') {
          if (commas_ < inputs_at) q = PutEmptyCells(q, add_inputs);
          if (commas_ < outputs_at) q = PutEmptyCells(q, add_outputs);
          commas_ = 0;
        }
        *q++ = c;
      }
      out->Advance(q);
    }
    offset_ += take;
    rows.remove_prefix(take);
  }
}

CsvColumns ScanCsvColumns(Reader* reader,
                          const std::function<void(std::uint64_t offset)>& on_progress) {
  CsvColumns columns;
  BlackboxFileLine line;
  std::uint64_t next_progress = kProgressStep;
  while (reader->Next()) {
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
