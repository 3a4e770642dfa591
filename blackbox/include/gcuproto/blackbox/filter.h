// Which lines of a blackbox file to read: by kind, time, sequence number and
// CAN id, all decided from a line's encoded header fields, so that a line
// left out is never decoded.
//
//   Filter filter;
//   filter.kind = RecordKind::kCanLine;
//   filter.can_ids.push_back({0x7E8, 0x7FF, false});
//   ParseTick("36000s", TimeScale(), &*(filter.from_tick = 0), &error);
//   ReaderOptions options;
//   options.filter = filter;  // the reader skips every other line
#ifndef GCUPROTO_BLACKBOX_FILTER_H
#define GCUPROTO_BLACKBOX_FILTER_H

#include <gcuproto/blackbox/error.h>
#include <gcuproto/blackbox/export.h>
#include <gcuproto/blackbox/record.h>
#include <gcuproto/blackbox/time_scale.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gcuproto {
namespace blackbox {

// One filter of candump's ID:MASK syntax: a CAN line matches when its
// extended flag equals `extended` and (frame id & mask) == (id & mask).
struct CanIdMatch {
  std::uint32_t id = 0;
  std::uint32_t mask = 0x7FF;
  bool extended = false;
};

// Every condition set must hold; an empty filter selects every line.
struct Filter {
  std::optional<RecordKind> kind;
  std::optional<std::uint64_t> from_tick;  // inclusive
  std::optional<std::uint64_t> to_tick;    // exclusive
  std::optional<std::uint32_t> seq_first;  // inclusive
  std::optional<std::uint32_t> seq_last;   // inclusive
  std::vector<CanIdMatch> can_ids;         // any of them; non-empty selects CAN lines only
  bool match_message_id = false;           // compare messageId instead of canId

  // True when no condition is set.
  bool SelectsAll() const {
    return !kind && !from_tick && !to_tick && !seq_first && !seq_last && can_ids.empty();
  }
};

// The header fields a filter looks at.
struct LineHeader {
  std::uint32_t seq_no = 0;
  std::uint32_t timestamp = 0;
  std::uint32_t can_id = 0;      // CAN lines only
  std::uint32_t message_id = 0;  // CAN lines only
  bool extended = false;         // CAN lines only
};

// Reads the header fields of an encoded line (the payload of its record)
// without decoding its samples or data; false when the bytes are not a valid
// line of that kind.
GCUPROTO_BLACKBOX_EXPORT bool ReadLineHeader(RecordKind kind, std::string_view encoded,
                                             LineHeader* header);

GCUPROTO_BLACKBOX_EXPORT bool Matches(const Filter& filter, RecordKind kind,
                                      const LineHeader& header);

// Whether `filter` selects the encoded line. A line whose header cannot be
// read is selected, so that whoever decodes it reports it rather than it
// silently disappearing.
GCUPROTO_BLACKBOX_EXPORT bool Selects(const Filter& filter, RecordKind kind,
                                      std::string_view encoded);

// candump's filter syntax: "ID" or "ID:MASK", hexadecimal without a prefix.
// An ID of exactly 8 digits, or any ID with `extended` set, is an extended
// (29-bit) id, else a standard (11-bit) one; without a mask the id must
// match exactly (mask 0x7FF or 0x1FFFFFFF). Fails (kInvalidArgument: "'8G0'
// is not ...") when the text is none of these or the id does not fit.
GCUPROTO_BLACKBOX_EXPORT bool ParseCanIdMatch(std::string_view text, bool extended,
                                              CanIdMatch* match, Error* error);

// A time for --from/--to: a whole number of ticks ("36000"), or seconds with
// an "s" suffix ("36000s", "1.5s") turned into the first tick at or after
// them through `seconds_per_tick`.
GCUPROTO_BLACKBOX_EXPORT bool ParseTick(std::string_view text, const TimeScale& seconds_per_tick,
                                        std::uint64_t* tick, Error* error);

// A sequence range for --seq, both ends inclusive: "A-B", "A-" (from A on),
// "-B" (up to B) or "A" (only A). Ends left open are left unset.
GCUPROTO_BLACKBOX_EXPORT bool ParseSeqRange(std::string_view text,
                                            std::optional<std::uint32_t>* first,
                                            std::optional<std::uint32_t>* last, Error* error);

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_FILTER_H
