// The text exports on arbitrary files. The first byte picks the format (CSV,
// JSON lines, candump, CAN CSV) and its options: a time column or a start
// time, a time scale, a source name that needs quoting, chosen channels or
// the candump id field, columns from the first pass or too few of them, and
// whether the reader decodes (the top two bits pick the scale; 3 is the
// default scale with a reader that decodes). The rest is the file.
//
// Each export must come out as a plain formatter (std::to_string, lines
// decoded by the message parser) writes it: the header, then one piece per
// line up to the first line the format cannot hold, which must be the one
// reported, at its offset; damage of the file ends the export where the
// reader says. Separately, for each logger line of the file and for the
// whole input taken as one logger line, the CSV and JSON formatters' path
// over the encoded samples must give what their path over the decoded line
// gives. A CSV whose columns grow as the lines come, put right afterwards by
// the widener, must equal the CSV with the columns of the first pass.
#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/exporter.h>
#include <gcuproto/blackbox/reader.h>
#include <gcuproto/blackbox/time_scale.h>
#include <gcuproto/codec/hex.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"

namespace {

using gcuproto::blackbox::CanCsvFormatter;
using gcuproto::blackbox::CanCsvOptions;
using gcuproto::blackbox::CandumpFormatter;
using gcuproto::blackbox::CandumpOptions;
using gcuproto::blackbox::CanIdField;
using gcuproto::blackbox::CsvChannel;
using gcuproto::blackbox::CsvColumns;
using gcuproto::blackbox::CsvFormatter;
using gcuproto::blackbox::CsvOptions;
using gcuproto::blackbox::CsvWidener;
using gcuproto::blackbox::Error;
using gcuproto::blackbox::ErrorKind;
using gcuproto::blackbox::Export;
using gcuproto::blackbox::JsonLinesFormatter;
using gcuproto::blackbox::LineFormatter;
using gcuproto::blackbox::Reader;
using gcuproto::blackbox::ReaderOptions;
using gcuproto::blackbox::RecordKind;
using gcuproto::blackbox::StringSink;
using gcuproto::blackbox::TextBuffer;
using gcuproto::blackbox::TimeScale;

enum class Format { kCsv, kJsonLines, kCandump, kCanCsv };

// A source name with every character the formats must escape, and how each
// writes it.
constexpr std::string_view kSource = "log \"7\", part\\2\x01";
constexpr std::string_view kCsvSource = ",\"log \"\"7\"\", part\\2\x01\"";
constexpr std::string_view kJsonSource = "{\"source\":\"log \\\"7\\\", part\\\\2\\u0001\",";
constexpr std::uint64_t kStartSeconds = 1600000000;

struct Settings {
  Format format;
  bool time;  // CSV: a time column; candump: a start time
  bool source;
  bool channels;     // CSV: in1,out0,in3; candump: ids from messageId
  bool few_columns;  // CSV: two inputs and one output, not the first pass's
  int scale;         // index into kScales
  bool decode;
};

struct Scale {
  const char* text;
  std::uint64_t digits;
  int exponent;
};
// Microseconds are whole for all of them.
const Scale kScales[] = {{"0.001", 1, -3}, {"1", 1, 0}, {"2.5e-4", 25, -5}};

const std::vector<CsvChannel> kChannels = {{false, 1}, {true, 0}, {false, 3}};

std::string Seconds(std::uint32_t ticks, const Scale& scale) {
  const std::uint64_t value = std::uint64_t{ticks} * scale.digits;
  std::string digits = std::to_string(value);
  if (scale.exponent >= 0) {
    if (value != 0) digits.append(static_cast<std::size_t>(scale.exponent), '0');
    return digits;
  }
  const auto decimals = static_cast<std::size_t>(-scale.exponent);
  if (digits.size() <= decimals) digits.insert(0, decimals + 1 - digits.size(), '0');
  digits.insert(digits.size() - decimals, ".");
  return digits;
}

std::string Hex(std::string_view bytes) {
  return gcuproto::codec::EncodeHex(bytes, gcuproto::codec::HexCase::kUpper);
}

// `n` fits in `width` digits.
std::string HexNumber(std::uint32_t n, int width) {
  std::string out(static_cast<std::size_t>(width), '0');
  gcuproto::codec::PutHexNumber(&out[0], n, width);
  return out;
}

std::string Padded(std::uint64_t n, std::size_t width) {
  std::string out = std::to_string(n);
  if (out.size() < width) out.insert(0, width - out.size(), '0');
  return out;
}

template <typename Samples>
std::string JsonList(const Samples& samples) {
  std::string out = "[";
  for (int i = 0; i < samples.size(); ++i)
    out += (i > 0 ? "," : "") + std::to_string(samples.Get(i));
  return out + "]";
}

// What the format writes for one line; false when it cannot hold the line.
class Plain {
 public:
  Plain(const Settings& settings, CsvColumns columns) : s_(settings), columns_(columns) {}

