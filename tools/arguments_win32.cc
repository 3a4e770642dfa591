#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include <string>
#include <vector>

#include "arguments.h"

namespace gcuproto::cli {

void UseUtf8Arguments(int* argc, char*** argv) {
  static std::vector<std::string> arguments;
  static std::vector<char*> pointers;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return;  // argv as it is, rather than nothing
  for (int i = 0; i < count; ++i) {
    const int length = static_cast<int>(wcslen(wide[i]));
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, wide[i], length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide[i], length, utf8.data(), size, nullptr, nullptr);
    arguments.push_back(std::move(utf8));
  }
  ::LocalFree(wide);
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  *argc = count;
  *argv = pointers.data();
}

}  // namespace gcuproto::cli
