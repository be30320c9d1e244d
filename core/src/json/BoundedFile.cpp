#include "json/BoundedFile.h"

#include <fstream>

namespace obd::detail {

FileRead ReadBoundedFile(const std::string& path, std::size_t maxBytes, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return FileRead::CannotOpen;
    }
    text.clear();
    char piece[64 * 1024];
    while (file.read(piece, sizeof piece) || file.gcount() > 0) {
        text.append(piece, static_cast<std::size_t>(file.gcount()));
        if (text.size() > maxBytes) {
            return FileRead::TooLarge;
        }
    }
    return file.bad() ? FileRead::CannotRead : FileRead::Read;
}

}  // namespace obd::detail
