// gcuproto blackbox export: blackbox files as CSV, JSON lines or candump log.
#include <fmt/format.h>
#include <gcuproto/blackbox/exporter.h>
#include <gcuproto/platform/file.h>
#include <gcuproto/platform/wait.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "blackbox_files.h"
#include "blackbox_filters.h"
#include "errors.h"
#include "live_input.h"
#include "output.h"

namespace gcuproto::cli {

namespace {

struct ExportOptions {
  std::vector<std::string> files;
  std::string format;
  std::string output = "-";
  std::string iface = "can0";
  std::string id_field = "canId";
  FilterOptions filter;
  std::string channels;
  bool time = false;
  std::optional<std::size_t> inputs;
  std::optional<std::size_t> outputs;
  bool source = false;
  bool follow = false;
  std::string start_time;
};

std::uint64_t ParseStartTime(const std::string& text) {
  if (text == "now") return static_cast<std::uint64_t>(std::time(nullptr));
  std::uint64_t seconds = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
      seconds >= 10000000000ull) {
    throw UsageError(fmt::format(
        "--start-time: '{}' is neither whole epoch seconds (below 10^10) nor 'now'", text));
  }
  return seconds;
}

// What the format and the filter allow together; UsageError otherwise.
void CheckCombination(const ExportOptions& options, bool can_csv) {
  const bool csv = options.format == "csv";
  auto only = [](bool allowed, const char* option, const char* what) {
    if (!allowed) throw UsageError(fmt::format("{} is only for {}", option, what));
  };
  only(csv || options.channels.empty(), "--channels", "--format csv");
  only(csv || !options.time, "--time", "--format csv");
  only(csv || (!options.inputs && !options.outputs), "--inputs/--outputs", "--format csv");
  only(!can_csv || (options.channels.empty() && !options.inputs && !options.outputs),
       "--channels, --inputs and --outputs", "logger lines (the CAN CSV has fixed columns)");
  only(options.format != "candump" || !options.source, "--source", "--format csv and jsonl");
  only(options.format == "candump" || options.start_time.empty(), "--start-time",
       "--format candump");
  if (options.inputs.has_value() != options.outputs.has_value()) {
    throw UsageError("--inputs and --outputs go together: give both, 0 for none");
  }
  if (!options.channels.empty() && options.inputs) {
    throw UsageError("--channels chooses the columns itself: leave out --inputs and --outputs");
  }
  if (options.follow && options.files.size() != 1) throw UsageError("--follow follows one input");
  if (options.follow && csv && !can_csv && options.channels.empty() && !options.inputs) {
    throw UsageError(
        "--follow with --format csv needs --inputs and --outputs (or --channels): the header "
        "must be known before the first row");
  }
  std::size_t stdin_count = 0;
  for (const std::string& file : options.files) stdin_count += file == "-";
  if (stdin_count > 1) throw UsageError("'-' (stdin) can be given once");
}

// True when the output is a file of our own from its first byte: a regular
// file or a new one, which platform::Output builds in a temporary beside it.
bool OutputIsReplacedFile(const std::string& output) {
  if (output.empty() || output == "-") return false;
  platform::FileInfo info;
  if (platform::StatPath(output, &info)) return false;
  return info.kind == platform::PathKind::kMissing || info.kind == platform::PathKind::kRegular;
}

// A temporary file for rows whose header was not right: beside the output
// file, or in the temporary directory for stdout, a device or a FIFO; it has
// no name, so nothing stays behind.
platform::File OpenSpool(const std::string& output) {
  const std::string dir =
      OutputIsReplacedFile(output) ? platform::DirectoryOf(output) : std::string();
  std::error_code error;
  platform::File spool = platform::File::Scratch(dir, &error);
  if (error) {
    throw InputError(fmt::format("cannot create a temporary file in {}: {}",
                                 dir.empty() ? "the temporary directory" : dir, error.message()));
  }
  return spool;
}

// Writes `size` bytes of `rows` from `offset` to the output: as they are when
// the header was right, else under the final header with the cells a widening
// left out.
void WriteCsvRows(platform::File& rows, std::uint64_t offset, std::uint64_t size,
                  const blackbox::CsvFormatter& csv, StreamingOutput& output) {
  if (!csv.widened()) {
    const platform::CopyResult copied = platform::CopyRange(rows, offset, size, output.file());
    if (copied.error && copied.output_failed) output.Fail(copied.error);
    if (copied.error || copied.copied != size) {
      throw InputError(fmt::format("cannot read back the temporary rows: {}",
                                   copied.error ? copied.error.message() : "they are shorter"));
    }
    return;
  }
  blackbox::FdSink sink(output.fd());
  blackbox::TextBuffer out(&sink);
  csv.WriteHeader(&out);
  blackbox::CsvWidener widener(csv);
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  std::unique_ptr<char[]> block(new char[kBlock]);
  for (std::uint64_t done = 0; done < size;) {
    std::error_code error;
    const std::size_t n = rows.ReadAt(
        block.get(), static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, size - done)),
        offset + done, &error);
    if (error || n == 0) {
      throw InputError(fmt::format("cannot read back the temporary rows: {}",
                                   error ? error.message() : "they are shorter"));
    }
    widener.Feed(std::string_view(block.get(), n), &out);
    if (out.failed()) output.Fail(sink.error_number());
    done += n;
  }
  if (!out.Flush()) output.Fail(sink.error_number());
}

