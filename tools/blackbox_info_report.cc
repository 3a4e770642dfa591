#include "blackbox_info_report.h"

#include <fmt/format.h>

#include <cmath>
#include <optional>

#include "table.h"

namespace gcuproto::cli {

namespace {

using blackbox::CanIdCount;
using blackbox::FileStats;
using blackbox::SequenceSummary;
using blackbox::TimeStep;
using blackbox::TimeSummary;
using blackbox::ValueRange;

// Lines per second over a span of time stamps; none for an empty span.
std::optional<double> Rate(const InfoSettings& settings, std::uint64_t lines, std::uint64_t span) {
  const double time = Seconds(settings, span);
  if (lines == 0 || time <= 0) return std::nullopt;
  return static_cast<double>(lines) / time;
}

std::string IdText(const CanIdCount& id) {
  return id.extended ? fmt::format("{:08X}", id.id) : fmt::format("{:03X}", id.id);
}

// --- text ----------------------------------------------------------------

std::string RangeText(const ValueRange& range) {
  if (!range.any) return "none";
  if (range.min == range.max) return std::to_string(range.min);
  return fmt::format("{}..{}", range.min, range.max);
}

std::string SecondsText(double value) {
  std::string text = fmt::format("{:.3f} s", value);
  if (value >= 3600) {
    const auto whole = static_cast<std::uint64_t>(value);
    text += fmt::format(" ({}:{:02}:{:02})", whole / 3600, whole / 60 % 60, whole % 60);
  }
  return text;
}

std::string RateText(const std::optional<double>& per_second) {
  return per_second ? fmt::format("{:.1f}", *per_second) : "-";
}

std::string LinesText(std::uint64_t lines, const std::optional<double>& per_second) {
  if (!per_second) return std::to_string(lines);
  return fmt::format("{} ({:.1f} per second)", lines, *per_second);
}

std::string SequenceText(const SequenceSummary& sequence) {
  if (sequence.lines == 0) return "none";
  const char* about = sequence.estimated ? "about " : "";
  std::string text = fmt::format("{}, {}{} distinct; {}{} missing", RangeText(sequence.numbers),
                                 about, sequence.distinct, about, sequence.missing);
  if (sequence.gaps > 0) {
    text += fmt::format(" in {}{} gap{}", about, sequence.gaps, sequence.gaps == 1 ? "" : "s");
    const char* separator = ": ";
    for (const auto& [first, last] : sequence.first_gaps) {
      text += separator;
      text += first == last ? std::to_string(first) : fmt::format("{}..{}", first, last);
      separator = ", ";
    }
    if (!sequence.first_gaps.empty() && sequence.gaps > sequence.first_gaps.size()) text += ", ...";
  }
  text += fmt::format("; {}{} repeated", about, sequence.repeated);
  if (sequence.estimated) text += " (estimated: too scattered to keep every number)";
  return text;
}

std::string StampsText(const TimeSummary& time, const InfoSettings& settings) {
  if (!time.stamps.any) return "none";
  return fmt::format("{}, {}", RangeText(time.stamps), SecondsText(Seconds(settings, time.span())));
}

std::string StepText(const TimeStep& step, const InfoSettings& settings) {
  const std::uint64_t ticks = step.to >= step.from ? step.to - step.from : step.from - step.to;
  return fmt::format("{} -> {} ({}) at byte {} (seqNo {})", step.from, step.to,
                     SecondsText(Seconds(settings, ticks)), step.offset, step.seq_no);
}

void AddSteps(Table& table, const char* label, const std::vector<TimeStep>& steps,
              const InfoSettings& settings) {
  bool first = true;
  for (const TimeStep& step : steps) {
    table.AddRow({first ? label : "", StepText(step, settings)});
    first = false;
  }
  if (first) table.AddRow({label, "none"});
}

void AddTimeRows(Table& table, const char* kind, const TimeSummary& time,
                 const InfoSettings& settings) {
  if (!time.stamps.any) return;
  AddSteps(table, fmt::format("  {}, largest steps:", kind).c_str(), time.largest_gaps, settings);
  if (time.backwards == 0) {
    table.AddRow({fmt::format("  {}, backwards:", kind), "none"});
  } else {
    table.AddRow(
        {fmt::format("  {}, backwards:", kind),
         fmt::format("{} time{}{}", time.backwards, time.backwards == 1 ? "" : "s",
                     time.backwards > time.first_backwards.size() ? ", the first:" : ":")});
    AddSteps(table, "", time.first_backwards, settings);
  }
}

std::string DamageText(const DamageInfo& damage) {
  std::string text = fmt::format("at byte {}: {}; {} byte{}", damage.offset, damage.reason,
                                 damage.length, damage.length == 1 ? "" : "s");
  if (damage.tail) return text + " after the last complete record, not read further";
  if (damage.lines_skipped > 0) text += fmt::format(", about {} lines lost", damage.lines_skipped);
  return text + fmt::format("; {} lines after it", damage.lines_after);
}

std::string CanIdTable(const std::vector<CanIdCount>& ids, std::uint64_t span,
                       const InfoSettings& settings) {
  Table table({2, 3});
  table.AddRow({"id", "frame", "lines", "per second"});
  for (const CanIdCount& id : ids) {
    table.AddRow({IdText(id), id.extended ? "extended" : "standard", std::to_string(id.lines),
                  RateText(Rate(settings, id.lines, span))});
  }
  return table.Render("  ");
}

std::string CanIdsText(std::uint64_t distinct, bool estimated, std::uint64_t listed,
                       std::uint64_t unlisted_lines, const InfoSettings& settings) {
  std::string text = fmt::format("{}{} distinct (from {})", estimated ? "at least " : "", distinct,
                                 settings.id_field);
  if (unlisted_lines > 0) {
    text += fmt::format("; {} listed, {} lines of the others", listed, unlisted_lines);
  }
  return text;
}

// --- JSON ----------------------------------------------------------------

// Writes one JSON value at a time; objects and arrays put their commas.
class Json {
 public:
  Json& Open(char bracket) {
    Comma();
    out_ += bracket;
    first_ = true;
    return *this;
  }
  Json& Close(char bracket) {
    out_ += bracket;
    first_ = false;
    return *this;
  }
  Json& Key(const char* name) {
    Comma();
    String(name);
    out_ += ':';
    first_ = true;  // the value follows without a comma
    return *this;
  }
  Json& Value(std::uint64_t number) {
    Comma();
    out_ += std::to_string(number);
    return *this;
  }
  Json& Value(bool flag) {
    Comma();
    out_ += flag ? "true" : "false";
    return *this;
  }
  Json& Value(const std::optional<double>& number) {
    Comma();
    out_ += number && std::isfinite(*number) ? fmt::format("{}", *number) : "null";
    return *this;
  }
  Json& Value(const std::string& text) {
    Comma();
    String(text);
    return *this;
  }
  std::string Take() { return std::move(out_); }