  std::string Header() const {
    std::string h;
    switch (s_.format) {
      case Format::kCsv:
        h = "seqNo,timestamp";
        if (s_.time) h += ",time";
        if (s_.channels) {
          h += ",in1,out0,in3";
        } else {
          for (std::size_t i = 0; i < columns_.inputs; ++i) h += ",in" + std::to_string(i);
          for (std::size_t i = 0; i < columns_.outputs; ++i) h += ",out" + std::to_string(i);
        }
        return h + (s_.source ? ",source\n" : "\n");
      case Format::kCanCsv:
        h = "seqNo,timestamp";
        if (s_.time) h += ",time";
        h += ",canId,messageId,extended,dlc,data";
        return h + (s_.source ? ",source\n" : "\n");
      default:
        return "";
    }
  }

  bool Line(RecordKind kind, std::string_view encoded, std::string* text) const {
    text->clear();
    if (kind == RecordKind::kLoggerLine) {
      BlackboxFileLine line;
      if (!line.ParseFromArray(encoded.data(), static_cast<int>(encoded.size()))) return false;
      if (s_.format == Format::kCsv) return CsvRow(line, text);
      if (s_.format == Format::kJsonLines) {
        *text = std::string(s_.source ? kJsonSource : "{") +
                "\"kind\":\"line\",\"seqNo\":" + std::to_string(line.seqno()) +
                ",\"timestamp\":" + std::to_string(line.timestamp()) +
                ",\"dataInput\":" + JsonList(line.datainput()) +
                ",\"dataOutput\":" + JsonList(line.dataoutput()) + "}\n";
      }
      return true;
    }
    BlackboxCandumpFileLine line;
    if (!line.ParseFromArray(encoded.data(), static_cast<int>(encoded.size()))) return false;
    const Scale& scale = kScales[s_.scale];
    switch (s_.format) {
      case Format::kCsv:
        return true;
      case Format::kJsonLines:
        *text = std::string(s_.source ? kJsonSource : "{") +
                "\"kind\":\"lineCan\",\"seqNo\":" + std::to_string(line.seqno()) +
                ",\"timestamp\":" + std::to_string(line.timestamp()) +
                ",\"canId\":" + std::to_string(line.canid()) +
                ",\"messageId\":" + std::to_string(line.messageid()) +
                ",\"extended\":" + (line.extended() ? "true" : "false") + ",\"data\":\"" +
                Hex(line.data()) + "\"}\n";
        return true;
      case Format::kCanCsv:
        *text = std::to_string(line.seqno()) + "," + std::to_string(line.timestamp()) +
                (s_.time ? "," + Seconds(line.timestamp(), scale) : "") + "," +
                std::to_string(line.canid()) + "," + std::to_string(line.messageid()) +
                (line.extended() ? ",true," : ",false,") + std::to_string(line.data().size()) +
                "," + Hex(line.data()) + (s_.source ? std::string(kCsvSource) : "") + "\n";
        return true;
      case Format::kCandump: {
        const std::uint32_t id = s_.channels ? line.messageid() : line.canid();
        if (id > (line.extended() ? 0x1FFFFFFFu : 0x7FFu)) return false;
        const std::size_t size = line.data().size();
        static const std::size_t kFdSizes[] = {12, 16, 20, 24, 32, 48, 64};
        const bool fd = size > 8;
        if (fd && std::find(std::begin(kFdSizes), std::end(kFdSizes), size) == std::end(kFdSizes))
          return false;
        // Every scale here gives whole microseconds: digits * 10^(exponent + 6).
        std::uint64_t per_tick = scale.digits;
        for (int e = scale.exponent + 6; e > 0; --e) per_tick *= 10;
        const std::uint64_t ticks = line.timestamp() * per_tick;
        const std::uint64_t us = ticks + (s_.time ? kStartSeconds * 1000000 : 0);
        if (us >= 10000000000000000ull) return false;
        *text = "(" + Padded(us / 1000000, 10) + "." + Padded(us % 1000000, 6) + ") can0 " +
                HexNumber(id, line.extended() ? 8 : 3) + "#" + (fd ? "#0" : "") + Hex(line.data()) +
                "\n";
        return true;
      }
    }
    return false;
  }