// The output file itself held the rows under the first line's header, and a
// wider line came: the rows move to a temporary file and come back put right.
void WidenOutputInPlace(const blackbox::CsvFormatter& csv, std::uint64_t written,
                        const std::string& path, StreamingOutput& output) {
  platform::File spool = OpenSpool(path);
  const std::uint64_t size = written - csv.rows_start();
  const platform::CopyResult copied =
      platform::CopyRange(output.file(), csv.rows_start(), size, spool);
  if (copied.error || copied.copied != size) {
    throw InputError(fmt::format("cannot write the temporary rows: {}",
                                 copied.error ? copied.error.message() : "the output is shorter"));
  }
  std::error_code error = output.file().Truncate(0);
  if (!error) error = output.file().Seek(0);
  if (error) output.Fail(error);
  WriteCsvRows(spool, 0, size, csv, output);
}

// A logger CSV that takes its widths from the lines: no --inputs, no
// --channels.
bool CsvNeedsWidths(const ExportOptions& options, bool can_csv) {
  return options.format == "csv" && !can_csv && options.channels.empty() && !options.inputs;
}

// The widest selected line of all files, from their encoded samples: a pass
// at close to the speed of a plain scan, after which the rows can go straight
// out. Damage is left for the export pass to report.
blackbox::CsvColumns ScanWidths(const ExportOptions& options, const blackbox::ReaderOptions& read,
                                Progress& progress) {
  blackbox::CsvColumns widest;
  std::uint64_t done = 0;
  for (const std::string& file : options.files) {
    std::unique_ptr<blackbox::Reader> reader = OpenBlackbox(file, read);
    const blackbox::CsvColumns columns = blackbox::ScanCsvColumns(
        reader.get(), [&](std::uint64_t offset) { progress.Update(done + offset); });
    widest.inputs = std::max(widest.inputs, columns.inputs);
    widest.outputs = std::max(widest.outputs, columns.outputs);
    done += FileSize(file);
  }
  return widest;
}

std::unique_ptr<blackbox::LineFormatter> MakeFormatter(const ExportOptions& options, bool can_csv,
                                                       const blackbox::TimeScale& scale,
                                                       std::optional<blackbox::CsvColumns> widths) {
  if (options.format == "jsonl") return std::make_unique<blackbox::JsonLinesFormatter>();
  if (options.format == "csv" && can_csv) {
    blackbox::CanCsvOptions can;
    can.time = options.time;
    can.time_scale = scale;
    can.source = options.source;
    return std::make_unique<blackbox::CanCsvFormatter>(can);
  }
  if (options.format == "csv") {
    blackbox::CsvOptions csv;
    blackbox::Error error;
    if (!options.channels.empty() &&
        !blackbox::ParseCsvChannels(options.channels, &csv.channels, &error)) {
      throw UsageError("--channels: " + error.message());
    }
    csv.grow = CsvNeedsWidths(options, can_csv) && !widths;
    csv.header_first = csv.grow;
    csv.time = options.time;
    csv.time_scale = scale;
    csv.source = options.source;
    const blackbox::CsvColumns columns =
        widths ? *widths
               : blackbox::CsvColumns{options.inputs.value_or(0), options.outputs.value_or(0)};
    return std::make_unique<blackbox::CsvFormatter>(columns, csv);
  }
  blackbox::CandumpOptions candump;
  candump.time_scale = scale;
  if (options.iface.empty() || options.iface.find_first_of(" \t\n()#") != std::string::npos) {
    throw UsageError(fmt::format("--iface: '{}' is no interface name", options.iface));
  }
  candump.interface_name = options.iface;
  candump.id_field = ParseIdField(options.id_field);
  if (!options.start_time.empty()) candump.start_seconds = ParseStartTime(options.start_time);
  return std::make_unique<blackbox::CandumpFormatter>(candump);
}

