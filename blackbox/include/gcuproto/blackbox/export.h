// Visibility of the blackbox library's public symbols.
#ifndef GCUPROTO_BLACKBOX_EXPORT_H
#define GCUPROTO_BLACKBOX_EXPORT_H

#if defined(_WIN32)
#if defined(GCUPROTO_BLACKBOX_BUILDING)
#define GCUPROTO_BLACKBOX_EXPORT __declspec(dllexport)
#else
#define GCUPROTO_BLACKBOX_EXPORT __declspec(dllimport)
#endif
#else
#define GCUPROTO_BLACKBOX_EXPORT __attribute__((visibility("default")))
#endif

#endif  // GCUPROTO_BLACKBOX_EXPORT_H
