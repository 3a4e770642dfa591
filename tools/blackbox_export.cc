// gcuproto blackbox export: a blackbox file as CSV, JSON lines or candump log.
#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <gcuproto/blackbox/exporter.h>

#include <memory>
#include <string>

#include "blackbox_files.h"
#include "errors.h"
#include "output.h"

namespace gcuproto::cli {

namespace {

struct ExportOptions {
  std::string file;
  std::string format;
  std::string output = "-";
  std::string iface = "can0";
  std::string time_scale = "0.001";
  std::string id_field = "canId";
};

std::unique_ptr<blackbox::LineFormatter> make_formatter(const ExportOptions& options) {
  if (options.format == "jsonl") return std::make_unique<blackbox::JsonLinesFormatter>();
  blackbox::CandumpOptions candump;
  if (!blackbox::TimeScale::Parse(options.time_scale, &candump.time_scale)) {
    throw UsageError(fmt::format(
        "--time-scale: '{}' is not a positive decimal number of seconds per tick", options.time_scale));
  }
  if (options.iface.empty() || options.iface.find_first_of(" \t\n()#") != std::string::npos) {
    throw UsageError(fmt::format("--iface: '{}' is no interface name", options.iface));
  }
  candump.interface_name = options.iface;
  candump.id_field = parse_id_field(options.id_field);
  return std::make_unique<blackbox::CandumpFormatter>(candump);
}

void run_export(const ExportOptions& options) {
  refuse_output_over_input(options.output, {options.file},
                           fmt::format("write the export to a file of its own, e.g. -o {}.{}", options.file,
                                       options.format));
  blackbox::ReaderOptions read;
  read.decode = false;  // the formatters decode what they write
  const std::uint64_t size = file_size(options.file);
  Progress progress("export", size);
  auto on_progress = [&progress](std::uint64_t offset) { progress.update(offset); };

  std::unique_ptr<blackbox::LineFormatter> formatter;
  if (options.format == "csv") {
    // A first pass finds the widest line, so that the header fits every row.
    progress.set_label("export (sizing columns)");
    std::unique_ptr<blackbox::Reader> scan = open_blackbox(options.file, read, "--format csv reads its input twice: give a file, not '-'");
    const blackbox::CsvColumns columns = blackbox::ScanCsvColumns(scan.get(), on_progress);
    if (scan->damaged()) throw InputError(damage_message(options.file, *scan));
    formatter = std::make_unique<blackbox::CsvFormatter>(columns);
    progress.set_label("export");
  } else {
    formatter = make_formatter(options);
  }

  std::unique_ptr<blackbox::Reader> reader = open_blackbox(options.file, read);
  StreamingOutput output(options.output);
  blackbox::FdSink sink(output.fd());
  const blackbox::ExportResult result = blackbox::Export(reader.get(), formatter.get(), &sink, on_progress);
  if (result.sink_failed) output.fail(sink.error_number());
  if (!result.ok) {
    throw InputError(fmt::format("{}: line at byte {}: {}", options.file, result.offset, result.reason));
  }
  if (reader->damaged()) throw InputError(damage_message(options.file, *reader));
  output.commit();
}

}  // namespace

void add_blackbox_export_command(CLI::App& group) {
  auto options = std::make_shared<ExportOptions>();
  CLI::App* command = group.add_subcommand(
      "export",
      "Write a blackbox file's lines as text: CSV of the logger lines, JSON lines of both kinds, "
      "or the CAN lines as a candump log.");
  command->add_option("FILE", options->file, "the blackbox file; '-' reads stdin (not for csv)")
      ->required();
  command->add_option("--format", options->format, "csv, jsonl or candump")
      ->required()
      ->check(CLI::IsMember({"csv", "jsonl", "candump"}));
  command->add_option("-o,--output", options->output,
                      "file to write, '-' for stdout; it appears only once complete")
      ->capture_default_str();
  command->add_option("--iface", options->iface, "candump: the interface name of every frame")
      ->capture_default_str();
  command->add_option("--time-scale", options->time_scale,
                      "candump: seconds per time-stamp tick; the default takes the unit's time "
                      "stamps for milliseconds")
      ->capture_default_str();
  command->add_option("--id-field", options->id_field, kIdFieldHelp)
      ->check(CLI::IsMember({"canId", "messageId"}))
      ->capture_default_str();
  command->footer(
      "csv: the logger lines, a header row 'seqNo,timestamp,in0,...,inN,out0,...,outM' and one "
      "row per line. The file is read twice: first to find the most input and output samples "
      "any line has, so that the header fits every row; a line with fewer samples leaves its "
      "last cells empty. CAN lines are left out.\n"
      "jsonl: one JSON object per line of either kind, in file order, every field present:\n"
      "  {\"kind\":\"line\",\"seqNo\":1,\"timestamp\":1000,\"dataInput\":[12,-3],\"dataOutput\":[0]}\n"
      "  {\"kind\":\"lineCan\",\"seqNo\":2,\"timestamp\":1005,\"canId\":291,\"messageId\":0,"
      "\"extended\":false,\"data\":\"00FF10\"}\n"
      "  data is upper-case hex, two digits a byte.\n"
      "candump: the CAN lines in the log format of candump -l, read by can-utils (canplayer, "
      "log2asc) and python-can:\n"
      "  (0000000001.005000) can0 123#00FF10\n"
      "  time = time stamp x --time-scale, ten digits of seconds and six of microseconds "
      "(rounded half up); the identifier is canId (see --id-field), three hex digits for a "
      "standard frame, eight for an extended one (extended set); data as hex pairs; 12 to 64 "
      "data bytes give a CAN FD frame (ID##0DATA). A frame that cannot be written so (an "
      "identifier too large for its format, another data length) is an error.\n"
      "A damaged input is an error (exit status 1): a file output is removed, stdout has the "
      "lines before the damage. Run 'gcuproto blackbox recover' to keep the complete records.\n"
      "Examples:\n"
      "  gcuproto blackbox export examples/samples/blackbox.bin --format csv\n"
      "  gcuproto blackbox export log.bin --format candump --iface vcan0 -o log.candump");
  command->callback([options] { run_export(*options); });
}

}  // namespace gcuproto::cli
