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

// ReadBoundedFile() for a file the user named: its text, or Error naming the
// file and why ("PATH: the file is larger than 8 MiB, more than any
// scenario needs", with `purpose` "any scenario needs").
template <typename Error>
std::string ReadNamedFile(const std::string& path, std::size_t maxBytes, const char* purpose) {
    std::string text;
    switch (ReadBoundedFile(path, maxBytes, text)) {
        case FileRead::Read:
            break;
        case FileRead::CannotOpen:
            throw Error(path + ": cannot open the file");
        case FileRead::TooLarge:
            throw Error(path + ": the file is larger than " +
                        std::to_string(maxBytes / (std::size_t{1024} * 1024)) + " MiB, more than " +
                        purpose);
        case FileRead::CannotRead:
            throw Error(path + ": cannot read the file");
    }
    return text;
}

}  // namespace obd::detail
