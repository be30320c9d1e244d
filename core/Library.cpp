// The shared core library. Its objects come whole from obd_core_internal
// (see CMakeLists.txt); this file only gives the target a source of its own.
