// gcuproto blackbox info: what a blackbox file holds, read a line at a time.
#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <gcuproto/blackbox/stats.h>

#include <memory>
#include <string>

#include "blackbox_files.h"
#include "errors.h"
#include "output.h"
#include "table.h"

namespace gcuproto::cli {

namespace {

struct InfoOptions {
  std::string file;
  std::string id_field = "canId";
};

std::string range_text(const blackbox::ValueRange& range) {
  if (!range.any) return "none";
  if (range.min == range.max) return std::to_string(range.min);
  return fmt::format("{}..{}", range.min, range.max);
}

std::string sequence_text(const blackbox::SequenceSummary& sequence) {
  if (sequence.lines == 0) return "none";
  std::string text = fmt::format("{}, {} distinct; {} missing", range_text(sequence.numbers),
                                 sequence.distinct, sequence.missing);
  if (sequence.gaps > 0) {
    text += fmt::format(" in {} gap{}:", sequence.gaps, sequence.gaps == 1 ? "" : "s");
    const char* separator = " ";
    for (const auto& [first, last] : sequence.first_gaps) {
      text += separator;
      text += first == last ? std::to_string(first) : fmt::format("{}..{}", first, last);
      separator = ", ";
    }
    if (sequence.gaps > sequence.first_gaps.size()) text += ", ...";
  }
  text += fmt::format("; {} repeated", sequence.repeated);
  return text;
}

std::string can_id_table(const blackbox::FileStats& stats) {
  Table table({2});
  table.add_row({"id", "frame", "lines"});
  for (const blackbox::CanIdCount& id : stats.can_ids) {
    table.add_row({id.extended ? fmt::format("{:08X}", id.id) : fmt::format("{:03X}", id.id),
                   id.extended ? "extended" : "standard", std::to_string(id.lines)});
  }
  std::string text = table.render("  ");
  if (stats.can_ids_capped) {
    text += fmt::format("  (more: only the first {} distinct ids are listed)\n",
                        blackbox::StatsCollector::kMaxCanIds);
  }
  return text;
}

void run_info(const InfoOptions& options) {
  const std::uint64_t size = file_size(options.file);
  std::unique_ptr<blackbox::Reader> reader = open_blackbox(options.file, {});
  blackbox::StatsCollector collector(parse_id_field(options.id_field));
  Progress progress("info", size);
  std::uint64_t next_progress = 0;
  while (reader->next()) {
    if (reader->kind() == blackbox::RecordKind::kLoggerLine) {
      collector.Add(reader->logger_line());
    } else {
      collector.Add(reader->can_line());
    }
    if (reader->end_offset() >= next_progress) {
      progress.update(reader->end_offset());
      next_progress = reader->end_offset() + (std::uint64_t{16} << 20);
    }
  }
  const blackbox::FileStats stats = collector.Finish();

  Table table;
  const std::string name = options.file == "-" ? "stdin" : options.file;
  const std::uint64_t read = reader->damaged() ? reader->complete_bytes() : reader->offset();
  table.add_row({"file:", fmt::format("{} ({} bytes)", name, options.file == "-" ? read : size)});
  table.add_row({"logger lines:", std::to_string(stats.logger_lines)});
  table.add_row({"CAN lines:", std::to_string(stats.can_lines)});
  if (reader->unknown_records() > 0) {
    table.add_row({"other records:", fmt::format("{} (neither line kind; skipped)", reader->unknown_records())});
  }
  table.add_row({"sequence numbers:", ""});
  table.add_row({"  all lines:", sequence_text(stats.sequence_all)});
  table.add_row({"  logger lines:", sequence_text(stats.sequence_logger)});
  table.add_row({"  CAN lines:", sequence_text(stats.sequence_can)});
  table.add_row({"time stamps:", ""});
  table.add_row({"  logger lines:", range_text(stats.timestamps_logger)});
  table.add_row({"  CAN lines:", range_text(stats.timestamps_can)});
  table.add_row({"input samples per line:", range_text(stats.inputs_per_line)});
  table.add_row({"output samples per line:", range_text(stats.outputs_per_line)});
  table.add_row({"CAN data bytes per line:", range_text(stats.can_data_bytes)});
  if (reader->damaged()) {
    table.add_row({"damaged tail:", fmt::format("at byte {}: {}; {} bytes after the last complete record",
                                               reader->damage_offset(), reader->damage_reason(),
                                               size > reader->complete_bytes() ? size - reader->complete_bytes() : 0)});
  } else {
    table.add_row({"damaged tail:", "none"});
  }
  table.add_row({"CAN ids:", fmt::format("{} distinct (from {})", stats.can_ids.size(), options.id_field)});
  std::string text = table.render();
  if (!stats.can_ids.empty()) text += can_id_table(stats);
  write_output("", text);
  if (reader->damaged()) throw InputError(damage_message(options.file, *reader));
}

}  // namespace

void add_blackbox_info_command(CLI::App& group) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* command = group.add_subcommand(
      "info",
      "Summarise a blackbox file: numbers of logger and CAN lines, sequence-number gaps and "
      "repeats, time-stamp ranges, samples per line, the CAN ids seen, and a damaged tail if "
      "any.");
  command->add_option("FILE", options->file, "the blackbox file; '-' reads stdin")->required();
  command->add_option("--id-field", options->id_field, kIdFieldHelp)
      ->check(CLI::IsMember({"canId", "messageId"}))
      ->capture_default_str();
  command->footer(
      "Sequence numbers are taken as a set, for all lines together and for each kind apart "
      "(a unit may number both kinds in one count or each in its own): a number between the "
      "smallest and the largest that no line has is missing, a number a line shares with an "
      "earlier one is repeated; the first five gaps are listed.\n"
      "A damaged file is summarised up to its last complete record, then the command exits "
      "with status 1 naming the damage.\n"
      "Example:\n"
      "  gcuproto blackbox info examples/samples/blackbox.bin");
  command->callback([options] { run_info(*options); });
}

}  // namespace gcuproto::cli