 private:
  bool CsvRow(const BlackboxFileLine& line, std::string* text) const {
    *text = std::to_string(line.seqno()) + "," + std::to_string(line.timestamp());
    if (s_.time) *text += "," + Seconds(line.timestamp(), kScales[s_.scale]);
    if (s_.channels) {
      for (const CsvChannel& channel : kChannels) {
        const auto& samples = channel.output ? line.dataoutput() : line.datainput();
        *text += ",";
        if (channel.index < static_cast<std::uint32_t>(samples.size())) {
          *text += std::to_string(samples.Get(static_cast<int>(channel.index)));
        }
      }
    } else {
      if (static_cast<std::size_t>(line.datainput_size()) > columns_.inputs ||
          static_cast<std::size_t>(line.dataoutput_size()) > columns_.outputs) {
        return false;
      }
      for (std::size_t i = 0; i < columns_.inputs; ++i) {
        *text += ",";
        if (i < static_cast<std::size_t>(line.datainput_size()))
          *text += std::to_string(line.datainput(static_cast<int>(i)));
      }
      for (std::size_t i = 0; i < columns_.outputs; ++i) {
        *text += ",";
        if (i < static_cast<std::size_t>(line.dataoutput_size()))
          *text += std::to_string(line.dataoutput(static_cast<int>(i)));
      }
    }
    if (s_.source) *text += kCsvSource;
    *text += "\n";
    return true;
  }

