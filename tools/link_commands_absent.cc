// sim, serve and send where the link library is not built (Windows, until
// it has sockets there): the subcommands are listed, and say why they do
// not run, rather than being unknown names.
#include <fmt/format.h>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "errors.h"

namespace gcuproto::cli {

namespace {

void AddAbsent(CLI::App& app, const char* name, const char* what) {
  CLI::App* command = app.add_subcommand(name, fmt::format("{} (not in this build)", what));
  command->allow_extras();
  command->callback([name] {
    throw UsageError(
        fmt::format("{}: not in this build of gcuproto: it has no TCP link library "
                    "(on Windows, use the tool built for Linux)",
                    name));
  });
}

}  // namespace

void AddSimCommand(CLI::App& app) {
  AddAbsent(app, "sim", "Run a virtual unit that answers Command frames over TCP");
}
void AddServeCommand(CLI::App& app) {
  AddAbsent(app, "serve", "Run the software server in front of a unit");
}
void AddSendCommand(CLI::App& app) {
  AddAbsent(app, "send", "Send a Command or a SoftwareServerRequest");
}

}  // namespace gcuproto::cli
