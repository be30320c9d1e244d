#pragma once

// ZELT_LINK_API marks the exported surface of the zelt_link library; the
// rest is hidden. Keyed on _WIN32 so that the MinGW DLL exports correctly.
#if defined(_WIN32)
#if defined(ZELT_LINK_BUILDING_LIBRARY)
#define ZELT_LINK_API __declspec(dllexport)
#elif defined(ZELT_LINK_SHARED)
#define ZELT_LINK_API __declspec(dllimport)
#else
#define ZELT_LINK_API
#endif
#else
#define ZELT_LINK_API __attribute__((visibility("default")))
#endif
