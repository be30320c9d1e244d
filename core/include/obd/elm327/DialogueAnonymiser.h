#pragma once

#include <memory>
#include <string>
#include <vector>

#include "obd/Export.h"

namespace obd::elm327 {

// What each masked character becomes: the digit zero (bytes "30" in the
// frame). A digit is valid at every position of a VIN, the serial part's
// included, so a decoder still reads the masked VIN; its check digit
// (position 9) no longer matches it.
constexpr char kMaskCharacter = '0';

// Masks what identifies a car in an adapter dialogue before it is handed on
// (zelt-scan --record-anonymise): the serial part of every VIN the car sends
// (characters 12 to 17, the last six) and every identifier the user names,
// in every message that carries them, wherever a message's frames split
// them. The answer keeps its form: only the masked bytes change, and on SAE
// J1850, ISO 9141-2 and ISO 14230-4 the check byte of each frame they sit
// in, so that the dialogue still replays. ISO 15765-2 control bytes,
// headers, padding, stray frames and the adapter's texts stay as they came.
class OBD_API DialogueAnonymiser {
public:
    // `identifiers`: texts to mask character by character wherever a
    // message's data carries them in ASCII (a calibration id, an engine
    // serial number); an empty text is ignored.
    explicit DialogueAnonymiser(std::vector<std::string> identifiers = {});
    ~DialogueAnonymiser();
    DialogueAnonymiser(const DialogueAnonymiser&) = delete;
    DialogueAnonymiser& operator=(const DialogueAnonymiser&) = delete;

    // The adapter's `answer` to `command` (sent without its carriage
    // return), masked. Give it every exchange of the dialogue in order: the
    // settings commands (ATH1, ATSP6, ATDPN) tell how later answers are
    // printed, and a VIN, once seen, is masked wherever it comes again.
    std::string mask(const std::string& command, const std::string& answer);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace obd::elm327
