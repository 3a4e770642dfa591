#include "blackbox_filters.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>

#include "errors.h"

namespace gcuproto::cli {

void AddFilterOptions(CLI::App* command, FilterOptions* options) {
  const std::string group = "Line filters (combined: a line must pass all)";
  command->add_option("--kind", options->kind, "only logger lines (line) or CAN lines (can)")
      ->check(CLI::IsMember({"line", "can"}))
      ->group(group);
  command
      ->add_option("--from", options->from,
                   "lines with a time stamp at or after T: ticks (36000) or seconds (36s, "
                   "through --time-scale)")
      ->type_name("T")
      ->group(group);
  command->add_option("--to", options->to, "lines with a time stamp before T (exclusive)")
      ->type_name("T")
      ->group(group);
  command
      ->add_option("--seq", options->seq,
                   "lines whose seqNo is in A-B, both ends included (also A-, -B, A)")
      ->type_name("A-B")
      ->group(group);
  command
      ->add_option("--can-id", options->can_ids,
                   "CAN lines whose id matches ID[:MASK] in candump's syntax (hex; 8 digits: "
                   "extended); repeat it or separate with commas: any of them")
      ->type_name("ID[:MASK]")
      ->delimiter(',')
      ->group(group);
  command->add_flag("--extended", options->extended, "--can-id ids are extended (29-bit) ids")
      ->group(group);
  command
      ->add_option("--time-scale", options->time_scale,
                   "seconds per time-stamp tick, for times in seconds; the default takes the "
                   "unit's time stamps for milliseconds")
      ->capture_default_str();
}

blackbox::TimeScale ParseTimeScale(const std::string& text) {
  blackbox::TimeScale scale;
  if (!blackbox::TimeScale::Parse(text, &scale)) {
    throw UsageError(fmt::format(
        "--time-scale: '{}' is not a positive decimal number of seconds per tick", text));
  }
  return scale;
}

blackbox::Filter MakeFilter(const FilterOptions& options, const std::string& id_field) {
  blackbox::Filter filter;
  const blackbox::TimeScale scale = ParseTimeScale(options.time_scale);
  blackbox::Error error;
  if (options.kind == "line") filter.kind = blackbox::RecordKind::kLoggerLine;
  if (options.kind == "can") filter.kind = blackbox::RecordKind::kCanLine;
  auto tick = [&](const char* name, const std::string& text, std::optional<std::uint64_t>* out) {
    if (text.empty()) return;
    std::uint64_t value = 0;
    if (!blackbox::ParseTick(text, scale, &value, &error))
      throw UsageError(fmt::format("{}: {}", name, error.message()));
    *out = value;
  };
  tick("--from", options.from, &filter.from_tick);
  tick("--to", options.to, &filter.to_tick);
  if (!options.seq.empty() &&
      !blackbox::ParseSeqRange(options.seq, &filter.seq_first, &filter.seq_last, &error)) {
    throw UsageError("--seq: " + error.message());
  }
  for (const std::string& text : options.can_ids) {
    blackbox::CanIdMatch match;
    if (!blackbox::ParseCanIdMatch(text, options.extended, &match, &error)) {
      throw UsageError("--can-id: " + error.message());
    }
    filter.can_ids.push_back(match);
  }
  if (options.extended && options.can_ids.empty()) throw UsageError("--extended needs --can-id");
  if (!filter.can_ids.empty() && filter.kind == blackbox::RecordKind::kLoggerLine) {
    throw UsageError("--can-id selects CAN lines; it cannot go with --kind line");
  }
  filter.match_message_id = id_field == "messageId";
  return filter;
}

const char* const kFilterHelp =
    "Filters are applied while reading; a line left out is not decoded. --from is inclusive "
    "and --to exclusive, as in a slice: --from 10s --to 20s and --from 20s --to 30s share no "
    "line. Seconds become ticks through --time-scale (36s at 0.001 s a tick is tick 36000). "
    "--can-id 7E8 matches the standard id 7E8 exactly, 7E0:7F0 the ids 7E0 to 7EF, "
    "18DAF110 (8 digits) an extended id; --id-field messageId compares messageId instead.";

}  // namespace gcuproto::cli
