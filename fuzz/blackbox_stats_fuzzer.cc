// The statistics of `gcuproto blackbox info` against a plain count with
// std::set and std::map. The lines come from arbitrary file bytes (each
// record the reader delivers, undecoded) or, when the first byte's bit 2 is
// set, from a program of runs of sequence numbers and CAN ids: a fuzzed
// file holds a few hundred lines, too few to fill the number sets' blocks
// and turn their lists into bitmaps. Bit 0 counts CAN lines by messageId
// instead of canId; bit 1 gives the sets a memory limit so small that they
// are thinned to a sample, and the figures become estimates.
//
// Bit 3 picks how the lines go in: encoded, through the collector's
// in-place reading, or decoded, through the message path. Either must give
// the figures of the plain count (estimates: within what the exact figures
// allow), and the in-place reading must accept exactly the lines the
// message parser accepts.
#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/reader.h>
#include <gcuproto/blackbox/stats.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_check.h"

namespace {

using gcuproto::blackbox::CanIdCount;
using gcuproto::blackbox::CanIdField;
using gcuproto::blackbox::FileStats;
using gcuproto::blackbox::Reader;
using gcuproto::blackbox::ReaderOptions;
using gcuproto::blackbox::RecordKind;
using gcuproto::blackbox::SequenceSummary;
using gcuproto::blackbox::StatsCollector;
using gcuproto::blackbox::StatsOptions;
using gcuproto::blackbox::TimeStep;
using gcuproto::blackbox::TimeSummary;
using gcuproto::blackbox::ValueRange;

// Enough for a block of a set to turn its list into a bitmap (past 3072
// numbers), few enough to keep a run fast.
constexpr std::size_t kMaxSyntheticLines = 12000;

struct NaiveSequence {
  std::uint64_t lines = 0;
  std::set<std::uint32_t> numbers;
  void Add(std::uint32_t n) {
    ++lines;
    numbers.insert(n);
  }
};

struct NaiveTime {
  bool any = false;
  std::uint32_t first = 0, last = 0, min = 0, max = 0;
  std::vector<std::pair<std::uint64_t, TimeStep>> forward;  // (index, step)
  std::vector<TimeStep> backwards;
  void Add(std::uint32_t stamp, std::uint64_t offset, std::uint32_t seq_no) {
    if (!any) {
      first = min = max = stamp;
    } else if (stamp < last) {
      backwards.push_back({last, stamp, offset, seq_no});
    } else {
      forward.push_back({forward.size(), {last, stamp, offset, seq_no}});
    }
    min = std::min(min, stamp);
    max = std::max(max, stamp);
    last = stamp;
    any = true;
  }
};

struct Naive {
  CanIdField id_field = CanIdField::kCanId;
  std::uint64_t logger_lines = 0, can_lines = 0;
  NaiveSequence logger, can, all;
  NaiveTime logger_time, can_time;
  ValueRange inputs, outputs, data_bytes;
  std::uint64_t input_samples = 0, output_samples = 0;
  std::map<std::pair<bool, std::uint32_t>, std::uint64_t> ids;
  std::vector<std::pair<bool, std::uint32_t>> ids_in_order;  // first meeting

