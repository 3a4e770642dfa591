#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/filter.h>

#include <charconv>

#include "line_scan.h"

namespace gcuproto {
namespace blackbox {
namespace {

constexpr std::uint32_t kStandardMask = 0x7FF;
constexpr std::uint32_t kExtendedMask = 0x1FFFFFFF;

// Packed samples are skipped, never decoded; a block must still hold whole
// varints, and its last byte tells.
Scan ScanLoggerHeader(const std::uint8_t* p, const std::uint8_t* end, LineHeader* header) {
  return ScanLoggerLine(
      p, end, &header->seq_no, &header->timestamp, [](bool, std::uint64_t) {},
      [](bool, const std::uint8_t* begin, const std::uint8_t* block_end) {
        return begin == block_end || block_end[-1] < 0x80;
      });
}

bool ParseHex32(std::string_view text, std::uint32_t* value) {
  if (text.empty() || text.size() > 8) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, 16);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseDecimal32(std::string_view text, std::uint32_t* value) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

Error Invalid(std::string message) {
  return Error(ErrorKind::kInvalidArgument, std::move(message));
}

}  // namespace

bool ReadLineHeader(RecordKind kind, std::string_view encoded, LineHeader* header) {
  *header = LineHeader();
  const auto* p = reinterpret_cast<const std::uint8_t*>(encoded.data());
  const auto* end = p + encoded.size();
  const Scan scan = kind == RecordKind::kLoggerLine ? ScanLoggerHeader(p, end, header)
                                                    : ScanCanLine(p, end, header, nullptr);
  if (scan != Scan::kUnusual) return scan == Scan::kDone;
  // Unknown fields, groups, keys of several bytes: the runtime decides.
  *header = LineHeader();
  const int size = static_cast<int>(encoded.size());
  if (kind == RecordKind::kLoggerLine) {
    BlackboxFileLine line;
    if (!line.ParseFromArray(encoded.data(), size)) return false;
    header->seq_no = line.seqno();
    header->timestamp = line.timestamp();
    return true;
  }
  BlackboxCandumpFileLine line;
  if (!line.ParseFromArray(encoded.data(), size)) return false;
  header->seq_no = line.seqno();
  header->timestamp = line.timestamp();
  header->can_id = line.canid();
  header->message_id = line.messageid();
  header->extended = line.extended();
  return true;
}

bool Matches(const Filter& filter, RecordKind kind, const LineHeader& header) {
  if (filter.kind && *filter.kind != kind) return false;
  if (filter.from_tick && header.timestamp < *filter.from_tick) return false;
  if (filter.to_tick && header.timestamp >= *filter.to_tick) return false;
  if (filter.seq_first && header.seq_no < *filter.seq_first) return false;
  if (filter.seq_last && header.seq_no > *filter.seq_last) return false;
  if (filter.can_ids.empty()) return true;
  if (kind != RecordKind::kCanLine) return false;
  const std::uint32_t id = filter.match_message_id ? header.message_id : header.can_id;
  for (const CanIdMatch& match : filter.can_ids) {
    if (match.extended == header.extended && (id & match.mask) == (match.id & match.mask))
      return true;
  }
  return false;
}

bool Selects(const Filter& filter, RecordKind kind, std::string_view encoded) {
  // What the kind alone decides needs no look at the bytes.
  if (filter.kind && *filter.kind != kind) return false;
  if (!filter.can_ids.empty() && kind != RecordKind::kCanLine) return false;
  if (filter.SelectsAll()) return true;
  LineHeader header;
  if (!ReadLineHeader(kind, encoded, &header)) return true;
  return Matches(filter, kind, header);
}

bool ParseCanIdMatch(std::string_view text, bool extended, CanIdMatch* match, Error* error) {
  const std::size_t colon = text.find(':');
  const std::string_view id_text = text.substr(0, colon);
  CanIdMatch result;
  result.extended = extended || id_text.size() == 8;
  if (!ParseHex32(id_text, &result.id)) {
    return Report(error,
                  Invalid(Quoted(text) + " is no CAN id filter: give ID or ID:MASK in hex (7E8, "
                                         "7E8:7F0, 18DAF110:1FFFFFFF)"));
  }
  const std::uint32_t limit = result.extended ? kExtendedMask : kStandardMask;
  if (result.id > limit) {
    return Report(error,
                  Invalid(Quoted(text) + ": " + std::string(id_text) +
                          (result.extended ? " does not fit an extended (29-bit) id"
                                           : " does not fit a standard (11-bit) id; an extended id "
                                             "takes 8 hex digits or --extended")));
  }
  result.mask = limit;
  if (colon != std::string_view::npos && !ParseHex32(text.substr(colon + 1), &result.mask)) {
    return Report(error, Invalid(Quoted(text) + ": the mask after ':' is not 1 to 8 hex digits"));
  }
  *match = result;
  return true;
}

bool ParseTick(std::string_view text, const TimeScale& seconds_per_tick, std::uint64_t* tick,
               Error* error) {
  if (!text.empty() && text.back() == 's') {
    if (seconds_per_tick.FirstTickAtOrAfter(text.substr(0, text.size() - 1), tick)) return true;
    return Report(error,
                  Invalid(Quoted(text) +
                          " is no time: give seconds as a non-negative decimal before the 's'"));
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *tick);
  if (!text.empty() && text.front() != '-' && text.front() != '+' && ec == std::errc() &&
      end == text.data() + text.size()) {
    return true;
  }
  return Report(
      error, Invalid(Quoted(text) +
                     " is no time: give whole ticks (36000) or seconds with an 's' (36s, 1.5s)"));
}

bool ParseSeqRange(std::string_view text, std::optional<std::uint32_t>* first,
                   std::optional<std::uint32_t>* last, Error* error) {
  const std::size_t dash = text.find('-');
  const std::string_view low = text.substr(0, dash);
  const std::string_view high = dash == std::string_view::npos ? low : text.substr(dash + 1);
  std::uint32_t low_value = 0;
  std::uint32_t high_value = 0;
  const bool low_ok =
      low.empty() ? dash != std::string_view::npos : ParseDecimal32(low, &low_value);
  const bool high_ok = high.empty() ? dash != std::string_view::npos && !low.empty()
                                    : ParseDecimal32(high, &high_value);
  if (!low_ok || !high_ok || (low.empty() && high.empty())) {
    return Report(error, Invalid(Quoted(text) +
                                 " is no sequence range: give A-B, A-, -B or A (decimal, 32-bit)"));
  }
  if (!low.empty() && !high.empty() && low_value > high_value) {
    return Report(error, Invalid(Quoted(text) + ": the range ends before it starts"));
  }
  *first = low.empty() ? std::nullopt : std::optional<std::uint32_t>(low_value);
  *last = high.empty() ? std::nullopt : std::optional<std::uint32_t>(high_value);
  return true;
}

}  // namespace blackbox
}  // namespace gcuproto
