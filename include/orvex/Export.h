// The one export macro of the Orvex libraries. Everything is hidden by default
// (-fvisibility=hidden); what carries ORVEX_EXPORT is exactly what a host can link against.
#ifndef ORVEX_EXPORT_H
#define ORVEX_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define ORVEX_EXPORT __attribute__((visibility("default")))
#else
#define ORVEX_EXPORT
#endif

#endif
