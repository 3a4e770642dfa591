// Visibility of the blackbox library's public symbols.
#ifndef GCUPROTO_BLACKBOX_EXPORT_H
#define GCUPROTO_BLACKBOX_EXPORT_H

#include <gcuproto/export.h>

// A static library has nothing to export or import: its build and its users
// define GCUPROTO_BLACKBOX_STATIC (CMake's targets and the .pc files do).
#if defined(GCUPROTO_BLACKBOX_STATIC)
#define GCUPROTO_BLACKBOX_EXPORT
#elif defined(GCUPROTO_BLACKBOX_BUILDING)
#define GCUPROTO_BLACKBOX_EXPORT GCUPROTO_DLL_EXPORT
#else
#define GCUPROTO_BLACKBOX_EXPORT GCUPROTO_DLL_IMPORT
#endif

#endif  // GCUPROTO_BLACKBOX_EXPORT_H
