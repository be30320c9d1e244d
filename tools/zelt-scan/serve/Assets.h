#pragma once

#include <cstddef>
#include <string>

namespace zelt::scan {

// A file of the dashboard's page, built into the program: the page works
// without the network and without files beside the program.
struct Asset {
    const char* path;  // the URL path: "/index.html"
    const unsigned char* data;
    std::size_t size;
};

// Every asset, generated at build time (EmbedAssets.cmake).
extern const Asset kAssets[];
extern const std::size_t kAssetCount;

// The asset served at `path` ("/" is "/index.html"); null for any other path.
const Asset* FindAsset(const std::string& path);

// The Content-Type of an asset, from its name.
std::string ContentType(const Asset& asset);

}  // namespace zelt::scan
