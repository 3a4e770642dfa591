// gcuproto: decode, encode and inspect the messages of the GCU protocol
// library from the command line. Each subcommand lives in its own file and
// registers itself here.
#include <fmt/format.h>
#include <gcuproto/library.h>
#include <gcuproto/platform/file.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "errors.h"
#include "runtime_log.h"
#include "type_lookup.h"

namespace {

using gcuproto::cli::ExitStatus;

// Every failure is one line on stderr.
int Fail(ExitStatus status, std::string message) {
  std::replace(message.begin(), message.end(), '\n', ' ');
  std::fprintf(stderr, "gcuproto: %s\n", message.c_str());
  return status;
}

std::string HelpHint(CLI::App& app) {
  const std::vector<CLI::App*> chosen = app.get_subcommands();
  if (chosen.empty()) return "gcuproto --help";
  return fmt::format("gcuproto {} --help", chosen.front()->get_name());
}

}  // namespace

int main(int argc, char** argv) {
  namespace cli = gcuproto::cli;
  cli::UseUtf8Arguments(&argc, &argv);
  cli::CaptureRuntimeLog();
  gcuproto::platform::set_binary_stdio();

  CLI::App app(
      "Decode, encode and inspect the messages of the GCU protocol: device commands and "
      "responses, firmware update files, blackbox logs and every other registered type.",
      "gcuproto");
  app.set_version_flag("--version", std::string(gcuproto::version()));
  app.require_subcommand(1);
  app.footer(
      "Examples:\n"
      "  gcuproto decode Command examples/samples/command.bin\n"
      "  echo 'version: 1 ping { seq_no: 7 }' | gcuproto encode Command --out hex\n"
      "  gcuproto firmware --loader examples/samples/firmware.bin\n"
      "  gcuproto types Command\n"
      "Run 'gcuproto SUBCOMMAND --help' for each subcommand's options.\n"
      "Exit status: 0 success, 1 bad input, 2 usage error, 3 internal error (a bug).");

  cli::AddTypesCommand(app);
  cli::AddDecodeCommand(app);
  cli::AddEncodeCommand(app);
  cli::AddFirmwareCommand(app);
  cli::AddBlackboxCommand(app);
  cli::AddSimCommand(app);
  cli::AddServeCommand(app);
  cli::AddSendCommand(app);

  // CLI11 reports a mistyped subcommand as a missing one; name the nearest.
  if (argc > 1 && argv[1][0] != '-') {
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
      names.push_back(command->get_name());
    }
    if (std::find(names.begin(), names.end(), argv[1]) == names.end()) {
      return Fail(cli::kExitUsage,
                  cli::UnknownNameMessage("subcommand", argv[1], names, "gcuproto --help"));
    }
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    return Fail(cli::kExitUsage, fmt::format("{} (see '{}')", e.what(), HelpHint(app)));
  } catch (const cli::UsageError& e) {
    return Fail(cli::kExitUsage, e.what());
  } catch (const cli::InputError& e) {
    return Fail(cli::kExitBadInput, e.what());
  } catch (const std::bad_alloc&) {
    return Fail(cli::kExitInternal,
                "internal error: out of memory (the input's size is bounded, so this is a bug in "
                "gcuproto; please report it)");
  } catch (const std::exception& e) {
    return Fail(
        cli::kExitInternal,
        fmt::format("internal error: {} (a bug in gcuproto, not a fault of the input; please "
                    "report it)",
                    e.what()));
  } catch (...) {
    return Fail(cli::kExitInternal,
                "internal error: an unknown exception (a bug in gcuproto; please report it)");
  }
  return cli::kExitOk;
}
