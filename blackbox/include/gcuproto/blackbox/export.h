// Visibility of the blackbox library's public symbols.
#ifndef GCUPROTO_BLACKBOX_EXPORT_H
#define GCUPROTO_BLACKBOX_EXPORT_H

// A static library has nothing to export or import: its build and its users
// define GCUPROTO_BLACKBOX_STATIC (CMake's targets and the .pc files do).
#if defined(GCUPROTO_BLACKBOX_STATIC)
#define GCUPROTO_BLACKBOX_EXPORT
#elif defined(_WIN32)
#if defined(GCUPROTO_BLACKBOX_BUILDING)
#define GCUPROTO_BLACKBOX_EXPORT __declspec(dllexport)
#elif defined(__GNUC__)
// mingw links a DLL's functions and data without dllimport (auto-import).
// With it, g++ warns at every inline member the generated code uses before
// defining it ("redeclared without dllimport attribute").
#define GCUPROTO_BLACKBOX_EXPORT
#else
#define GCUPROTO_BLACKBOX_EXPORT __declspec(dllimport)
#endif
#else
#define GCUPROTO_BLACKBOX_EXPORT __attribute__((visibility("default")))
#endif

#endif  // GCUPROTO_BLACKBOX_EXPORT_H
