// Visibility of the libraries' public symbols. Every generated message header
// includes this file, so the macro is defined the same way for the library's own
// build and for programs that use it. The blackbox and link libraries' export
// headers build their macros from the two below, each by whether that library
// is the one being built.
#ifndef GCUPROTO_EXPORT_H
#define GCUPROTO_EXPORT_H

#if defined(_WIN32)
#define GCUPROTO_DLL_EXPORT __declspec(dllexport)
#if defined(__GNUC__)
// mingw links a DLL's functions and data without dllimport (auto-import).
// With it, g++ warns at every inline member the generated code uses before
// defining it ("redeclared without dllimport attribute").
#define GCUPROTO_DLL_IMPORT
#else
#define GCUPROTO_DLL_IMPORT __declspec(dllimport)
#endif
#else
#define GCUPROTO_DLL_EXPORT __attribute__((visibility("default")))
#define GCUPROTO_DLL_IMPORT __attribute__((visibility("default")))
#endif

// A static library has nothing to export or import: its build and its users
// define GCUPROTO_STATIC (CMake's targets and the .pc files do).
#if defined(GCUPROTO_STATIC)
#define GCUPROTO_EXPORT
#elif defined(GCUPROTO_BUILDING)
#define GCUPROTO_EXPORT GCUPROTO_DLL_EXPORT
#else
#define GCUPROTO_EXPORT GCUPROTO_DLL_IMPORT
#endif

#endif  // GCUPROTO_EXPORT_H
