// The one export macro of the Orvex libraries. Everything is hidden by default
// (-fvisibility=hidden); what carries ORVEX_EXPORT is exactly what a host can link against.
#ifndef ORVEX_FOUNDATION_EXPORT_H
#define ORVEX_FOUNDATION_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define ORVEX_EXPORT __attribute__((visibility("default")))
#else
#define ORVEX_EXPORT
#endif

// Public enumerations are 32-bit ints in C and C++; in C++ the fixed base also makes every
// int value a valid enumerator value (hosts may pass values the library does not name).
#ifdef __cplusplus
#define ORVEX_ENUM_INT : int
#else
#define ORVEX_ENUM_INT
#endif

#endif