 private:
  void Comma() {
    if (!first_) out_ += ',';
    first_ = false;
  }
  void String(const std::string& text) {
    out_ += '"';
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      if (c == '"' || c == '\\') {
        out_ += '\\';
        out_ += c;
      } else if (byte < 0x20) {
        out_ += fmt::format("\\u{:04x}", byte);
      } else {
        out_ += c;
      }
    }
    out_ += '"';
  }

  std::string out_;
  bool first_ = true;
};

void RangeJson(Json& json, const char* name, const ValueRange& range) {
  json.Key(name);
  if (!range.any) {
    json.Value(std::optional<double>());
    return;
  }
  json.Open('{').Key("min").Value(range.min).Key("max").Value(range.max).Close('}');
}

void SequenceJson(Json& json, const char* name, const SequenceSummary& sequence) {
  json.Key(name).Open('{').Key("lines").Value(sequence.lines);
  RangeJson(json, "numbers", sequence.numbers);
  json.Key("distinct").Value(sequence.distinct).Key("missing").Value(sequence.missing);
  json.Key("gaps").Value(sequence.gaps).Key("repeated").Value(sequence.repeated);
  json.Key("first_gaps").Open('[');
  for (const auto& [first, last] : sequence.first_gaps) {
    json.Open('[').Value(std::uint64_t{first}).Value(std::uint64_t{last}).Close(']');
  }
  json.Close(']').Key("estimated").Value(sequence.estimated).Close('}');
}

void StepsJson(Json& json, const char* name, const std::vector<TimeStep>& steps,
               const InfoSettings& settings) {
  json.Key(name).Open('[');
  for (const TimeStep& step : steps) {
    const std::uint64_t ticks = step.to >= step.from ? step.to - step.from : step.from - step.to;
    json.Open('{')
        .Key("from")
        .Value(std::uint64_t{step.from})
        .Key("to")
        .Value(std::uint64_t{step.to});
    json.Key("seconds").Value(std::optional<double>(Seconds(settings, ticks)));
    json.Key("offset").Value(step.offset).Key("seqNo").Value(std::uint64_t{step.seq_no}).Close('}');
  }
  json.Close(']');
}

void TimeJson(Json& json, const char* name, const TimeSummary& time, std::uint64_t lines,
              const InfoSettings& settings) {
  json.Key(name).Open('{');
  RangeJson(json, "stamps", time.stamps);
  json.Key("first").Value(std::uint64_t{time.first}).Key("last").Value(std::uint64_t{time.last});
  json.Key("seconds").Value(std::optional<double>(Seconds(settings, time.span())));
  json.Key("lines_per_second").Value(Rate(settings, lines, time.span()));
  StepsJson(json, "largest_steps", time.largest_gaps, settings);
  json.Key("backwards").Value(time.backwards);
  StepsJson(json, "first_backwards", time.first_backwards, settings);
  json.Close('}');
}

void CanIdsJson(Json& json, std::uint64_t distinct, bool estimated,
                const std::vector<CanIdCount>& ids, std::uint64_t unlisted_lines,
                std::uint64_t span, const InfoSettings& settings) {
  json.Key("can_ids").Open('{').Key("field").Value(settings.id_field);
  json.Key("distinct").Value(distinct).Key("estimated").Value(estimated);
  json.Key("unlisted_lines").Value(unlisted_lines).Key("ids").Open('[');
  for (const CanIdCount& id : ids) {
    json.Open('{').Key("id").Value(std::uint64_t{id.id}).Key("hex").Value(IdText(id));
    json.Key("extended").Value(id.extended).Key("lines").Value(id.lines);
    json.Key("per_second").Value(Rate(settings, id.lines, span)).Close('}');
  }
  json.Close(']').Close('}');
}

}  // namespace

