#include "zelt/app/Printable.h"

#include <cstdio>

namespace zelt::app {

namespace {

// Length of the valid UTF-8 sequence that starts at `i`, or 0 when the byte
// there does not start one (RFC 3629: no overlong forms, no surrogates,
// nothing above U+10FFFF).
std::size_t Utf8SequenceLength(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char next = byte(i + k);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
            return 0;
        }
    }
    return length;
}

std::string Escaped(unsigned char byte) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
    return hex;
}

// Writes `text` with each byte outside valid UTF-8, and each character for
// which `escape` holds (given its first two bytes), as "\xHH".
template <typename Escape>
std::string Rewrite(const std::string& text, const Escape& escape) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, i);
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = length > 1 ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (length == 0) {
            result += Escaped(byte);
            ++i;
        } else if (escape(byte, next)) {
            for (std::size_t k = 0; k < length; ++k) {
                result += Escaped(static_cast<unsigned char>(text[i + k]));
            }
            i += length;
        } else {
            result.append(text, i, length);
            i += length;
        }
    }
    return result;
}

}  // namespace

std::string Printable(const std::string& text) {
    // C0 controls and DEL, and the C1 controls U+0080..U+009F, which some
    // terminals obey as well.
    return Rewrite(text, [](unsigned char byte, unsigned char next) {
        return byte < 0x20 || byte == 0x7F || (byte == 0xC2 && next < 0xA0);
    });
}

std::string Quoted(const std::string& text) {
    constexpr std::size_t kShown = 80;
    if (text.size() <= kShown) {
        return "'" + Printable(text) + "'";
    }
    // Cut where a UTF-8 sequence starts, never inside one.
    std::size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return "'" + Printable(text.substr(0, cut)) + "...' (" + std::to_string(text.size()) +
           " characters)";
}

}  // namespace zelt::app
