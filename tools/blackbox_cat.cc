// gcuproto blackbox cat: join blackbox files into one, or the lines of them
// that filters select.
#include <fmt/format.h>
#include <gcuproto/blackbox/reader.h>
#include <gcuproto/blackbox/record.h>
#include <gcuproto/blackbox/sink.h>
#include <gcuproto/blackbox/text_buffer.h>
#include <gcuproto/codec/wire.h>
#include <gcuproto/platform/wait.h>

#include <CLI/CLI.hpp>
#include <cstring>
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

constexpr std::uint64_t kProgressStep = std::uint64_t{16} << 20;

struct CatOptions {
  std::vector<std::string> files;
  std::string output;
  std::string id_field = "canId";
  FilterOptions filter;
  bool follow = false;
};

// A record as the writer writes it: key, length, line.
void AppendRecord(blackbox::RecordKind kind, std::string_view line, blackbox::TextBuffer* out) {
  char* q = out->Reserve(line.size() + 6);
  *q++ = static_cast<char>(blackbox::KeyOf(kind));
  q = wire::PutVarint(q, line.size());
  std::memcpy(q, line.data(), line.size());
  out->Advance(q + line.size());
}

// Copies the records `reader` selects; false when the sink failed.
bool CopyRecords(blackbox::Reader* reader, blackbox::TextBuffer* out, Progress* progress,
                 std::uint64_t progress_base) {
  std::uint64_t next_progress = kProgressStep;
  while (reader->Next()) {
    AppendRecord(reader->kind(), reader->raw(), out);
    if (out->failed()) return false;
    if (reader->end_offset() >= next_progress) {
      progress->Update(progress_base + reader->end_offset());
      next_progress = reader->end_offset() + kProgressStep;
    }
  }
  return true;
}

// One input, written out as its records arrive, until its end or a signal.
void RunFollow(const CatOptions& options, const blackbox::ReaderOptions& read) {
  const std::string& file = options.files.front();
  StreamingOutput output(options.output);
  blackbox::FdSink sink(output.fd());
  blackbox::TextBuffer out(&sink);
  platform::StopRequests stop_requests;
  LiveInput input(file, [&] {
    if (!out.Flush()) output.Fail(sink.error_number());
  });
  blackbox::Reader reader(&input, read);
  Progress progress("cat", 0);
  ReadToEnd(file, input, reader, true, [&] {
    if (!CopyRecords(&reader, &out, &progress, 0)) output.Fail(sink.error_number());
  });
  if (!out.Flush()) output.Fail(sink.error_number());
  output.Commit();
}

void RunCat(const CatOptions& options) {
  RefuseOutputOverInput(options.output, options.files,
                        "write to a new file and rename it afterwards, e.g. -o joined.bin && mv "
                        "joined.bin " +
                            options.output);
  blackbox::ReaderOptions selected;
  selected.decode = false;
  selected.filter = MakeFilter(options.filter, options.id_field);
  if (options.follow) {
    if (options.files.size() != 1) throw UsageError("--follow follows one input");
    selected.decode = true;  // one pass: every line is checked as it is copied
    selected.follow = true;
    RunFollow(options, selected);
    return;
  }
  const bool filtered = !selected.filter.SelectsAll();

  std::uint64_t total = 0;
  for (const std::string& file : options.files) total += FileSize(file);
  Progress progress("cat (checking)", 2 * total);

  // Every input is checked before anything is written: a damaged one would
  // make the joined file fail to parse from that point on.
  std::vector<std::uint64_t> sizes;
  std::uint64_t checked = 0;
  for (const std::string& file : options.files) {
    std::unique_ptr<blackbox::Reader> reader =
        OpenBlackbox(file, {}, "cat reads its inputs twice: give files, not '-'");
    std::uint64_t next_progress = 0;
    while (reader->Next()) {
      if (reader->end_offset() >= next_progress) {
        progress.Update(checked + reader->end_offset());
        next_progress = reader->end_offset() + kProgressStep;
      }
    }
    if (reader->damage()) {
      throw InputError(DamageMessage(file, *reader->damage()) +
                       "; run 'gcuproto blackbox recover' on it first");
    }
    sizes.push_back(reader->complete_bytes());
    checked += reader->complete_bytes();
  }

  progress.set_label("cat (copying)");
  StreamingOutput output(options.output);
  std::uint64_t copied = total;
  if (filtered) {
    blackbox::FdSink sink(output.fd());
    blackbox::TextBuffer out(&sink);
    for (const std::string& file : options.files) {
      std::unique_ptr<blackbox::Reader> reader = OpenBlackbox(file, selected);
      if (!CopyRecords(reader.get(), &out, &progress, copied)) output.Fail(sink.error_number());
      // The file changed since it was checked.
      if (reader->damage()) throw InputError(DamageMessage(file, *reader->damage()));
      copied += FileSize(file);
    }
    if (!out.Flush()) output.Fail(sink.error_number());
  } else {
    // Records concatenate: the joined file is the files one after the other.
    for (std::size_t i = 0; i < options.files.size(); ++i) {
      CopyBytes(options.files[i], 0, sizes[i], output, &progress, copied);
      copied += sizes[i];
    }
  }
  output.Commit();
}

}  // namespace

void AddBlackboxCatCommand(CLI::App& group) {
  auto options = std::make_shared<CatOptions>();
  CLI::App* command = group.add_subcommand(
      "cat",
      "Join blackbox files, in the order given, into one valid blackbox file; with filters, "
      "only the lines they select.");
  command->add_option("FILE", options->files, "the blackbox files")->required();
  command
      ->add_option("-o,--output", options->output,
                   "the file to write ('-' for stdout); it appears only once complete; it may "
                   "not be one of the inputs")
      ->required();
  AddFilterOptions(command, &options->filter);
  command->add_option("--id-field", options->id_field, kIdFieldHelp)
      ->check(CLI::IsMember({"canId", "messageId"}))
      ->capture_default_str();
  command->add_flag("-f,--follow", options->follow,
                    "copy one input's records as they are written, waiting at its end like "
                    "tail -f, until Ctrl-C (SIGINT) or SIGTERM; the output then ends with the "
                    "last complete record");
  command->footer(
      std::string(
          "Each input is read through first; a damaged one is an error (exit status 1) and "
          "nothing is written. The lines keep their order: a reader sees the lines of the first "
          "file, then those of the second, and so on. With --follow there is one pass, each record "
          "checked as it is copied.\n") +
      kFilterHelp +
      "\nExamples:\n"
      "  gcuproto blackbox cat monday.bin tuesday.bin -o week.bin\n"
      "  gcuproto blackbox cat day.bin --kind can --can-id 7E8,7E0 -o obd.bin\n"
      "  gcuproto blackbox cat --follow live.bin -o - | gcuproto blackbox export - --format jsonl");
  command->callback([options] { RunCat(*options); });
}

}  // namespace gcuproto::cli
