// gcuproto blackbox info: what blackbox files hold, read a line at a time.
#include <fmt/format.h>
#include <gcuproto/blackbox/stats.h>
#include <gcuproto/platform/file.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "blackbox_files.h"
#include "blackbox_info_report.h"
#include "errors.h"
#include "output.h"

namespace gcuproto::cli {

namespace {

struct InfoOptions {
  std::vector<std::string> files;
  std::string id_field = "canId";
  std::string time_scale = "0.001";
  bool json = false;
};

// Fails before any output when a file cannot be opened, so that a summary
// is never printed for only some of the files asked for. A FIFO is only
// looked at: opening it here would meet its writer, which may then finish
// before the real open and leave that one waiting for ever.
void CheckInputs(const std::vector<std::string>& files) {
  bool stdin_named = false;
  for (const std::string& file : files) {
    if (file == "-") {
      if (stdin_named) throw UsageError("'-' (stdin) can be read only once");
      stdin_named = true;
      continue;
    }
    std::error_code error;
    platform::FileInfo what;
    if (!platform::StatPath(file, &what) && what.kind == platform::PathKind::kFifo) continue;
    platform::File::Open(file, platform::File::Mode::kRead, &error);
    if (error) throw InputError(fmt::format("{}: {}", file, error.message()));
  }
}

// Reads one file to its end (or its damage) into `info`.
void ReadFile(const std::string& path, blackbox::CanIdField id_field, Progress& progress,
              std::uint64_t progress_base, FileInfo* info) {
  blackbox::ReaderOptions read;
  read.decode = false;  // the statistics read the encoded lines themselves
  // Standard input has no size to ask for: it is read through a stream of
  // our own, drained to its end afterwards to count what the reader left.
  std::unique_ptr<google::protobuf::io::FileInputStream> stdin_stream;
  std::unique_ptr<blackbox::Reader> reader;
  if (path == "-") {
    stdin_stream = std::make_unique<google::protobuf::io::FileInputStream>(
        platform::File::StandardInput().descriptor(), 1 << 20);
    reader = std::make_unique<blackbox::Reader>(stdin_stream.get(), read);
  } else {
    reader = OpenBlackbox(path, read);
  }
  blackbox::StatsOptions stats_options;
  stats_options.id_field = id_field;
  blackbox::StatsCollector collector(stats_options);
  info->name = path == "-" ? "stdin" : path;
  std::uint64_t next_progress = 0;
  bool undecodable = false;
  while (reader->Next()) {
    if (!collector.AddEncoded(reader->kind(), reader->raw(), reader->offset())) {
      // As a decoding reader stops there, so do the statistics.
      undecodable = true;
      break;
    }
    if (reader->end_offset() >= next_progress) {
      progress.Update(progress_base + reader->end_offset());
      next_progress = reader->end_offset() + (std::uint64_t{16} << 20);
    }
  }
  info->stats = collector.Finish();
  info->other_records = reader->unknown_records();
  std::uint64_t size = FileSize(path);
  if (stdin_stream) {
    const void* data;
    int length;
    while (stdin_stream->Next(&data, &length)) {
    }
    size = static_cast<std::uint64_t>(stdin_stream->ByteCount());
  }
  if (undecodable) {
    const char* kind =
        reader->kind() == blackbox::RecordKind::kLoggerLine ? "logger line" : "CAN line";
    info->complete_bytes = reader->offset();
    info->bytes = size != 0 ? size : reader->end_offset();
    info->damage.push_back({reader->offset(), info->bytes - reader->offset(),
                            fmt::format("{} does not decode", kind), 0, 0, true});
  } else if (const std::optional<blackbox::Error>& damage = reader->damage()) {
    info->complete_bytes = reader->complete_bytes();
    info->bytes = size != 0 ? size : reader->complete_bytes();
    info->damage.push_back(
        {damage->offset(), info->bytes - info->complete_bytes, damage->message(), 0, 0, true});
  } else {
    info->complete_bytes = reader->complete_bytes();
    info->bytes = size != 0 ? size : reader->complete_bytes();
  }
}

void RunInfo(const InfoOptions& options) {
  InfoSettings settings;
  settings.id_field = options.id_field;
  settings.time_scale_text = options.time_scale;
  if (!blackbox::TimeScale::Parse(options.time_scale, &settings.time_scale)) {
    throw UsageError(
        fmt::format("--time-scale: '{}' is not a positive decimal number of seconds per tick",
                    options.time_scale));
  }
  CheckInputs(options.files);
  std::uint64_t total_size = 0;
  for (const std::string& file : options.files) total_size += FileSize(file);
  Progress progress("info", total_size);

  std::string out = options.json ? "{\"files\":[" : "";
  blackbox::TotalStats total;
  std::uint64_t bytes = 0;
  std::uint64_t progress_base = 0;
  std::vector<std::string> damaged;
  for (const std::string& file : options.files) {
    FileInfo info;
    ReadFile(file, ParseIdField(options.id_field), progress, progress_base, &info);
    progress_base += FileSize(file);
    if (options.json) {
      if (total.files > 0) out += ',';
      out += FileJson(info, settings);
    } else {
      if (total.files > 0) out += '\n';
      out += FileText(info, settings);
    }
    total.Add(info.stats);
    bytes += info.bytes;
    if (!info.damage.empty()) {
      const DamageInfo& first = info.damage.front();
      damaged.push_back(
          fmt::format("{}: damaged at byte {}: {}", file, first.offset, first.reason));
    }
  }
  if (options.json) {
    out += "],\"total\":" + TotalJson(total, bytes, damaged.size(), settings) + "}\n";
  } else if (options.files.size() > 1) {
    out += '\n' + TotalText(total, bytes, damaged.size(), settings);
  }
  WriteOutput("", out);
  if (!damaged.empty()) {
    std::string message = damaged.front();
    if (damaged.size() > 1)
      message += fmt::format(" (and {} more damaged files)", damaged.size() - 1);
    throw InputError(message);
  }
}

}  // namespace

void AddBlackboxInfoCommand(CLI::App& group) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* command = group.add_subcommand(
      "info",
      "Summarise blackbox files: numbers of logger and CAN lines and their rates, sequence-number "
      "gaps and repeats, time stamps with their span, largest steps and steps backwards, samples "
      "per line, the CAN ids seen with their rates, and any damage.");
  command->add_option("FILE", options->files, "blackbox files; '-' reads stdin")->required();
  command->add_option("--id-field", options->id_field, kIdFieldHelp)
      ->check(CLI::IsMember({"canId", "messageId"}))
      ->capture_default_str();
  command
      ->add_option("--time-scale", options->time_scale,
                   "seconds per time-stamp tick, for durations and rates; the default takes the "
                   "unit's time stamps for milliseconds")
      ->capture_default_str();
  command->add_flag("--json", options->json,
                    "print one JSON object instead of text (described below)");
  command->footer(
      "Sequence numbers are taken as a set, for all lines together and for each kind apart "
      "(a unit may number both kinds in one count or each in its own): a number between the "
      "smallest and the largest that no line has is missing, a number a line shares with an "
      "earlier one is repeated; the first five gaps are listed. Numbers too scattered to keep "
      "in 32 MiB are counted from a sample and marked estimated.\n"
      "Time stamps are followed per kind in file order: the span from the earliest to the "
      "latest in seconds, the five largest steps forward and the steps backwards, each with the "
      "byte offset and seqNo of the line after the step. Rates are lines per second of that "
      "span.\n"
      "Several files give one summary each, then the total. A damaged file is summarised up to "
      "its last complete record; once all are summarised the command exits with status 1 "
      "naming the damage.\n"
      "--json prints {\"files\":[FILE,...],\"total\":TOTAL}. FILE: file, bytes, complete_bytes, "
      "logger_lines, can_lines, other_records; sequence.{all,logger,can}: lines, numbers "
      "{min,max} or null, distinct, missing, gaps, repeated, first_gaps [[first,last],...], "
      "estimated; seconds_per_tick; time.{logger,can}: stamps {min,max} or null, first, last "
      "(in file order), seconds, lines_per_second (null without a span), largest_steps and "
      "first_backwards [{from,to,seconds,offset,seqNo}], backwards; inputs_per_line, "
      "outputs_per_line, can_data_bytes {min,max} or null; input_samples, output_samples; "
      "damage [{offset,length,reason,lines_skipped,lines_after,tail}]; can_ids {field, "
      "distinct, estimated, unlisted_lines, ids [{id,hex,extended,lines,per_second}]}. "
      "TOTAL: files, bytes, damaged_files, logger_lines, can_lines, input_samples, "
      "output_samples, logger_seconds, can_seconds (sums of the files' spans), can_ids.\n"
      "Examples:\n"
      "  gcuproto blackbox info examples/samples/blackbox.bin\n"
      "  gcuproto blackbox info --json day1.bin day2.bin");
  command->callback([options] { RunInfo(*options); });
}

}  // namespace gcuproto::cli
