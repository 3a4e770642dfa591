#include <gcuproto/platform/arguments.h>

namespace gcuproto::platform {

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

}  // namespace gcuproto::platform
