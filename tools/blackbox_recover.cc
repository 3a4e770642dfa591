// gcuproto blackbox recover: every complete record of a damaged blackbox file.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "blackbox_files.h"
#include "errors.h"
#include "output.h"

namespace gcuproto::cli {

namespace {

struct RecoverOptions {
  std::string file;
  std::string output;
};

struct Dropped {
  std::uint64_t offset;
  std::uint64_t end;
};

void RunRecover(const RecoverOptions& options) {
  RefuseOutputOverInput(
      options.output, {options.file},
      fmt::format("write to a new file: gcuproto blackbox recover {0} -o {0}.recovered",
                  options.file));
  const std::uint64_t size = FileSize(options.file);
  Progress progress("recover (checking)", 2 * size);

  // Lines whose record is whole but whose content does not decode would fail
  // a whole-file parse: they are left out, the records after them kept.
  std::vector<Dropped> undecodable;
  blackbox::Reader* scanning = nullptr;
  blackbox::ReaderOptions read;
  read.on_undecodable_line = [&undecodable, &scanning](std::uint64_t offset, blackbox::RecordKind) {
    undecodable.push_back({offset, scanning->end_offset()});
  };
  std::unique_ptr<blackbox::Reader> reader =
      OpenBlackbox(options.file, read, "recover reads its input twice: give a file, not '-'");
  scanning = reader.get();
  std::uint64_t next_progress = 0;
  while (reader->Next()) {
    if (reader->end_offset() >= next_progress) {
      progress.Update(reader->end_offset());
      next_progress = reader->end_offset() + (std::uint64_t{16} << 20);
    }
  }
  const std::uint64_t kept_end = reader->complete_bytes();

  progress.set_label("recover (copying)");
  StreamingOutput output(options.output);
  std::uint64_t from = 0;
  std::uint64_t dropped_lines_bytes = 0;
  for (const Dropped& line : undecodable) {
    CopyBytes(options.file, from, line.offset, output, &progress, size);
    dropped_lines_bytes += line.end - line.offset;
    from = line.end;
  }
  CopyBytes(options.file, from, kept_end, output, &progress, size);
  output.Commit();

  // The report goes to stderr, stdout staying free for '-o -'.
  const std::uint64_t lines = reader->logger_lines() + reader->can_lines();
  std::fprintf(
      stderr, "%s\n",
      fmt::format("{}: kept {} logger and {} CAN lines, {} of {} bytes", options.file,
                  reader->logger_lines(), reader->can_lines(), kept_end - dropped_lines_bytes, size)
          .c_str());
  if (!undecodable.empty()) {
    std::fprintf(stderr, "%s\n",
                 fmt::format("{}: dropped {} that {} not decode ({} bytes), the first at byte {}",
                             options.file,
                             undecodable.size() == 1 ? std::string("1 line")
                                                     : fmt::format("{} lines", undecodable.size()),
                             undecodable.size() == 1 ? "does" : "do", dropped_lines_bytes,
                             undecodable.front().offset)
                     .c_str());
  }
  if (const std::optional<blackbox::Error>& damage = reader->damage()) {
    std::fprintf(stderr, "%s\n",
                 fmt::format("{}: dropped the last {} bytes, damaged at byte {}: {}", options.file,
                             size - kept_end, damage->offset(), damage->message())
                     .c_str());
  } else if (undecodable.empty()) {
    std::fprintf(stderr, "%s\n",
                 fmt::format("{}: nothing dropped ({} lines)", options.file, lines).c_str());
  }
}

}  // namespace

void AddBlackboxRecoverCommand(CLI::App& group) {
  auto options = std::make_shared<RecoverOptions>();
  CLI::App* command = group.add_subcommand(
      "recover",
      "Copy every complete record of a damaged blackbox file (one cut short by a crash or a "
      "full disk) into a valid file, and report on stderr what was dropped.");
  command->add_option("FILE", options->file, "the damaged blackbox file")->required();
  command
      ->add_option("-o,--output", options->output,
                   "the file to write ('-' for stdout); it appears only once complete")
      ->required();
  command->footer(
      "The output holds the input's records byte for byte up to the damage: a record cut "
      "short at the end, or the first bytes that are no record, and everything after them, "
      "are dropped. A line whose record is whole but whose content does not decode is "
      "dropped too, and the records after it are kept. Records of other kinds are kept as "
      "they are. The exit status is 0 whenever the output was written, also when something "
      "was dropped.\n"
      "Example:\n"
      "  gcuproto blackbox recover crashed.bin -o recovered.bin");
  command->callback([options] { RunRecover(*options); });
}

}  // namespace gcuproto::cli
