// The tool takes every name on its command line as UTF-8, as the platform
// layer opens them. Windows hands main() its arguments in the ANSI code
// page, which cannot spell every file name; there they come from the wide
// command line instead.
#ifndef GCUPROTO_TOOLS_ARGUMENTS_H
#define GCUPROTO_TOOLS_ARGUMENTS_H

namespace gcuproto::cli {

// Points argc and argv at the arguments in UTF-8; they stay valid until the
// program ends.
void UseUtf8Arguments(int* argc, char*** argv);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_ARGUMENTS_H
