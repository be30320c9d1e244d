// Vehicle identification numbers: the North American check digit, which
// catches a mistyped or misread character in the 17.

#include <array>

#include "j1979/Codec.h"

namespace obd::j1979 {

namespace {

// The value a VIN character counts with; -1 for characters a VIN never
// holds (I, O and Q look like 1 and 0, lower case is not used).
int Transliterate(char character) {
    if (character >= '0' && character <= '9') {
        return character - '0';
    }
    // A-H count 1-8, J-R 1-9 skipping O and Q, S-Z 2-9.
    static constexpr char kLetters[] = "ABCDEFGHJKLMNPRSTUVWXYZ";
    static constexpr int kValues[] = {1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4,
                                      5, 7, 9, 2, 3, 4, 5, 6, 7, 8, 9};
    for (std::size_t index = 0; index + 1 < sizeof kLetters; ++index) {
        if (kLetters[index] == character) {
            return kValues[index];
        }
    }
    return -1;
}

constexpr std::array<int, 17> kWeights = {8, 7, 6, 5, 4, 3, 2, 10, 0, 9, 8, 7, 6, 5, 4, 3, 2};

}  // namespace

bool IsVinValid(const std::string& vin) {
    if (vin.size() != kWeights.size()) {
        return false;
    }
    int sum = 0;
    for (std::size_t index = 0; index < vin.size(); ++index) {
        const int value = Transliterate(vin[index]);
        if (value < 0) {
            return false;
        }
        sum += value * kWeights[index];
    }
    const int remainder = sum % 11;
    const char expected = remainder == 10 ? 'X' : static_cast<char>('0' + remainder);
    return vin[8] == expected;
}

}  // namespace obd::j1979
