#pragma once

// One reading of watched parameters from every ECU that offers them, and
// its forms: a schema 1 reading object and a CSV row. --watch and the
// dashboard read and write readings alike.

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "obd/ParameterIdentifier.h"
#include "zelt/app/Export.h"
#include "zelt/app/Session.h"
#include "zelt/app/Units.h"

namespace zelt::app {

// The sensor values of one parameter in one reading.
using Sensors = std::vector<std::shared_ptr<SensorModel>>;

// One watched parameter of one ECU: what its first reading named it (a
// placeholder without sensors when that reading had no answer).
struct Watched {
    obd::ParameterIdentifier::Id pid;             // the parameter
    std::uint32_t ecu;                            // the ECU it is read from
    std::shared_ptr<ParameterModel> description;  // its name and sensors
    // A profile parameter's unit as the profile writes it ("bar"), shown
    // where the library has no name for the unit; empty for the others.
    std::string unit;
};

// One reading of every watched parameter (values[i] of watched[i]), and
// the exact decoded numbers of each by sensor id, from the same answers.
struct Reading {
    std::vector<Sensors> values;          // values[i]: watched[i]'s sensors
    std::vector<DecodedNumbers> numbers;  // numbers[i]: their exact values
};

// Which of `pids` each of `ecus` offers, in the order of `pids`: every PID
// once per ECU that offers it, not yet described. Throws InputError for a
// PID none of them offers, std::runtime_error when the adapter went while
// the tool asked.
ZELT_APP_API std::vector<Watched> Plan(Session& session,
                                       const std::vector<obd::ParameterIdentifier::Id>& pids,
                                       const std::vector<std::uint32_t>& ecus);

// Reads every watched parameter now: on CAN up to six PIDs to a request,
// asked of every ECU at once, so that one request serves them all. The
// first reading also describes the parameters.
ZELT_APP_API Reading Read(Session& session, std::vector<Watched>& watched, bool first);

// Whether any sensor of a parameter has a value.
ZELT_APP_API bool Answered(const Sensors& sensors);

// Now in ISO 8601, UTC, with milliseconds: 2024-03-05T09:07:02.125Z.
ZELT_APP_API std::string IsoTime();

// How a column or a value is told from the others: the PID where another
// watched parameter has a sensor of the same name, the ECU where the watch
// reads several. Empty when the name alone is clear.
class ZELT_APP_API Labels {
public:
    // The labels of the parameters in `watched`.
    explicit Labels(const std::vector<Watched>& watched);

    // " [PID 0x24; ECU 0x7E9]", or empty.
    std::string qualifier(const Watched& entry, const std::string& name) const;

    // Whether the watch reads more than one ECU.
    bool severalEcus() const { return severalEcus_; }

private:
    bool severalEcus_ = false;
    std::map<std::string, std::vector<obd::ParameterIdentifier::Id>> pidsOfName_;
};

// One reading as a schema 1 reading object: each parameter with its ECU,
// a parameter without an answer marked missing.
ZELT_APP_API nlohmann::ordered_json ReadingJson(int number, const std::string& time,
                                                const std::vector<Watched>& watched,
                                                const Reading& reading, UnitSystem units);

// The CSV header row (a column per sensor and ECU, its unit in the header)
// and one row per reading, each ending in a line break. Numbers are the
// decoded values, not the display text.
ZELT_APP_API std::string CsvHeader(const std::vector<Watched>& watched, UnitSystem units);
// One CSV row, numbered `number` and stamped `time`; see CsvHeader().
ZELT_APP_API std::string CsvRow(int number, const std::string& time,
                                const std::vector<Watched>& watched, const Reading& reading,
                                UnitSystem units);

}  // namespace zelt::app