void RunExport(const ExportOptions& options) {
  RefuseOutputOverInput(options.output, options.files,
                        fmt::format("write the export to a file of its own, e.g. -o {}.{}",
                                    options.files.front(), options.format));
  blackbox::ReaderOptions read;
  read.decode = false;  // the formatters decode what they write
  read.follow = options.follow;
  read.filter = MakeFilter(options.filter, options.id_field);
  const bool can_csv =
      options.format == "csv" &&
      (read.filter.kind == blackbox::RecordKind::kCanLine || !read.filter.can_ids.empty());
  CheckCombination(options, can_csv);
  const blackbox::TimeScale scale = ParseTimeScale(options.filter.time_scale);

  std::uint64_t total = 0;
  for (const std::string& file : options.files) total += FileSize(file);
  // A logger CSV that takes its widths from the lines writes its header from
  // the first line and its rows as they come: into the output file itself
  // when it is one, else into a temporary file, since a wider line later
  // means the rows so far must be put right. That is rare, and costs one more
  // pass over the rows only then. Into stdout or a pipe the temporary rows
  // would always be copied once more, which costs more than scanning inputs
  // that can be read twice for their widths first.
  const bool grows = CsvNeedsWidths(options, can_csv);
  const bool direct = grows && OutputIsReplacedFile(options.output);
  const bool scan = grows && !direct && !options.follow &&
                    std::all_of(options.files.begin(), options.files.end(), ReadableTwice);
  Progress progress("export", options.follow ? 0 : (scan ? 2 : 1) * total);
  std::optional<blackbox::CsvColumns> widths;
  if (scan) widths = ScanWidths(options, read, progress);
  std::unique_ptr<blackbox::LineFormatter> formatter =
      MakeFormatter(options, can_csv, scale, widths);
  const std::uint64_t progress_base = scan ? total : 0;

  StreamingOutput output(options.output);
  blackbox::FdSink output_sink(output.fd());
  auto* csv = dynamic_cast<blackbox::CsvFormatter*>(formatter.get());
  const bool spooled = csv != nullptr && csv->options().grow && !direct;
  platform::File spool;
  std::optional<blackbox::FdSink> spool_sink;
  if (spooled) {
    spool = OpenSpool(options.output);
    spool_sink.emplace(spool.descriptor());
  }
  blackbox::Sink* sink = spooled ? static_cast<blackbox::Sink*>(&*spool_sink) : &output_sink;
  auto sink_failed = [&] {
    if (spooled)
      throw InputError(fmt::format("cannot write the temporary rows: {}",
                                   std::strerror(spool_sink->error_number())));
    output.Fail(output_sink.error_number());
  };

  std::optional<platform::StopRequests> stop_requests;
  if (options.follow) stop_requests.emplace();
  blackbox::Exporter exporter(formatter.get(), sink);
  exporter.Begin();
  std::uint64_t done = progress_base;
  for (const std::string& file : options.files) {
    const std::string name = file == "-" ? "stdin" : file;
    if (options.source && !formatter->SetSource(name, nullptr)) {
      throw UsageError(
          fmt::format("--source: the name '{}' holds a line break, which CSV cannot hold", name));
    }
    // Output so far goes out whenever the input has to be waited for.
    std::function<void()> on_wait;
    if (!spooled)
      on_wait = [&exporter, &sink_failed] {
        if (!exporter.Flush(nullptr)) sink_failed();
      };
    LiveInput input(file, on_wait);
    blackbox::Reader reader(&input, read);
    ReadToEnd(name, input, reader, options.follow, [&] {
      blackbox::Error error;
      if (exporter.Run(&reader, &error,
                       [&](std::uint64_t offset) { progress.Update(done + offset); }))
        return;
      if (error.kind() == blackbox::ErrorKind::kIo) sink_failed();
      throw InputError(
          fmt::format("{}: line at byte {}: {}", name, error.offset(), error.message()));
    });
    done += FileSize(file);
  }
  if (!exporter.Flush(nullptr)) sink_failed();
  if (csv != nullptr && csv->header_pending()) {
    blackbox::TextBuffer header(sink);
    csv->WriteHeader(&header);
    if (!header.Flush()) sink_failed();
  }
  if (spooled || (direct && csv->widened())) {
    platform::File& rows = spooled ? spool : output.file();
    platform::FileInfo info;
    if (const std::error_code error = rows.Info(&info)) {
      throw InputError(fmt::format("cannot read back the temporary rows: {}", error.message()));
    }
    if (spooled) {
      WriteCsvRows(spool, csv->widened() ? csv->rows_start() : 0,
                   info.size - (csv->widened() ? csv->rows_start() : 0), *csv, output);
    } else {
      WidenOutputInPlace(*csv, info.size, options.output, output);
    }
  }
  output.Commit();
}

}  // namespace