double Seconds(const InfoSettings& settings, std::uint64_t ticks) {
  // Microseconds() takes 32-bit tick counts: larger sums go in pieces.
  constexpr std::uint32_t kPiece = 1u << 31;
  const double piece = static_cast<double>(settings.time_scale.Microseconds(kPiece));
  const double rest = static_cast<double>(
      settings.time_scale.Microseconds(static_cast<std::uint32_t>(ticks % kPiece)));
  return (static_cast<double>(ticks / kPiece) * piece + rest) / 1e6;
}

std::string FileText(const FileInfo& file, const InfoSettings& settings) {
  const FileStats& stats = file.stats;
  Table table;
  table.AddRow({"file:", fmt::format("{} ({} bytes)", file.name, file.bytes)});
  table.AddRow({"logger lines:", LinesText(stats.logger_lines, Rate(settings, stats.logger_lines,
                                                                    stats.time_logger.span()))});
  table.AddRow({"CAN lines:", LinesText(stats.can_lines,
                                        Rate(settings, stats.can_lines, stats.time_can.span()))});
  if (file.other_records > 0) {
    table.AddRow(
        {"other records:", fmt::format("{} (neither line kind; skipped)", file.other_records)});
  }
  table.AddRow({"sequence numbers:", ""});
  table.AddRow({"  all lines:", SequenceText(stats.sequence_all)});
  table.AddRow({"  logger lines:", SequenceText(stats.sequence_logger)});
  table.AddRow({"  CAN lines:", SequenceText(stats.sequence_can)});
  table.AddRow({"time stamps:", fmt::format("{} s per tick", settings.time_scale_text)});
  table.AddRow({"  logger lines:", StampsText(stats.time_logger, settings)});
  table.AddRow({"  CAN lines:", StampsText(stats.time_can, settings)});
  AddTimeRows(table, "logger lines", stats.time_logger, settings);
  AddTimeRows(table, "CAN lines", stats.time_can, settings);
  table.AddRow(
      {"input samples per line:",
       fmt::format("{} ({} in all)", RangeText(stats.inputs_per_line), stats.input_samples)});
  table.AddRow(
      {"output samples per line:",
       fmt::format("{} ({} in all)", RangeText(stats.outputs_per_line), stats.output_samples)});
  table.AddRow({"CAN data bytes per line:", RangeText(stats.can_data_bytes)});
  if (file.damage.empty()) {
    table.AddRow({"damage:", "none"});
  } else {
    bool first = true;
    for (const DamageInfo& damage : file.damage) {
      table.AddRow({first ? "damage:" : "", DamageText(damage)});
      first = false;
    }
  }
  table.AddRow(
      {"CAN ids:", CanIdsText(stats.can_ids_distinct, stats.can_ids_estimated, stats.can_ids.size(),
                              stats.unlisted_can_id_lines, settings)});
  std::string text = table.Render();
  if (!stats.can_ids.empty()) text += CanIdTable(stats.can_ids, stats.time_can.span(), settings);
  return text;
}

