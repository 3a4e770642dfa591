// Visibility of the link library's public symbols.
#ifndef GCUPROTO_LINK_EXPORT_H
#define GCUPROTO_LINK_EXPORT_H

#if defined(_WIN32)
#if defined(GCUPROTO_LINK_BUILDING)
#define GCUPROTO_LINK_EXPORT __declspec(dllexport)
#else
#define GCUPROTO_LINK_EXPORT __declspec(dllimport)
#endif
#else
#define GCUPROTO_LINK_EXPORT __attribute__((visibility("default")))
#endif

#endif  // GCUPROTO_LINK_EXPORT_H