void AddBlackboxExportCommand(CLI::App& group) {
  auto options = std::make_shared<ExportOptions>();
  CLI::App* command = group.add_subcommand(
      "export",
      "Write blackbox files' lines as text: CSV of the logger lines or of the CAN lines, JSON "
      "lines of both kinds, or the CAN lines as a candump log.");
  command
      ->add_option("FILE", options->files,
                   "the blackbox files, one after the other; '-' reads stdin")
      ->required();
  command->add_option("--format", options->format, "csv, jsonl or candump")
      ->required()
      ->check(CLI::IsMember({"csv", "jsonl", "candump"}));
  command
      ->add_option("-o,--output", options->output,
                   "file to write, '-' for stdout; it appears only once complete")
      ->capture_default_str();
  AddFilterOptions(command, &options->filter);
  command->add_option("--id-field", options->id_field, kIdFieldHelp)
      ->check(CLI::IsMember({"canId", "messageId"}))
      ->capture_default_str();
  const std::string csv_group = "CSV";
  command
      ->add_option("--channels", options->channels,
                   "csv: only these sample columns, in this order (in2,out0)")
      ->group(csv_group);
  command
      ->add_option("--inputs", options->inputs,
                   "csv: exactly N input columns; a line with more is an error (with "
                   "--outputs; the CSV is then written as it is read)")
      ->type_name("N")
      ->group(csv_group);
  command
      ->add_option("--outputs", options->outputs, "csv: exactly M output columns (with --inputs)")
      ->type_name("M")
      ->group(csv_group);
  command
      ->add_flag("--time", options->time,
                 "csv: a 'time' column after timestamp, in seconds through --time-scale")
      ->group(csv_group);
  command->add_flag("--source", options->source,
                    "csv and jsonl: the input file's name in a last 'source' column or a first "
                    "\"source\" field ('stdin' for '-')");
  command->add_flag("-f,--follow", options->follow,
                    "at the end of the file wait for more, like tail -f, until Ctrl-C (SIGINT) "
                    "or SIGTERM; the output then ends with the last complete line");
  const std::string candump_group = "candump";
  command->add_option("--iface", options->iface, "candump: the interface name of every frame")
      ->capture_default_str()
      ->group(candump_group);
  command
      ->add_option("--start-time", options->start_time,
                   "candump: epoch seconds of time stamp 0, added to every time, or 'now'")
      ->group(candump_group);
  command->footer(
      std::string(
          "csv: the logger lines, a header row 'seqNo,timestamp,in0,...,inN,out0,...,outM' and one "
          "row per line; a line with fewer samples leaves its last cells empty. With --inputs and "
          "--outputs (or --channels) the input is read once and the rows go out as they come; "
          "else files are read twice, first for the widest line, and stdin, a pipe or --follow "
          "has its rows collected in a temporary file until the widest line is known. With --kind "
          "can "
          "(or --can-id) the CAN lines instead: "
          "'seqNo,timestamp,canId,messageId,extended,dlc,data', "
          "numbers in decimal, extended true or false, dlc the number of data bytes, data in hex.\n"
          "jsonl: one JSON object per line of either kind, in file order, every field present:\n"
          "  "
          "{\"kind\":\"line\",\"seqNo\":1,\"timestamp\":1000,\"dataInput\":[12,-3],\"dataOutput\":["
          "0]}\n"
          "  {\"kind\":\"lineCan\",\"seqNo\":2,\"timestamp\":1005,\"canId\":291,\"messageId\":0,"
          "\"extended\":false,\"data\":\"00FF10\"}\n"
          "  data is upper-case hex, two digits a byte.\n"
          "candump: the CAN lines in the log format of candump -l, read by can-utils (canplayer, "
          "log2asc) and python-can:\n"
          "  (0000000001.005000) can0 123#00FF10\n"
          "  time = time stamp x --time-scale (+ --start-time), ten digits of seconds and six of "
          "microseconds (rounded half up); the identifier is canId (see --id-field), three hex "
          "digits for a standard frame, eight for an extended one (extended set); data as hex "
          "pairs; "
          "12 to 64 data bytes give a CAN FD frame (ID##0DATA). A frame that cannot be written so "
          "(an identifier too large for its format, another data length) is an error.\n") +
      kFilterHelp +
      "\nFrom a pipe or with --follow, the output is handed on whenever the input has to be "
      "waited for.\n"
      "A damaged input is an error (exit status 1): a file output is removed, stdout has the "
      "lines before the damage. Run 'gcuproto blackbox recover' to keep the complete records.\n"
      "Examples:\n"
      "  gcuproto blackbox export examples/samples/blackbox.bin --format csv\n"
      "  gcuproto blackbox export day.bin --format csv --kind can --can-id 7E8 --from 36000s --to "
      "39600s\n"
      "  gcuproto blackbox export unit*.bin --format csv --inputs 8 --outputs 4 --source -o "
      "fleet.csv\n"
      "  gcuproto blackbox export log.bin --format candump --start-time 1700000000 -o log.candump");
  command->callback([options] { RunExport(*options); });
}

}  // namespace gcuproto::cli
