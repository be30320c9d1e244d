#include "Assets.h"

#include <cstring>

namespace zelt::scan {

namespace {

bool EndsWith(const std::string& text, const char* suffix) {
    const std::size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

}  // namespace

const Asset* FindAsset(const std::string& path) {
    const std::string wanted = path == "/" ? "/index.html" : path;
    for (std::size_t i = 0; i < kAssetCount; ++i) {
        if (wanted == kAssets[i].path) {
            return &kAssets[i];
        }
    }
    return nullptr;
}

std::string ContentType(const Asset& asset) {
    const std::string path = asset.path;
    if (EndsWith(path, ".html")) {
        return "text/html; charset=utf-8";
    }
    if (EndsWith(path, ".css")) {
        return "text/css; charset=utf-8";
    }
    if (EndsWith(path, ".js")) {
        return "text/javascript; charset=utf-8";
    }
    return "application/octet-stream";
}

}  // namespace zelt::scan
