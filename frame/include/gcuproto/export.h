// Visibility of the library's public symbols. Every generated message header
// includes this file, so the macro is defined the same way for the library's own
// build and for programs that use it.
#ifndef GCUPROTO_EXPORT_H
#define GCUPROTO_EXPORT_H

// A static library has nothing to export or import: its build and its users
// define GCUPROTO_STATIC (CMake's targets and the .pc files do).
#if defined(GCUPROTO_STATIC)
#define GCUPROTO_EXPORT
#elif defined(_WIN32)
#if defined(GCUPROTO_BUILDING)
#define GCUPROTO_EXPORT __declspec(dllexport)
#elif defined(__GNUC__)
// mingw links a DLL's functions and data without dllimport (auto-import).
// With it, g++ warns at every inline member the generated code uses before
// defining it ("redeclared without dllimport attribute").
#define GCUPROTO_EXPORT
#else
#define GCUPROTO_EXPORT __declspec(dllimport)
#endif
#else
#define GCUPROTO_EXPORT __attribute__((visibility("default")))
#endif

#endif  // GCUPROTO_EXPORT_H