  Settings s_;
  CsvColumns columns_;
};

std::unique_ptr<Reader> Open(std::string_view file, bool decode,
                             std::unique_ptr<google::protobuf::io::ArrayInputStream>* input) {
  *input = std::make_unique<google::protobuf::io::ArrayInputStream>(file.data(),
                                                                    static_cast<int>(file.size()));
  ReaderOptions options;
  options.decode = decode;
  return std::make_unique<Reader>(input->get(), options);
}

CsvOptions MakeCsvOptions(const Settings& s, const TimeScale& scale) {
  CsvOptions options;
  options.time = s.time;
  options.time_scale = scale;
  options.source = s.source;
  if (s.channels) options.channels = kChannels;
  return options;
}

// Blocks of a few lines for the line checks: a megabyte for every line
// would cost more than the formatting.
constexpr std::size_t kSmallBlock = 256;

// The CSV and JSON formatters over an encoded logger line, against the same
// formatters over the line decoded.
void CheckPaths(std::string_view encoded, CsvFormatter* csv_fast, CsvFormatter* csv_decoded,
                JsonLinesFormatter* json) {
  BlackboxFileLine line;
  const bool parses = line.ParseFromArray(encoded.data(), static_cast<int>(encoded.size()));

  std::string fast_text, decoded_text;
  Error fast_reason, decoded_reason;
  StringSink fast_sink(&fast_text), decoded_sink(&decoded_text);
  {
    TextBuffer fast_out(&fast_sink, kSmallBlock), decoded_out(&decoded_sink, kSmallBlock);
    const bool fast_ok = csv_fast->Line(RecordKind::kLoggerLine, encoded, &fast_out, &fast_reason);
    const bool decoded_ok = parses && csv_decoded->AppendRow(line, &decoded_out, &decoded_reason);
    fast_out.Flush();
    decoded_out.Flush();
    FUZZ_CHECK(fast_ok == decoded_ok, "CSV of the encoded line %s, of the decoded line %s (%s%s)",
               fast_ok ? "succeeds" : "fails", decoded_ok ? "succeeds" : "fails",
               fast_reason.message().c_str(), decoded_reason.message().c_str());
    FUZZ_CHECK(fast_text == decoded_text, "CSV rows differ:\n%s\n%s", fast_text.c_str(),
               decoded_text.c_str());
    if (parses && !fast_ok)
      FUZZ_CHECK(fast_reason.kind() == decoded_reason.kind() &&
                     fast_reason.message() == decoded_reason.message(),
                 "CSV refusals differ");
  }
  fast_text.clear();
  decoded_text.clear();
  {
    TextBuffer fast_out(&fast_sink, kSmallBlock), decoded_out(&decoded_sink, kSmallBlock);
    const bool fast_ok = json->Line(RecordKind::kLoggerLine, encoded, &fast_out, &fast_reason);
    if (parses) json->AppendLine(line, &decoded_out);
    fast_out.Flush();
    decoded_out.Flush();
    FUZZ_CHECK(fast_ok == parses, "JSON of the encoded line %s, the parser %s",
               fast_ok ? "succeeds" : "fails", parses ? "accepts it" : "does not");
    FUZZ_CHECK(fast_text == decoded_text, "JSON lines differ:\n%s\n%s", fast_text.c_str(),
               decoded_text.c_str());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);
  Settings s;
  s.format = static_cast<Format>(mode & 3);
  s.time = (mode & 0x04) != 0;
  s.source = (mode & 0x08) != 0;
  s.channels = (mode & 0x10) != 0;
  s.few_columns = (mode & 0x20) != 0;
  s.scale = (mode >> 6) % 3;
  s.decode = (mode >> 6) == 3;
  TimeScale scale;
  FUZZ_CHECK(TimeScale::Parse(kScales[s.scale].text, &scale), "time scale %s",
             kScales[s.scale].text);

  // The records as the reader gives them, and the widest logger line.
  std::unique_ptr<google::protobuf::io::ArrayInputStream> input;
  std::vector<std::pair<std::uint64_t, RecordKind>> records;
  std::vector<std::string> raws;
  CsvColumns widest;
  bool all_logger_lines_decode = true;
  std::unique_ptr<Reader> reference = Open(file, s.decode, &input);
  while (reference->Next()) {
    records.emplace_back(reference->offset(), reference->kind());
    raws.emplace_back(reference->raw());
    if (reference->kind() != RecordKind::kLoggerLine) continue;
    BlackboxFileLine line;
    if (!line.ParseFromString(raws.back())) {
      all_logger_lines_decode = false;
      continue;
    }
    widest.inputs = std::max(widest.inputs, static_cast<std::size_t>(line.datainput_size()));
    widest.outputs = std::max(widest.outputs, static_cast<std::size_t>(line.dataoutput_size()));
  }

  CsvColumns columns{2, 1};
  if (!s.few_columns) {
    std::unique_ptr<google::protobuf::io::ArrayInputStream> scan_input;
    std::unique_ptr<Reader> scan = Open(file, s.decode, &scan_input);
    columns = ScanCsvColumns(scan.get());
    if (all_logger_lines_decode) {
      FUZZ_CHECK(columns.inputs == widest.inputs && columns.outputs == widest.outputs,
                 "the first pass found %zu + %zu columns, the widest line has %zu + %zu",
                 columns.inputs, columns.outputs, widest.inputs, widest.outputs);
    }
  }

  // Encoded against decoded, line by line.
  CsvFormatter csv_fast(columns, MakeCsvOptions(s, scale));
  CsvFormatter csv_decoded(columns, MakeCsvOptions(s, scale));
  JsonLinesFormatter json;
  if (s.source) {
    FUZZ_CHECK(csv_fast.SetSource(kSource, nullptr) && csv_decoded.SetSource(kSource, nullptr) &&
                   json.SetSource(kSource, nullptr),
               "the source name is refused");
  }
  CheckPaths(file, &csv_fast, &csv_decoded, &json);
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].second == RecordKind::kLoggerLine)
      CheckPaths(raws[i], &csv_fast, &csv_decoded, &json);
  }

  // The export against the plain formatter.
  std::unique_ptr<LineFormatter> formatter;
  switch (s.format) {
    case Format::kCsv:
      formatter = std::make_unique<CsvFormatter>(columns, MakeCsvOptions(s, scale));
      break;
    case Format::kJsonLines:
      formatter = std::make_unique<JsonLinesFormatter>();
      break;
    case Format::kCandump: {
      CandumpOptions options;
      options.time_scale = scale;
      if (s.time) options.start_seconds = kStartSeconds;
      if (s.channels) options.id_field = CanIdField::kMessageId;
      formatter = std::make_unique<CandumpFormatter>(options);
      break;
    }
    case Format::kCanCsv: {
      CanCsvOptions options;
      options.time = s.time;
      options.time_scale = scale;
      options.source = s.source;
      formatter = std::make_unique<CanCsvFormatter>(options);
      break;
    }
  }
  // Candump has no source; the others must take a name that needs escaping.
  if (s.source) FUZZ_CHECK(formatter->SetSource(kSource, nullptr), "the source name is refused");
  const Plain plain(s, columns);
  std::string expected = plain.Header();
  std::size_t refused = records.size();
  std::string piece;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (!plain.Line(records[i].second, raws[i], &piece)) {
      refused = i;
      break;
    }
    expected += piece;
  }

  std::string text;
  StringSink sink(&text);
  std::unique_ptr<google::protobuf::io::ArrayInputStream> export_input;
  std::unique_ptr<Reader> reader = Open(file, s.decode, &export_input);
  Error error;
  const bool exported = Export(reader.get(), formatter.get(), &sink, &error);
  FUZZ_CHECK(exported || error.kind() != ErrorKind::kIo, "a string sink failed");
  if (refused < records.size()) {
    FUZZ_CHECK(!exported && error.has_offset() && error.offset() == records[refused].first &&
                   !error.message().empty(),
               "the line at %llu cannot be written; the export %s at %llu (%s)",
               (unsigned long long)records[refused].first, exported ? "succeeds" : "stops",
               (unsigned long long)error.offset(), error.message().c_str());
  } else {
    FUZZ_CHECK(exported, "the export stops at %llu (%s); the lines can all be written",
               (unsigned long long)error.offset(), error.message().c_str());
    const std::uint64_t damage_at = reader->damage() ? reader->damage()->offset() : 0;
    const std::uint64_t reference_at = reference->damage() ? reference->damage()->offset() : 0;
    FUZZ_CHECK(reader->damage().has_value() == reference->damage().has_value() &&
                   damage_at == reference_at,
               "the export's reader reports damage %d at %llu, the reference %d at %llu",
               reader->damage().has_value(), (unsigned long long)damage_at,
               reference->damage().has_value(), (unsigned long long)reference_at);
  }
  FUZZ_CHECK(text == expected, "the export wrote\n%s\nexpected\n%s", text.c_str(),
             expected.c_str());

  // From a pipe there is no first pass: the rows go out as the columns grow,
  // and the widener puts them right afterwards, fed in pieces of any size.
  // The result must be the export with the first pass's columns.
  if (s.format == Format::kCsv && !s.channels && !s.few_columns && all_logger_lines_decode &&
      refused == records.size()) {
    // Either without a header until the end, or with the first line's
    // header, kept when no line is wider.
    for (const bool header_first : {false, true}) {
      CsvOptions growing = MakeCsvOptions(s, scale);
      growing.grow = true;
      growing.header_first = header_first;
      CsvFormatter grower(CsvColumns{0, 0}, growing);
      if (s.source) FUZZ_CHECK(grower.SetSource(kSource, nullptr), "the source name is refused");
      std::string rows;
      StringSink rows_sink(&rows);
      std::unique_ptr<google::protobuf::io::ArrayInputStream> grow_input;
      std::unique_ptr<Reader> grow_reader = Open(file, s.decode, &grow_input);
      Error grow_error;
      FUZZ_CHECK(Export(grow_reader.get(), &grower, &rows_sink, &grow_error),
                 "the growing export stops at %llu (%s)", (unsigned long long)grow_error.offset(),
                 grow_error.message().c_str());
      if (header_first && grower.header_pending()) {
        TextBuffer header(&rows_sink);
        grower.WriteHeader(&header);
        FUZZ_CHECK(header.Flush(), "a string sink failed");
      }
      if (header_first && !grower.widened()) {
        FUZZ_CHECK(rows == text, "the rows under the first line's header are\n%s\nexpected\n%s",
                   rows.c_str(), text.c_str());
        continue;
      }
      const std::size_t rows_start = header_first ? grower.rows_start() : 0;
      std::string widened;
      StringSink widened_sink(&widened);
      TextBuffer out(&widened_sink);
      grower.WriteHeader(&out);
      CsvWidener widener(grower);
      std::size_t at = rows_start;
      for (std::size_t piece_index = 0; at < rows.size(); ++piece_index) {
        const std::size_t wanted =
            1 + static_cast<unsigned char>(file[piece_index % file.size()]) % 61;
        const std::size_t n = std::min(wanted, rows.size() - at);
        widener.Feed(std::string_view(rows).substr(at, n), &out);
        at += n;
      }
      FUZZ_CHECK(out.Flush(), "a string sink failed");
      FUZZ_CHECK(widened == text,
                 "the widened rows are\n%s\nthe export with the first pass's columns\n%s",
                 widened.c_str(), text.c_str());
    }
  }
  return 0;
}
