#pragma once

// What the JSON files the core reads (scenarios, vehicle profiles) share: one
// parse that refuses duplicate keys, a fault names the file and the JSON
// path, an object takes only the keys it knows, and a key is required or
// optional.

#include <algorithm>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

#include "json/Parse.h"

namespace obd::detail {

// `Error` is the exception a fault throws (constructed from its message).
template <typename Error>
class JsonPathReader {
public:
    using Json = nlohmann::json;

    explicit JsonPathReader(std::string source) : source_(std::move(source)) {}

    // Throws "SOURCE: PATH: WHAT".
    [[noreturn]] void fail(const std::string& path, const std::string& what) const {
        throw Error(source_ + ": " + (path.empty() ? "/" : path) + ": " + what);
    }

    // The document `text`; fails on invalid JSON and on a key an object
    // holds twice.
    Json parse(const std::string& text) const {
        Json root;
        if (const auto fault = ParseJson(text, root)) {
            fail(fault->first, fault->second);
        }
        return root;
    }

    // Fails on the first key of `object` that is not among `allowed`.
    void onlyKeys(const Json& object, const std::string& path,
                  std::initializer_list<const char*> allowed) const {
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (std::none_of(allowed.begin(), allowed.end(),
                             [&](const char* key) { return it.key() == key; })) {
                fail(path + "/" + it.key(), "unknown key");
            }
        }
    }

    const Json& required(const Json& object, const char* key, const std::string& path) const {
        const auto found = object.find(key);
        if (found == object.end()) {
            fail(path, std::string("missing key \"") + key + "\"");
        }
        return *found;
    }

    // Null when `object` lacks `key`.
    static const Json* optional(const Json& object, const char* key) {
        const auto found = object.find(key);
        return found == object.end() ? nullptr : &*found;
    }

private:
    std::string source_;
};

}  // namespace obd::detail
