#pragma once

// OBD_API marks the core's exported surface: what the headers under obd/
// declare. Everything else is hidden; the core is built with hidden
// visibility by default. Keyed on _WIN32, not the compiler, so that the
// MinGW DLL exports the same names as the MSVC one would.
#if defined(_WIN32)
#if defined(OBD_BUILDING_LIBRARY)
#define OBD_API __declspec(dllexport)
#elif defined(OBD_SHARED)
#define OBD_API __declspec(dllimport)
#else
#define OBD_API
#endif
#else
#define OBD_API __attribute__((visibility("default")))
#endif
