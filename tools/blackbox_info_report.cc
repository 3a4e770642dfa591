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
std::optional<double> rate(const InfoSettings& settings, std::uint64_t lines, std::uint64_t span) {
  const double time = seconds(settings, span);
  if (lines == 0 || time <= 0) return std::nullopt;
  return static_cast<double>(lines) / time;
}

std::string id_text(const CanIdCount& id) {
  return id.extended ? fmt::format("{:08X}", id.id) : fmt::format("{:03X}", id.id);
}

// --- text ----------------------------------------------------------------

std::string range_text(const ValueRange& range) {
  if (!range.any) return "none";
  if (range.min == range.max) return std::to_string(range.min);
  return fmt::format("{}..{}", range.min, range.max);
}

std::string seconds_text(double value) {
  std::string text = fmt::format("{:.3f} s", value);
  if (value >= 3600) {
    const auto whole = static_cast<std::uint64_t>(value);
    text += fmt::format(" ({}:{:02}:{:02})", whole / 3600, whole / 60 % 60, whole % 60);
  }
  return text;
}

std::string rate_text(const std::optional<double>& per_second) {
  return per_second ? fmt::format("{:.1f}", *per_second) : "-";
}

std::string lines_text(std::uint64_t lines, const std::optional<double>& per_second) {
  if (!per_second) return std::to_string(lines);
  return fmt::format("{} ({:.1f} per second)", lines, *per_second);
}