  void Add(const BlackboxFileLine& line, std::uint64_t offset) {
    ++logger_lines;
    logger.Add(line.seqno());
    all.Add(line.seqno());
    logger_time.Add(line.timestamp(), offset, line.seqno());
    inputs.Add(static_cast<std::uint64_t>(line.datainput_size()));
    outputs.Add(static_cast<std::uint64_t>(line.dataoutput_size()));
    input_samples += static_cast<std::uint64_t>(line.datainput_size());
    output_samples += static_cast<std::uint64_t>(line.dataoutput_size());
  }
  void Add(const BlackboxCandumpFileLine& line, std::uint64_t offset) {
    ++can_lines;
    can.Add(line.seqno());
    all.Add(line.seqno());
    can_time.Add(line.timestamp(), offset, line.seqno());
    data_bytes.Add(line.data().size());
    const std::pair<bool, std::uint32_t> key{
        line.extended(), id_field == CanIdField::kCanId ? line.canid() : line.messageid()};
    if (ids[key]++ == 0) ids_in_order.push_back(key);
  }
};

bool SameRange(const ValueRange& a, const ValueRange& b) {
  return a.any == b.any && (!a.any || (a.min == b.min && a.max == b.max));
}

void CheckSequence(const char* what, const NaiveSequence& naive, const SequenceSummary& s,
                   bool may_estimate) {
  FUZZ_CHECK(s.lines == naive.lines, "%s: %llu lines, counted %llu", what,
             (unsigned long long)s.lines, (unsigned long long)naive.lines);
  FUZZ_CHECK(s.numbers.any == !naive.numbers.empty(), "%s: numbers seen", what);
  if (naive.numbers.empty()) return;
  FUZZ_CHECK(s.numbers.min == *naive.numbers.begin() && s.numbers.max == *naive.numbers.rbegin(),
             "%s: numbers %llu..%llu, counted %u..%u", what, (unsigned long long)s.numbers.min,
             (unsigned long long)s.numbers.max, *naive.numbers.begin(), *naive.numbers.rbegin());
  const std::uint64_t span = s.numbers.max - s.numbers.min + 1;
  std::uint64_t gaps = 0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> first_gaps;
  for (auto it = naive.numbers.begin(), next = std::next(it); next != naive.numbers.end();
       it = next++) {
    if (*next - *it == 1) continue;
    ++gaps;
    if (first_gaps.size() < StatsCollector::kMaxListedGaps)
      first_gaps.emplace_back(*it + 1, *next - 1);
  }
  const std::uint64_t distinct = naive.numbers.size();
  if (s.estimated) {
    FUZZ_CHECK(may_estimate, "%s: estimated with memory to spare", what);
    FUZZ_CHECK(s.distinct >= 1 && s.distinct <= std::min(s.lines, span) &&
                   s.missing == span - s.distinct && s.repeated == s.lines - s.distinct &&
                   s.gaps <= std::min(s.missing, s.distinct - 1) && s.first_gaps.empty(),
               "%s: estimates out of bounds: %llu distinct, %llu missing, %llu gaps, %llu repeated",
               what, (unsigned long long)s.distinct, (unsigned long long)s.missing,
               (unsigned long long)s.gaps, (unsigned long long)s.repeated);
    return;
  }
  FUZZ_CHECK(
      s.distinct == distinct && s.missing == span - distinct && s.gaps == gaps &&
          s.repeated == naive.lines - distinct,
      "%s: %llu distinct, %llu missing, %llu gaps, %llu repeated; counted %llu, %llu, %llu, %llu",
      what, (unsigned long long)s.distinct, (unsigned long long)s.missing,
      (unsigned long long)s.gaps, (unsigned long long)s.repeated, (unsigned long long)distinct,
      (unsigned long long)(span - distinct), (unsigned long long)gaps,
      (unsigned long long)(naive.lines - distinct));
  FUZZ_CHECK(s.first_gaps == first_gaps, "%s: first gaps differ (%zu listed, %zu counted)", what,
             s.first_gaps.size(), first_gaps.size());
}

bool SameSteps(const std::vector<TimeStep>& a, const std::vector<TimeStep>& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](const TimeStep& x, const TimeStep& y) {
           return x.from == y.from && x.to == y.to && x.offset == y.offset && x.seq_no == y.seq_no;
         });
}

void CheckTime(const char* what, const NaiveTime& naive, const TimeSummary& t) {
  FUZZ_CHECK(t.stamps.any == naive.any, "%s: stamps seen", what);
  if (!naive.any) return;
  FUZZ_CHECK(t.stamps.min == naive.min && t.stamps.max == naive.max && t.first == naive.first &&
                 t.last == naive.last,
             "%s: stamps %llu..%llu first %u last %u; counted %u..%u, %u, %u", what,
             (unsigned long long)t.stamps.min, (unsigned long long)t.stamps.max, t.first, t.last,
             naive.min, naive.max, naive.first, naive.last);
  FUZZ_CHECK(t.backwards == naive.backwards.size(), "%s: %llu steps back, counted %zu", what,
             (unsigned long long)t.backwards, naive.backwards.size());
  const std::vector<TimeStep> first_backwards(
      naive.backwards.begin(),
      naive.backwards.begin() + static_cast<std::ptrdiff_t>(std::min(
                                    naive.backwards.size(), StatsCollector::kMaxListedTimeSteps)));
  FUZZ_CHECK(SameSteps(t.first_backwards, first_backwards), "%s: first steps back differ", what);
  // Largest first, the earliest among equals.
  auto forward = naive.forward;
  std::stable_sort(forward.begin(), forward.end(), [](const auto& a, const auto& b) {
    return a.second.to - a.second.from > b.second.to - b.second.from;
  });
  std::vector<TimeStep> largest;
  for (std::size_t i = 0; i < forward.size() && i < StatsCollector::kMaxListedTimeSteps; ++i) {
    largest.push_back(forward[i].second);
  }
  FUZZ_CHECK(SameSteps(t.largest_gaps, largest),
             "%s: largest steps differ (%zu listed, %zu counted)", what, t.largest_gaps.size(),
             largest.size());
}

