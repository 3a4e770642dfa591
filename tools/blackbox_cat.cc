// gcuproto blackbox cat: join blackbox files into one.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <memory>
#include <string>
#include <vector>

#include "blackbox_files.h"
#include "errors.h"
#include "output.h"

namespace gcuproto::cli {

namespace {

struct CatOptions {
  std::vector<std::string> files;
  std::string output;
};

void run_cat(const CatOptions& options) {
  refuse_output_over_input(options.output, options.files,
                           "write to a new file and rename it afterwards, e.g. -o joined.bin && mv "
                           "joined.bin " + options.output);
  std::uint64_t total = 0;
  for (const std::string& file : options.files) total += file_size(file);
  Progress progress("cat (checking)", 2 * total);

  // Every input is checked before anything is written: a damaged one would
  // make the joined file fail to parse from that point on.
  std::vector<std::uint64_t> sizes;
  std::uint64_t checked = 0;
  for (const std::string& file : options.files) {
    std::unique_ptr<blackbox::Reader> reader = open_blackbox(file, {}, "cat reads its inputs twice: give files, not '-'");
    std::uint64_t next_progress = 0;
    while (reader->next()) {
      if (reader->end_offset() >= next_progress) {
        progress.update(checked + reader->end_offset());
        next_progress = reader->end_offset() + (std::uint64_t{16} << 20);
      }
    }
    if (reader->damaged()) {
      throw InputError(damage_message(file, *reader) + "; run 'gcuproto blackbox recover' on it first");
    }
    sizes.push_back(reader->complete_bytes());
    checked += reader->complete_bytes();
  }

  // Records concatenate: the joined file is the files one after the other.
  progress.set_label("cat (copying)");
  StreamingOutput output(options.output);
  std::uint64_t copied = total;
  for (std::size_t i = 0; i < options.files.size(); ++i) {
    copy_bytes(options.files[i], 0, sizes[i], output, &progress, copied);
    copied += sizes[i];
  }
  output.commit();
}

}  // namespace

void add_blackbox_cat_command(CLI::App& group) {
  auto options = std::make_shared<CatOptions>();
  CLI::App* command = group.add_subcommand(
      "cat", "Join blackbox files, in the order given, into one valid blackbox file.");
  command->add_option("FILE", options->files, "the blackbox files")->required();
  command->add_option("-o,--output", options->output,
                      "the file to write ('-' for stdout); it appears only once complete; it may "
                      "not be one of the inputs")
      ->required();
  command->footer(
      "Each input is read through first; a damaged one is an error (exit status 1) and "
      "nothing is written. The lines keep their order: a reader sees the lines of the first "
      "file, then those of the second, and so on.\n"
      "Example:\n"
      "  gcuproto blackbox cat monday.bin tuesday.bin -o week.bin");
  command->callback([options] { run_cat(*options); });
}

}  // namespace gcuproto::cli
