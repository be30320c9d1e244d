#pragma once

// ZELT_APP_API marks the exported surface of the zelt_app library; the rest
// is hidden. Keyed on _WIN32 so that the MinGW DLL exports correctly.
#if defined(_WIN32)
#if defined(ZELT_APP_BUILDING_LIBRARY)
#define ZELT_APP_API __declspec(dllexport)
#elif defined(ZELT_APP_SHARED)
#define ZELT_APP_API __declspec(dllimport)
#else
#define ZELT_APP_API
#endif
#else
#define ZELT_APP_API __attribute__((visibility("default")))
#endif
