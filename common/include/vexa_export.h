/* Visibility of the C exports. Everything is built hidden; only names marked
 * VEXA_API are visible to programs and plug-ins that load the libraries. */
#ifndef VEXA_EXPORT_H
#define VEXA_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define VEXA_API __attribute__((visibility("default")))
#else
#define VEXA_API
#endif

#ifdef __cplusplus
#define VEXA_EXTERN_C extern "C"
#else
#define VEXA_EXTERN_C
#endif

#endif
