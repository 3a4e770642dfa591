// Visibility of the link library's public symbols.
#ifndef GCUPROTO_LINK_EXPORT_H
#define GCUPROTO_LINK_EXPORT_H

#include <gcuproto/export.h>

// A static library has nothing to export or import: its build and its users
// define GCUPROTO_LINK_STATIC (CMake's targets and the .pc files do).
#if defined(GCUPROTO_LINK_STATIC)
#define GCUPROTO_LINK_EXPORT
#elif defined(GCUPROTO_LINK_BUILDING)
#define GCUPROTO_LINK_EXPORT GCUPROTO_DLL_EXPORT
#else
#define GCUPROTO_LINK_EXPORT GCUPROTO_DLL_IMPORT
#endif

#endif  // GCUPROTO_LINK_EXPORT_H