void Check(const char* how, const Naive& naive, const FileStats& s, bool may_estimate) {
  FUZZ_CHECK(s.logger_lines == naive.logger_lines && s.can_lines == naive.can_lines,
             "%s: %llu + %llu lines, counted %llu + %llu", how, (unsigned long long)s.logger_lines,
             (unsigned long long)s.can_lines, (unsigned long long)naive.logger_lines,
             (unsigned long long)naive.can_lines);
  const std::string at(how);
  CheckSequence((at + ", logger lines").c_str(), naive.logger, s.sequence_logger, may_estimate);
  CheckSequence((at + ", CAN lines").c_str(), naive.can, s.sequence_can, may_estimate);
  CheckSequence((at + ", all lines").c_str(), naive.all, s.sequence_all, may_estimate);
  CheckTime((at + ", logger lines").c_str(), naive.logger_time, s.time_logger);
  CheckTime((at + ", CAN lines").c_str(), naive.can_time, s.time_can);
  FUZZ_CHECK(SameRange(s.inputs_per_line, naive.inputs) &&
                 SameRange(s.outputs_per_line, naive.outputs) &&
                 s.input_samples == naive.input_samples && s.output_samples == naive.output_samples,
             "%s: samples: %llu + %llu, counted %llu + %llu", how,
             (unsigned long long)s.input_samples, (unsigned long long)s.output_samples,
             (unsigned long long)naive.input_samples, (unsigned long long)naive.output_samples);
  FUZZ_CHECK(SameRange(s.can_data_bytes, naive.data_bytes), "%s: data bytes", how);

  // Listed: every standard id below 0x800, and the first others met up to
  // the limit; the rest only counted.
  std::set<std::pair<bool, std::uint32_t>> listed;
  std::size_t others = 0;
  std::uint64_t unlisted_lines = 0;
  for (const auto& key : naive.ids_in_order) {
    if (!key.first && key.second < 0x800) {
      listed.insert(key);
    } else if (others < StatsCollector::kMaxListedCanIds) {
      listed.insert(key);
      ++others;
    } else {
      unlisted_lines += naive.ids.at(key);
    }
  }
  std::vector<CanIdCount> expected;
  for (const auto& key : listed) expected.push_back({key.second, key.first, naive.ids.at(key)});
  FUZZ_CHECK(s.can_ids.size() == expected.size() &&
                 std::equal(expected.begin(), expected.end(), s.can_ids.begin(),
                            [](const CanIdCount& a, const CanIdCount& b) {
                              return a.id == b.id && a.extended == b.extended && a.lines == b.lines;
                            }),
             "%s: %zu CAN ids listed, counted %zu", how, s.can_ids.size(), expected.size());
  FUZZ_CHECK(s.unlisted_can_id_lines == unlisted_lines,
             "%s: %llu lines of unlisted ids, counted %llu", how,
             (unsigned long long)s.unlisted_can_id_lines, (unsigned long long)unlisted_lines);
  if (s.can_ids_estimated) {
    FUZZ_CHECK(may_estimate, "%s: CAN ids estimated with memory to spare", how);
  } else {
    FUZZ_CHECK(s.can_ids_distinct == naive.ids.size(), "%s: %llu distinct CAN ids, counted %zu",
               how, (unsigned long long)s.can_ids_distinct, naive.ids.size());
  }
}

class Input {
 public:
  explicit Input(std::string_view bytes) : bytes_(bytes) {}
  bool empty() const { return bytes_.empty(); }
  std::uint32_t Number(int bytes) {
    std::uint32_t n = 0;
    for (int i = 0; i < bytes && !bytes_.empty(); ++i) {
      n |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes_[0])) << (8 * i);
      bytes_.remove_prefix(1);
    }
    return n;
  }

 private:
  std::string_view bytes_;
};

struct Encoded {
  RecordKind kind;
  std::string bytes;
  std::uint64_t offset;
};