std::string TotalText(const blackbox::TotalStats& total, std::uint64_t bytes,
                      std::uint64_t damaged_files, const InfoSettings& settings) {
  Table table;
  table.AddRow({"total:",
                fmt::format("{} files ({} bytes), {} damaged", total.files, bytes, damaged_files)});
  table.AddRow({"logger lines:", fmt::format("{}, {} of time stamps", total.logger_lines,
                                             SecondsText(Seconds(settings, total.logger_span)))});
  table.AddRow({"CAN lines:", fmt::format("{}, {} of time stamps", total.can_lines,
                                          SecondsText(Seconds(settings, total.can_span)))});
  table.AddRow({"input samples:", std::to_string(total.input_samples)});
  table.AddRow({"output samples:", std::to_string(total.output_samples)});
  table.AddRow(
      {"CAN ids:", CanIdsText(total.can_ids_distinct, total.can_ids_estimated, total.can_ids.size(),
                              total.unlisted_can_id_lines, settings)});
  std::string text = table.Render();
  if (!total.can_ids.empty()) text += CanIdTable(total.can_ids, total.can_span, settings);
  return text;
}

std::string FileJson(const FileInfo& file, const InfoSettings& settings) {
  const FileStats& stats = file.stats;
  Json json;
  json.Open('{').Key("file").Value(file.name).Key("bytes").Value(file.bytes);
  json.Key("complete_bytes").Value(file.complete_bytes);
  json.Key("logger_lines").Value(stats.logger_lines).Key("can_lines").Value(stats.can_lines);
  json.Key("other_records").Value(file.other_records);
  json.Key("sequence").Open('{');
  SequenceJson(json, "all", stats.sequence_all);
  SequenceJson(json, "logger", stats.sequence_logger);
  SequenceJson(json, "can", stats.sequence_can);
  json.Close('}');
  json.Key("seconds_per_tick").Value(std::optional<double>(Seconds(settings, 1000000) / 1e6));
  json.Key("time").Open('{');
  TimeJson(json, "logger", stats.time_logger, stats.logger_lines, settings);
  TimeJson(json, "can", stats.time_can, stats.can_lines, settings);
  json.Close('}');
  RangeJson(json, "inputs_per_line", stats.inputs_per_line);
  RangeJson(json, "outputs_per_line", stats.outputs_per_line);
  json.Key("input_samples")
      .Value(stats.input_samples)
      .Key("output_samples")
      .Value(stats.output_samples);
  RangeJson(json, "can_data_bytes", stats.can_data_bytes);
  json.Key("damage").Open('[');
  for (const DamageInfo& damage : file.damage) {
    json.Open('{').Key("offset").Value(damage.offset).Key("length").Value(damage.length);
    json.Key("reason").Value(damage.reason).Key("lines_skipped").Value(damage.lines_skipped);
    json.Key("lines_after").Value(damage.lines_after).Key("tail").Value(damage.tail).Close('}');
  }
  json.Close(']');
  CanIdsJson(json, stats.can_ids_distinct, stats.can_ids_estimated, stats.can_ids,
             stats.unlisted_can_id_lines, stats.time_can.span(), settings);
  json.Close('}');
  return json.Take();
}

std::string TotalJson(const blackbox::TotalStats& total, std::uint64_t bytes,
                      std::uint64_t damaged_files, const InfoSettings& settings) {
  Json json;
  json.Open('{').Key("files").Value(total.files).Key("bytes").Value(bytes);
  json.Key("damaged_files").Value(damaged_files);
  json.Key("logger_lines").Value(total.logger_lines).Key("can_lines").Value(total.can_lines);
  json.Key("input_samples")
      .Value(total.input_samples)
      .Key("output_samples")
      .Value(total.output_samples);
  json.Key("logger_seconds").Value(std::optional<double>(Seconds(settings, total.logger_span)));
  json.Key("can_seconds").Value(std::optional<double>(Seconds(settings, total.can_span)));
  CanIdsJson(json, total.can_ids_distinct, total.can_ids_estimated, total.can_ids,
             total.unlisted_can_id_lines, total.can_span, settings);
  json.Close('}');
  return json.Take();
}

}  // namespace gcuproto::cli
