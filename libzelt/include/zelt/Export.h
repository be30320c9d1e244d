#pragma once

// ZELT_API marks the library's exported surface. Everything else is hidden:
// the library is built with hidden visibility by default.
#if defined(_WIN32)
#if defined(ZELT_BUILDING_LIBRARY)
#define ZELT_API __declspec(dllexport)
#elif defined(ZELT_SHARED)
#define ZELT_API __declspec(dllimport)
#else
#define ZELT_API
#endif
#else
#define ZELT_API __attribute__((visibility("default")))
#endif