std::string sequence_text(const SequenceSummary& sequence) {
  if (sequence.lines == 0) return "none";
  const char* about = sequence.estimated ? "about " : "";
  std::string text = fmt::format("{}, {}{} distinct; {}{} missing", range_text(sequence.numbers), about,
                                 sequence.distinct, about, sequence.missing);
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

std::string stamps_text(const TimeSummary& time, const InfoSettings& settings) {
  if (!time.stamps.any) return "none";
  return fmt::format("{}, {}", range_text(time.stamps), seconds_text(seconds(settings, time.span())));
}

std::string step_text(const TimeStep& step, const InfoSettings& settings) {
  const std::uint64_t ticks = step.to >= step.from ? step.to - step.from : step.from - step.to;
  return fmt::format("{} -> {} ({}) at byte {} (seqNo {})", step.from, step.to,
                     seconds_text(seconds(settings, ticks)), step.offset, step.seq_no);
}

void add_steps(Table& table, const char* label, const std::vector<TimeStep>& steps, const InfoSettings& settings) {
  bool first = true;
  for (const TimeStep& step : steps) {
    table.add_row({first ? label : "", step_text(step, settings)});
    first = false;
  }
  if (first) table.add_row({label, "none"});
}

void add_time_rows(Table& table, const char* kind, const TimeSummary& time, const InfoSettings& settings) {
  if (!time.stamps.any) return;
  add_steps(table, fmt::format("  {}, largest steps:", kind).c_str(), time.largest_gaps, settings);
  if (time.backwards == 0) {
    table.add_row({fmt::format("  {}, backwards:", kind), "none"});
  } else {
    table.add_row({fmt::format("  {}, backwards:", kind),
                   fmt::format("{} time{}{}", time.backwards, time.backwards == 1 ? "" : "s",
                               time.backwards > time.first_backwards.size() ? ", the first:" : ":")});
    add_steps(table, "", time.first_backwards, settings);
  }
}

std::string damage_text(const DamageInfo& damage) {
  std::string text = fmt::format("at byte {}: {}; {} byte{}", damage.offset, damage.reason, damage.length,
                                 damage.length == 1 ? "" : "s");
  if (damage.tail) return text + " after the last complete record, not read further";
  if (damage.lines_skipped > 0) text += fmt::format(", about {} lines lost", damage.lines_skipped);
  return text + fmt::format("; {} lines after it", damage.lines_after);
}

std::string can_id_table(const std::vector<CanIdCount>& ids, std::uint64_t span, const InfoSettings& settings) {
  Table table({2, 3});
  table.add_row({"id", "frame", "lines", "per second"});
  for (const CanIdCount& id : ids) {
    table.add_row({id_text(id), id.extended ? "extended" : "standard", std::to_string(id.lines),
                   rate_text(rate(settings, id.lines, span))});
  }
  return table.render("  ");
}

std::string can_ids_text(std::uint64_t distinct, bool estimated, std::uint64_t listed, std::uint64_t unlisted_lines,
                         const InfoSettings& settings) {
  std::string text = fmt::format("{}{} distinct (from {})", estimated ? "at least " : "", distinct, settings.id_field);
  if (unlisted_lines > 0) {
    text += fmt::format("; {} listed, {} lines of the others", listed, unlisted_lines);
  }
  return text;
}

// --- JSON ----------------------------------------------------------------

// Writes one JSON value at a time; objects and arrays put their commas.
class Json {
 public:
  Json& open(char bracket) {
    comma();
    out_ += bracket;
    first_ = true;
    return *this;
  }
  Json& close(char bracket) {
    out_ += bracket;
    first_ = false;
    return *this;
  }
  Json& key(const char* name) {
    comma();
    string(name);
    out_ += ':';
    first_ = true;  // the value follows without a comma
    return *this;
  }
  Json& value(std::uint64_t number) {
    comma();
    out_ += std::to_string(number);
    return *this;
  }
  Json& value(bool flag) {
    comma();
    out_ += flag ? "true" : "false";
    return *this;
  }
  Json& value(const std::optional<double>& number) {
    comma();
    out_ += number && std::isfinite(*number) ? fmt::format("{}", *number) : "null";
    return *this;
  }
  Json& value(const std::string& text) {
    comma();
    string(text);
    return *this;
  }
  std::string take() { return std::move(out_); }

 private:
  void comma() {
    if (!first_) out_ += ',';
    first_ = false;
  }
  void string(const std::string& text) {
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

void range_json(Json& json, const char* name, const ValueRange& range) {
  json.key(name);
  if (!range.any) {
    json.value(std::optional<double>());
    return;
  }
  json.open('{').key("min").value(range.min).key("max").value(range.max).close('}');
}

void sequence_json(Json& json, const char* name, const SequenceSummary& sequence) {
  json.key(name).open('{').key("lines").value(sequence.lines);
  range_json(json, "numbers", sequence.numbers);
  json.key("distinct").value(sequence.distinct).key("missing").value(sequence.missing);
  json.key("gaps").value(sequence.gaps).key("repeated").value(sequence.repeated);
  json.key("first_gaps").open('[');
  for (const auto& [first, last] : sequence.first_gaps) {
    json.open('[').value(std::uint64_t{first}).value(std::uint64_t{last}).close(']');
  }
  json.close(']').key("estimated").value(sequence.estimated).close('}');
}

void steps_json(Json& json, const char* name, const std::vector<TimeStep>& steps, const InfoSettings& settings) {
  json.key(name).open('[');
  for (const TimeStep& step : steps) {
    const std::uint64_t ticks = step.to >= step.from ? step.to - step.from : step.from - step.to;
    json.open('{').key("from").value(std::uint64_t{step.from}).key("to").value(std::uint64_t{step.to});
    json.key("seconds").value(std::optional<double>(seconds(settings, ticks)));
    json.key("offset").value(step.offset).key("seqNo").value(std::uint64_t{step.seq_no}).close('}');
  }
  json.close(']');
}

void time_json(Json& json, const char* name, const TimeSummary& time, std::uint64_t lines,
               const InfoSettings& settings) {
  json.key(name).open('{');
  range_json(json, "stamps", time.stamps);
  json.key("first").value(std::uint64_t{time.first}).key("last").value(std::uint64_t{time.last});
  json.key("seconds").value(std::optional<double>(seconds(settings, time.span())));
  json.key("lines_per_second").value(rate(settings, lines, time.span()));
  steps_json(json, "largest_steps", time.largest_gaps, settings);
  json.key("backwards").value(time.backwards);
  steps_json(json, "first_backwards", time.first_backwards, settings);
  json.close('}');
}

void can_ids_json(Json& json, std::uint64_t distinct, bool estimated, const std::vector<CanIdCount>& ids,
                  std::uint64_t unlisted_lines, std::uint64_t span, const InfoSettings& settings) {
  json.key("can_ids").open('{').key("field").value(settings.id_field);
  json.key("distinct").value(distinct).key("estimated").value(estimated);
  json.key("unlisted_lines").value(unlisted_lines).key("ids").open('[');
  for (const CanIdCount& id : ids) {
    json.open('{').key("id").value(std::uint64_t{id.id}).key("hex").value(id_text(id));
    json.key("extended").value(id.extended).key("lines").value(id.lines);
    json.key("per_second").value(rate(settings, id.lines, span)).close('}');
  }
  json.close(']').close('}');
}

}  // namespace

double seconds(const InfoSettings& settings, std::uint64_t ticks) {
  // Microseconds() takes 32-bit tick counts: larger sums go in pieces.
  constexpr std::uint32_t kPiece = 1u << 31;
  const double piece = static_cast<double>(settings.time_scale.Microseconds(kPiece));
  const double rest = static_cast<double>(settings.time_scale.Microseconds(static_cast<std::uint32_t>(ticks % kPiece)));
  return (static_cast<double>(ticks / kPiece) * piece + rest) / 1e6;
}

std::string file_text(const FileInfo& file, const InfoSettings& settings) {
  const FileStats& stats = file.stats;
  Table table;
  table.add_row({"file:", fmt::format("{} ({} bytes)", file.name, file.bytes)});
  table.add_row({"logger lines:", lines_text(stats.logger_lines, rate(settings, stats.logger_lines, stats.time_logger.span()))});
  table.add_row({"CAN lines:", lines_text(stats.can_lines, rate(settings, stats.can_lines, stats.time_can.span()))});
  if (file.other_records > 0) {
    table.add_row({"other records:", fmt::format("{} (neither line kind; skipped)", file.other_records)});
  }
  table.add_row({"sequence numbers:", ""});
  table.add_row({"  all lines:", sequence_text(stats.sequence_all)});
  table.add_row({"  logger lines:", sequence_text(stats.sequence_logger)});
  table.add_row({"  CAN lines:", sequence_text(stats.sequence_can)});
  table.add_row({"time stamps:", fmt::format("{} s per tick", settings.time_scale_text)});
  table.add_row({"  logger lines:", stamps_text(stats.time_logger, settings)});
  table.add_row({"  CAN lines:", stamps_text(stats.time_can, settings)});
  add_time_rows(table, "logger lines", stats.time_logger, settings);
  add_time_rows(table, "CAN lines", stats.time_can, settings);
  table.add_row({"input samples per line:", fmt::format("{} ({} in all)", range_text(stats.inputs_per_line),
                                                        stats.input_samples)});
  table.add_row({"output samples per line:", fmt::format("{} ({} in all)", range_text(stats.outputs_per_line),
                                                         stats.output_samples)});
  table.add_row({"CAN data bytes per line:", range_text(stats.can_data_bytes)});
  if (file.damage.empty()) {
    table.add_row({"damage:", "none"});
  } else {
    bool first = true;
    for (const DamageInfo& damage : file.damage) {
      table.add_row({first ? "damage:" : "", damage_text(damage)});
      first = false;
    }
  }
  table.add_row({"CAN ids:", can_ids_text(stats.can_ids_distinct, stats.can_ids_estimated, stats.can_ids.size(),
                                          stats.unlisted_can_id_lines, settings)});
  std::string text = table.render();
  if (!stats.can_ids.empty()) text += can_id_table(stats.can_ids, stats.time_can.span(), settings);
  return text;
}

std::string total_text(const blackbox::TotalStats& total, std::uint64_t bytes, std::uint64_t damaged_files,
                       const InfoSettings& settings) {
  Table table;
  table.add_row({"total:", fmt::format("{} files ({} bytes), {} damaged", total.files, bytes, damaged_files)});
  table.add_row({"logger lines:", fmt::format("{}, {} of time stamps", total.logger_lines,
                                              seconds_text(seconds(settings, total.logger_span)))});
  table.add_row({"CAN lines:", fmt::format("{}, {} of time stamps", total.can_lines,
                                           seconds_text(seconds(settings, total.can_span)))});
  table.add_row({"input samples:", std::to_string(total.input_samples)});
  table.add_row({"output samples:", std::to_string(total.output_samples)});
  table.add_row({"CAN ids:", can_ids_text(total.can_ids_distinct, total.can_ids_estimated, total.can_ids.size(),
                                          total.unlisted_can_id_lines, settings)});
  std::string text = table.render();
  if (!total.can_ids.empty()) text += can_id_table(total.can_ids, total.can_span, settings);
  return text;
}

std::string file_json(const FileInfo& file, const InfoSettings& settings) {
  const FileStats& stats = file.stats;
  Json json;
  json.open('{').key("file").value(file.name).key("bytes").value(file.bytes);
  json.key("complete_bytes").value(file.complete_bytes);
  json.key("logger_lines").value(stats.logger_lines).key("can_lines").value(stats.can_lines);
  json.key("other_records").value(file.other_records);
  json.key("sequence").open('{');
  sequence_json(json, "all", stats.sequence_all);
  sequence_json(json, "logger", stats.sequence_logger);
  sequence_json(json, "can", stats.sequence_can);
  json.close('}');
  json.key("seconds_per_tick").value(std::optional<double>(seconds(settings, 1000000) / 1e6));
  json.key("time").open('{');
  time_json(json, "logger", stats.time_logger, stats.logger_lines, settings);
  time_json(json, "can", stats.time_can, stats.can_lines, settings);
  json.close('}');
  range_json(json, "inputs_per_line", stats.inputs_per_line);
  range_json(json, "outputs_per_line", stats.outputs_per_line);
  json.key("input_samples").value(stats.input_samples).key("output_samples").value(stats.output_samples);
  range_json(json, "can_data_bytes", stats.can_data_bytes);
  json.key("damage").open('[');
  for (const DamageInfo& damage : file.damage) {
    json.open('{').key("offset").value(damage.offset).key("length").value(damage.length);
    json.key("reason").value(damage.reason).key("lines_skipped").value(damage.lines_skipped);
    json.key("lines_after").value(damage.lines_after).key("tail").value(damage.tail).close('}');
  }
  json.close(']');
  can_ids_json(json, stats.can_ids_distinct, stats.can_ids_estimated, stats.can_ids, stats.unlisted_can_id_lines,
               stats.time_can.span(), settings);
  json.close('}');
  return json.take();
}

std::string total_json(const blackbox::TotalStats& total, std::uint64_t bytes, std::uint64_t damaged_files,
                       const InfoSettings& settings) {
  Json json;
  json.open('{').key("files").value(total.files).key("bytes").value(bytes);
  json.key("damaged_files").value(damaged_files);
  json.key("logger_lines").value(total.logger_lines).key("can_lines").value(total.can_lines);
  json.key("input_samples").value(total.input_samples).key("output_samples").value(total.output_samples);
  json.key("logger_seconds").value(std::optional<double>(seconds(settings, total.logger_span)));
  json.key("can_seconds").value(std::optional<double>(seconds(settings, total.can_span)));
  can_ids_json(json, total.can_ids_distinct, total.can_ids_estimated, total.can_ids, total.unlisted_can_id_lines,
               total.can_span, settings);
  json.close('}');
  return json.take();
}

}  // namespace gcuproto::cli
