#pragma once

#include <cstddef>
#include <string>

namespace obd::detail {

// How reading a file of bounded size went.
enum class FileRead { Read, CannotOpen, TooLarge, CannotRead };

// Reads the file at `path` into `text` in 64 KiB pieces, and stops as soon
// as it holds more than `maxBytes`, so that a huge file or an endless device
// (/dev/zero) is refused before it fills memory.
FileRead ReadBoundedFile(const std::string& path, std::size_t maxBytes, std::string& text);

}  // namespace obd::detail
