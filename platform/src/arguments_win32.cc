#include <gcuproto/platform/arguments.h>
#include <windows.h>
// shellapi.h needs what windows.h declares.
#include <shellapi.h>

#include "win32_util.h"

namespace gcuproto::platform {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  // The wide command line is the one the system keeps; should it ever disagree
  // with argv (a host that rewrote argv), argv is what the program was given.
  if (wide == nullptr || count != argc) {
    if (wide != nullptr) ::LocalFree(wide);
    return {argv, argv + argc};
  }
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) arguments.push_back(win32::Narrow(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

}  // namespace gcuproto::platform
