// A program's command line as UTF-8 on every system, so that a file named
// 日志.bin reaches the program under that name. POSIX passes main() the bytes
// the user typed; Windows passes them converted to the ANSI code page, where
// such a name is lost, so there they are read again from the wide command line.
#ifndef GCUPROTO_PLATFORM_ARGUMENTS_H
#define GCUPROTO_PLATFORM_ARGUMENTS_H

#include <string>
#include <vector>

namespace gcuproto::platform {

// argv[0] ... argv[argc - 1], each as UTF-8.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace gcuproto::platform

#endif  // GCUPROTO_PLATFORM_ARGUMENTS_H
