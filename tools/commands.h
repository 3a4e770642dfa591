// The subcommands of gcuproto. Each adds itself, with its options, help text
// and the code that runs it, to the application; main() only lists them.
#ifndef GCUPROTO_TOOLS_COMMANDS_H
#define GCUPROTO_TOOLS_COMMANDS_H

namespace CLI {
class App;
}  // namespace CLI

namespace gcuproto::cli {

void add_types_command(CLI::App& app);
void add_decode_command(CLI::App& app);
void add_encode_command(CLI::App& app);
void add_firmware_command(CLI::App& app);
void add_blackbox_command(CLI::App& app);
void add_sim_command(CLI::App& app);
void add_serve_command(CLI::App& app);
void add_send_command(CLI::App& app);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_COMMANDS_H
