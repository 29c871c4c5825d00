/* Export and attribute macros shared by the public headers. */
#ifndef RAZIVU_EXPORT_H
#define RAZIVU_EXPORT_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(RAZIVU_BUILDING)
#    define RAZIVU_API __declspec(dllexport)
#  elif defined(RAZIVU_STATIC)
#    define RAZIVU_API
#  else
#    define RAZIVU_API __declspec(dllimport)
#  endif
#else
#  define RAZIVU_API __attribute__((visibility("default")))
#endif

#if defined(__GNUC__) || defined(__clang__)
#  define RAZIVU_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#  define RAZIVU_PRINTF(fmt, first)
#endif

#ifdef __cplusplus
#  define RAZIVU_BEGIN_DECLS extern "C" {
#  define RAZIVU_END_DECLS }
#else
#  define RAZIVU_BEGIN_DECLS
#  define RAZIVU_END_DECLS
#endif

#endif
