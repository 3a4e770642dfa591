// Visibility of the link library's public symbols.
#ifndef GCUPROTO_LINK_EXPORT_H
#define GCUPROTO_LINK_EXPORT_H

// A static library has nothing to export or import: its build and its users
// define GCUPROTO_LINK_STATIC (CMake's targets and the .pc files do).
#if defined(GCUPROTO_LINK_STATIC)
#define GCUPROTO_LINK_EXPORT
#elif defined(_WIN32)
#if defined(GCUPROTO_LINK_BUILDING)
#define GCUPROTO_LINK_EXPORT __declspec(dllexport)
#else
#define GCUPROTO_LINK_EXPORT __declspec(dllimport)
#endif
#else
#define GCUPROTO_LINK_EXPORT __attribute__((visibility("default")))
#endif

#endif  // GCUPROTO_LINK_EXPORT_H
