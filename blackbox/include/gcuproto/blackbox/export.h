// Visibility of the blackbox library's public symbols.
#ifndef GCUPROTO_BLACKBOX_EXPORT_H
#define GCUPROTO_BLACKBOX_EXPORT_H

#include <gcuproto/export.h>

#if defined(GCUPROTO_BLACKBOX_BUILDING)
#define GCUPROTO_BLACKBOX_EXPORT GCUPROTO_DLL_EXPORT
#else
#define GCUPROTO_BLACKBOX_EXPORT GCUPROTO_DLL_IMPORT
#endif

#endif  // GCUPROTO_BLACKBOX_EXPORT_H