// Runs of lines: each run a kind, a first sequence number, a count, a step
// and a CAN id pattern, with time stamps from the run's own clock.
std::vector<Encoded> Program(std::string_view program) {
  std::vector<Encoded> lines;
  Input in(program);
  std::uint64_t offset = 0;
  while (!in.empty() && lines.size() < kMaxSyntheticLines) {
    const std::uint32_t op = in.Number(1);
    std::uint32_t seq = in.Number(op & 0x80 ? 4 : 2);
    const std::uint32_t count_byte = in.Number(1);
    const std::size_t count = std::min<std::size_t>(
        kMaxSyntheticLines - lines.size(), op & 0x40 ? count_byte * 16 + 1 : count_byte % 8 + 1);
    const std::uint32_t step = in.Number(1) % 5;  // 0 repeats a number
    std::uint32_t stamp = in.Number(op & 0x20 ? 4 : 1);
    const std::uint32_t tick = in.Number(1);
    const std::uint32_t id = in.Number(op & 0x10 ? 4 : 2);
    for (std::size_t i = 0; i < count; ++i, seq += step) {
      // Ticks below 0x80 go forward, others back.
      stamp += tick < 0x80 ? tick : 0u - (tick & 0x7F);
      Encoded line;
      line.offset = offset;
      if (op & 1) {
        BlackboxCandumpFileLine can;
        can.set_seqno(seq);
        can.set_timestamp(stamp);
        const std::uint32_t this_id = op & 2 ? id + static_cast<std::uint32_t>(i) : id;
        can.set_canid(this_id);
        can.set_messageid(this_id ^ 0x155);
        can.set_extended((op & 4) != 0);
        can.set_data(std::string(i % 9, 'x'));
        line.kind = RecordKind::kCanLine;
        line.bytes = can.SerializeAsString();
      } else {
        BlackboxFileLine logger;
        logger.set_seqno(seq);
        logger.set_timestamp(stamp);
        for (std::size_t k = 0; k < (i + op) % 4; ++k)
          logger.add_datainput(static_cast<std::int32_t>(k) - 1);
        if (op & 8) logger.add_dataoutput(static_cast<std::int32_t>(i));
        line.kind = RecordKind::kLoggerLine;
        line.bytes = logger.SerializeAsString();
      }
      offset += line.bytes.size() + 3;
      lines.push_back(std::move(line));
    }
  }
  return lines;
}

std::vector<Encoded> FileLines(std::string_view file) {
  google::protobuf::io::ArrayInputStream input(file.data(), static_cast<int>(file.size()));
  ReaderOptions options;
  options.decode = false;
  Reader reader(&input, options);
  std::vector<Encoded> lines;
  while (reader.Next())
    lines.push_back({reader.kind(), std::string(reader.raw()), reader.offset()});
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  StatsOptions options;
  options.id_field = mode & 1 ? CanIdField::kMessageId : CanIdField::kCanId;
  const bool small_memory = (mode & 2) != 0;
  // The block tables of the logger and CAN sets, and a few lists.
  if (small_memory) options.memory_limit = (std::size_t{2} << 20) + 4096;
  const std::vector<Encoded> lines = mode & 4 ? Program(rest) : FileLines(rest);

  // One collector a run: its number sets cost a megabyte and a walk of
  // every block each, more than the lines.
  const bool in_place = (mode & 8) == 0;
  StatsCollector collector(options);
  Naive naive;
  naive.id_field = options.id_field;
  BlackboxFileLine logger;
  BlackboxCandumpFileLine can;
  for (const Encoded& line : lines) {
    const bool parses = line.kind == RecordKind::kLoggerLine ? logger.ParseFromString(line.bytes)
                                                             : can.ParseFromString(line.bytes);
    if (in_place) {
      const bool accepted = collector.AddEncoded(line.kind, line.bytes, line.offset);
      FUZZ_CHECK(accepted == parses, "the %s line at %llu is %s, the parser %s",
                 line.kind == RecordKind::kLoggerLine ? "logger" : "CAN",
                 (unsigned long long)line.offset, accepted ? "counted" : "refused",
                 parses ? "accepts it" : "does not");
    }
    if (!parses) continue;
    if (line.kind == RecordKind::kLoggerLine) {
      if (!in_place) collector.Add(logger, line.offset);
      naive.Add(logger, line.offset);
    } else {
      if (!in_place) collector.Add(can, line.offset);
      naive.Add(can, line.offset);
    }
  }
  Check(in_place ? "in place" : "decoded", naive, collector.Finish(), small_memory);
  return 0;
}
