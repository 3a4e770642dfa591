#include <gcuproto/platform/arguments.h>

namespace gcuproto::platform {

std::vector<std::string> utf8_arguments(int argc, char** argv) { return {argv, argv + argc}; }

}  // namespace gcuproto::platform
