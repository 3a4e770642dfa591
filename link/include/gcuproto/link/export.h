// Visibility of the link library's public symbols.
#ifndef GCUPROTO_LINK_EXPORT_H
#define GCUPROTO_LINK_EXPORT_H

#include <gcuproto/export.h>

#if defined(GCUPROTO_LINK_BUILDING)
#define GCUPROTO_LINK_EXPORT GCUPROTO_DLL_EXPORT
#else
#define GCUPROTO_LINK_EXPORT GCUPROTO_DLL_IMPORT
#endif

#endif  // GCUPROTO_LINK_EXPORT_H
