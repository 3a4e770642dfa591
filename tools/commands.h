// The subcommands of gcuproto. Each adds itself, with its options, help text
// and the code that runs it, to the application; main() only lists them.
#ifndef GCUPROTO_TOOLS_COMMANDS_H
#define GCUPROTO_TOOLS_COMMANDS_H

namespace CLI {
class App;
}  // namespace CLI

namespace gcuproto::cli {

void AddTypesCommand(CLI::App& app);
void AddDecodeCommand(CLI::App& app);
void AddEncodeCommand(CLI::App& app);
void AddFirmwareCommand(CLI::App& app);
void AddBlackboxCommand(CLI::App& app);
void AddSimCommand(CLI::App& app);
void AddServeCommand(CLI::App& app);
void AddSendCommand(CLI::App& app);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_COMMANDS_H
