// gcuproto blackbox: blackbox log files of any size, read and written a line
// at a time.
#include <CLI/CLI.hpp>

#include "blackbox_files.h"
#include "commands.h"

namespace gcuproto::cli {

void AddBlackboxCommand(CLI::App& app) {
  CLI::App* group = app.add_subcommand(
      "blackbox",
      "Blackbox log files of any size: summarise, export as CSV, JSON lines or candump log, "
      "recover what a crash left, join files. Files are read a line at a time, in constant "
      "memory.");
  group->require_subcommand(1);
  group->footer(
      "A damaged file (bytes that are no record, or a last record cut short by a crash or a "
      "full disk) makes info and export exit with status 1, naming the byte where the damage "
      "starts; recover copies every complete record before it.\n"
      "Examples:\n"
      "  gcuproto blackbox info examples/samples/blackbox.bin\n"
      "  gcuproto blackbox export examples/samples/blackbox.bin --format csv -o log.csv\n"
      "  gcuproto blackbox recover crashed.bin -o recovered.bin");
  AddBlackboxInfoCommand(*group);
  AddBlackboxExportCommand(*group);
  AddBlackboxRecoverCommand(*group);
  AddBlackboxCatCommand(*group);
}

}  // namespace gcuproto::cli
