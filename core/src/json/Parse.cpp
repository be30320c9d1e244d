#include "json/Parse.h"

#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace obd::detail {

namespace {

using Json = nlohmann::json;

// Finds the first key that an object of the document holds twice, which the
// parser would otherwise resolve silently to its last value.
class DuplicateKeyFinder : public nlohmann::json_sax<Json> {
public:
    // The JSON path of the second occurrence, once found.
    const std::optional<std::string>& found() const { return found_; }

    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t&) override { return value(); }
    bool string(string_t&) override { return value(); }
    bool binary(binary_t&) override { return value(); }
    bool start_object(std::size_t) override { return open(true); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_array() override { return close(); }
    bool key(string_t& key) override {
        Frame& top = frames_.back();
        if (!top.keys.insert(key).second) {
            found_ = top.path + "/" + key;
            return false;
        }
        top.key = key;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;  // the regular parse reports syntax errors
    }

private:
    struct Frame {
        bool object = false;
        std::string path;
        std::set<std::string> keys;  // objects: the keys seen so far
        std::string key;             // objects: the key of the value being read
        std::size_t index = 0;       // arrays: the index of the value being read
    };

    bool value() {
        if (!frames_.empty() && !frames_.back().object) {
            ++frames_.back().index;
        }
        return true;
    }
    bool open(bool object) {
        Frame frame;
        frame.object = object;
        if (!frames_.empty()) {
            const Frame& parent = frames_.back();
            frame.path =
                parent.path + "/" + (parent.object ? parent.key : std::to_string(parent.index));
        }
        frames_.push_back(std::move(frame));
        return true;
    }
    bool close() {
        frames_.pop_back();
        return value();
    }

    std::vector<Frame> frames_;
    std::optional<std::string> found_;
};

}  // namespace

std::optional<std::pair<std::string, std::string>> ParseJson(const std::string& text, Json& root) {
    try {
        root = Json::parse(text);
    } catch (const Json::exception& error) {
        // Syntax errors come as parse_error, a number too large for a double
        // ("1e400") as out_of_range: both are faults of the text. Messages
        // read "[json.exception.parse_error.101] parse error at line 2, ...".
        std::string what = error.what();
        const std::size_t end = what.find("] ");
        if (end != std::string::npos) {
            what.erase(0, end + 2);
        }
        return std::make_pair(std::string(), "invalid JSON: " + what);
    }
    DuplicateKeyFinder duplicates;
    Json::sax_parse(text, &duplicates);
    if (duplicates.found()) {
        return std::make_pair(*duplicates.found(), std::string("key given twice"));
    }
    return std::nullopt;
}

}  // namespace obd::detail
