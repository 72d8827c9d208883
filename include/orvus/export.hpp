// ORVUS_API marks what the shared library exports; everything else is hidden. Plain
// preprocessor, so that the C header vek_p1.h uses it too.
#pragma once

#if defined(ORVUS_STATIC_DEFINE)
#define ORVUS_API
#elif defined(_WIN32)
#if defined(ORVUS_BUILDING_LIBRARY)
#define ORVUS_API __declspec(dllexport)
#else
#define ORVUS_API __declspec(dllimport)
#endif
#else
#define ORVUS_API __attribute__((visibility("default")))
#endif
