// Fuzzes the formatting of sensor value texts: SensorModelBuilder::build and
// ParameterModelBuilder::build with arbitrary value texts, uids and units.
//
// The builders may only throw std::invalid_argument (a time value that is not
// a number) or std::out_of_range (one that does not fit); anything else that
// escapes, a crash or a sanitizer report is a finding. Besides, every result
// is checked against a reference written here independently of the library:
// the right exception for the first text that cannot be read, otherwise the
// exact display texts.
//
// Input layout (FuzzedDataProvider: integers are taken from the end, texts
// from the front, each text ended by a backslash and one more character):
//   from the end: the parameter's PID byte and the number of sensors (0 to
//   4), then per sensor its uid (a choice byte followed by a position byte, a
//   PID and a position byte, or four bytes), its unit (a choice byte, four
//   more bytes for a choice from 224 on), a value flag, a limits flag and the
//   two limits (five bytes each);
//   from the front: per sensor its name and its four value texts; the bytes
//   left over name the parameter.
// Half of the uid choices pick a sensor of the time parameters 0x1F, 0x4D,
// 0x4E and 0x7F, whose texts are read as numbers; units range past the named
// 0..65, and to any 32-bit value, negative ones too.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "obd/ParameterDataModel.h"
#include "obd/ParameterIdentifier.h"
#include "obd/SensorDataModel.h"
#include "zelt/MeasurementUnitNames.h"
#include "zelt/ModelBuilders.h"
#include "zelt/Models.h"

namespace {

using obd::ParameterIdentifier::Id;

constexpr std::size_t kMaxSensors = 4;
constexpr std::size_t kMaxTextLength = 48;

using zelt::fuzz::Check;
using zelt::fuzz::Fail;

// What reading a value text gives, decided independently of the library:
// std::stoll's rules (the text ends at a NUL byte, leading C-locale white
// space, an optional sign, at least one decimal digit, the rest ignored) with
// the range of the parameter.
enum class ReadOutcome { kNumber, kInvalid, kOutOfRange };

struct Reading {
    ReadOutcome outcome = ReadOutcome::kInvalid;
    std::int64_t number = 0;
};

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

Reading ReferenceRead(const std::string& text, std::int64_t minimum, std::int64_t maximum) {
    const char* p = text.c_str();
    while (IsCSpace(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9') {
        return {};
    }
    // Accumulated as a negative number: its range reaches one further.
    std::int64_t number = 0;
    bool overflow = false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const int digit = *p - '0';
        if (number < (std::numeric_limits<std::int64_t>::min() + digit) / 10) {
            overflow = true;
        } else {
            number = number * 10 - digit;
        }
    }
    if (!negative) {
        if (number == std::numeric_limits<std::int64_t>::min()) {
            overflow = true;
        } else {
            number = -number;
        }
    }
    if (overflow || number < minimum || number > maximum) {
        return {ReadOutcome::kOutOfRange, 0};
    }
    return {ReadOutcome::kNumber, number};
}

// The display text of one value, or how reading it must fail.
struct Expected {
    ReadOutcome outcome = ReadOutcome::kNumber;
    std::string text;
};

Expected ExpectedText(std::int32_t uid, const std::string& text, MeasurementUnit unit) {
    if (text.empty()) {
        return {};
    }
    constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
    const auto split = [](std::int64_t whole, const char* big, std::int64_t rest,
                          const char* small) {
        return std::to_string(whole) + ' ' + big + ' ' + std::to_string(rest) + ' ' + small;
    };
    const Id pid = obd::Uid2Pid(uid);
    if (pid == Id::TimeRunWithMilOn || pid == Id::TimeSinceCodesCleared) {
        const Reading minutes = ReferenceRead(text, kInt32Min, kInt32Max);
        if (minutes.outcome != ReadOutcome::kNumber) {
            return {minutes.outcome, std::string()};
        }
        return {ReadOutcome::kNumber,
                split(minutes.number / 60, "hrs", minutes.number % 60, "min")};
    }
    if (pid == Id::RunTimeSinceEngineStart) {
        const Reading seconds = ReferenceRead(text, kInt32Min, kInt32Max);
        if (seconds.outcome != ReadOutcome::kNumber) {
            return {seconds.outcome, std::string()};
        }
        return {ReadOutcome::kNumber, split(seconds.number / 60, "min", seconds.number % 60, "s")};
    }
    if (pid == Id::EngineRunTime) {
        const Reading seconds = ReferenceRead(text, kInt64Min, kInt64Max);
        if (seconds.outcome != ReadOutcome::kNumber) {
            return {seconds.outcome, std::string()};
        }
        const std::int64_t minutes = seconds.number / 60;
        return {ReadOutcome::kNumber, split(minutes / 60, "hrs", minutes % 60, "min")};
    }
    if (unit == MeasurementUnit::None) {
        return {ReadOutcome::kNumber, text};
    }
    return {ReadOutcome::kNumber, text + ' ' + zelt::ConvertMeasurementUnitToString(unit)};
}

constexpr Id kTimeParameters[] = {Id::RunTimeSinceEngineStart, Id::TimeRunWithMilOn,
                                  Id::TimeSinceCodesCleared, Id::EngineRunTime};

std::int32_t ConsumeUid(FuzzedDataProvider& input) {
    const auto choice = input.ConsumeIntegral<std::uint8_t>();
    switch (choice % 4) {
        case 0:
        case 1:  // a sensor of a time parameter
            return obd::Pid2Uid(kTimeParameters[(choice / 4) % 4]) +
                   input.ConsumeIntegral<std::uint8_t>();
        case 2: {  // a sensor of any parameter
            const auto pid = static_cast<Id>(input.ConsumeIntegral<std::uint8_t>());
            return obd::Pid2Uid(pid) + input.ConsumeIntegral<std::uint8_t>();
        }
        default:  // any uid, negative ones too
            return input.ConsumeIntegral<std::int32_t>();
    }
}

MeasurementUnit ConsumeUnit(FuzzedDataProvider& input) {
    const auto choice = input.ConsumeIntegral<std::uint8_t>();
    if (choice < 224) {
        return static_cast<MeasurementUnit>(choice % 72);  // the named ones and a few more
    }
    return static_cast<MeasurementUnit>(input.ConsumeIntegral<std::int32_t>());
}

std::shared_ptr<obd::SensorDataModel> ConsumeSensor(FuzzedDataProvider& input) {
    auto sensor = std::make_shared<obd::SensorDataModel>();
    sensor->uid = ConsumeUid(input);
    sensor->unit = ConsumeUnit(input);
    const bool hasValue = input.ConsumeBool();
    if (input.ConsumeBool()) {
        sensor->limits = std::make_shared<obd::SensorLimitsDataModel>();
        sensor->limits->minimum = input.ConsumeFloatingPoint<float>();
        sensor->limits->maximum = input.ConsumeFloatingPoint<float>();
    }
    sensor->name = input.ConsumeRandomLengthString(kMaxTextLength);
    if (hasValue) {
        sensor->value = std::make_shared<obd::SensorValueDataModel>();
        sensor->value->value = input.ConsumeRandomLengthString(kMaxTextLength);
        sensor->value->lowest = input.ConsumeRandomLengthString(kMaxTextLength);
        sensor->value->highest = input.ConsumeRandomLengthString(kMaxTextLength);
        sensor->value->average = input.ConsumeRandomLengthString(kMaxTextLength);
    }
    return sensor;
}

bool IsPrimary(std::int32_t uid) {
    for (const Id pid : {Id::EngineCoolantTemperature, Id::EngineSpeed, Id::VehicleSpeed,
                         Id::IntakeAirTemperature}) {
        if (uid == obd::Pid2Uid(pid)) {
            return true;
        }
    }
    return false;
}

bool SameFloat(float a, float b) {
    return a == b || (a != a && b != b);  // NaN limits are handed on as NaN
}

// The outcome the builder must have for `data`: the first text that cannot be
// read decides the exception, otherwise the four display texts.
struct SensorExpectation {
    ReadOutcome outcome = ReadOutcome::kNumber;
    std::vector<std::string> texts;
};

SensorExpectation Expect(const obd::SensorDataModel& data) {
    SensorExpectation expected;
    if (data.value == nullptr) {
        return expected;
    }
    for (const std::string* text :
         {&data.value->value, &data.value->lowest, &data.value->highest, &data.value->average}) {
        Expected one = ExpectedText(data.uid, *text, data.unit);
        if (one.outcome != ReadOutcome::kNumber) {
            expected.outcome = one.outcome;
            return expected;
        }
        expected.texts.push_back(std::move(one.text));
    }
    return expected;
}

void CheckSensor(const std::shared_ptr<zelt::SensorModel>& built, const obd::SensorDataModel& data,
                 const SensorExpectation& expected) {
    Check(built != nullptr, "SensorModelBuilder::build returned null");
    Check(built->uid == data.uid, "uid not copied");
    Check(built->name == data.name, "name not copied", built->name);
    Check(built->unit == data.unit, "unit not copied");
    Check(built->additional == !IsPrimary(data.uid), "wrong additional flag");
    Check((built->limits == nullptr) == (data.limits == nullptr), "limits presence differs");
    if (data.limits != nullptr) {
        Check(SameFloat(built->limits->minimum, data.limits->minimum) &&
                  SameFloat(built->limits->maximum, data.limits->maximum),
              "limits not copied");
    }
    Check((built->value == nullptr) == (data.value == nullptr), "value presence differs");
    if (data.value == nullptr) {
        return;
    }
    const zelt::SensorValueModel& value = *built->value;
    Check(value.rawValue == data.value->value, "raw value not copied", value.rawValue);
    const std::string* formatted[] = {&value.formattedValue, &value.formattedValue2,
                                      &value.formattedValue3, &value.formattedValue4};
    for (std::size_t index = 0; index < 4; ++index) {
        Check(*formatted[index] == expected.texts[index], "formatted value differs",
              *formatted[index] + "\" expected \"" + expected.texts[index]);
    }
}

std::string FirstText(const obd::SensorDataModel& data) {
    return data.value == nullptr ? std::string() : data.value->value;
}

bool AnyLimits(const obd::ParameterDataModel& parameter) {
    for (const auto& sensor : parameter.sensors) {
        if (sensor->limits != nullptr) {
            return true;
        }
    }
    return false;
}

// Runs `build` and checks that it throws exactly when `expected` says so, and
// which exception. Any exception other than these two leaves the function and
// ends the run as a crash. Returns whether `build` returned.
template <typename Build>
bool ExpectOutcome(ReadOutcome expected, const std::string& text, Build&& build) {
    try {
        build();
    } catch (const std::invalid_argument&) {
        Check(expected == ReadOutcome::kInvalid, "std::invalid_argument for a readable text", text);
        return false;
    } catch (const std::out_of_range&) {
        Check(expected == ReadOutcome::kOutOfRange, "std::out_of_range for a text in range", text);
        return false;
    }
    Check(expected == ReadOutcome::kNumber, "a value text that cannot be read was accepted", text);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider input(bytes, size);

    auto parameter = std::make_shared<obd::ParameterDataModel>();
    parameter->pid = static_cast<Id>(input.ConsumeIntegral<std::uint8_t>());
    const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, kMaxSensors);
    // The parameter fails like its first sensor that fails.
    ReadOutcome parameterOutcome = ReadOutcome::kNumber;
    std::string parameterText;
    std::vector<std::shared_ptr<zelt::SensorModel>> built;
    for (std::size_t index = 0; index < count && input.remaining_bytes() > 0; ++index) {
        const std::shared_ptr<obd::SensorDataModel> data = ConsumeSensor(input);
        parameter->sensors.push_back(data);
        const SensorExpectation expected = Expect(*data);
        if (parameterOutcome == ReadOutcome::kNumber) {
            parameterOutcome = expected.outcome;
            parameterText = FirstText(*data);
        }
        std::shared_ptr<zelt::SensorModel> sensor;
        if (ExpectOutcome(expected.outcome, FirstText(*data),
                          [&] { sensor = zelt::SensorModelBuilder::build(data); })) {
            CheckSensor(sensor, *data, expected);
            built.push_back(std::move(sensor));
        }
    }
    parameter->name = input.ConsumeRemainingBytesAsString();

    std::shared_ptr<zelt::ParameterModel> model;
    if (ExpectOutcome(parameterOutcome, parameterText,
                      [&] { model = zelt::ParameterModelBuilder::build(parameter); })) {
        Check(model != nullptr, "ParameterModelBuilder::build returned null");
        Check(model->pid == parameter->pid, "pid not copied");
        Check(model->name == parameter->name, "parameter name not copied", model->name);
        Check(model->sensors.size() == parameter->sensors.size(), "sensor count differs");
        for (std::size_t index = 0; index < model->sensors.size(); ++index) {
            CheckSensor(model->sensors[index], *parameter->sensors[index],
                        Expect(*parameter->sensors[index]));
        }
        Check(zelt::IsNumeric(model) == AnyLimits(*parameter),
              "IsNumeric of the parameter differs from its sensors' limits");

        // The records built one by one, assembled: shared, not copied.
        const std::shared_ptr<zelt::ParameterModel> assembled =
            zelt::ParameterModelBuilder::build(parameter->pid, parameter->name, built);
        Check(assembled != nullptr && assembled->sensors == built,
              "ParameterModelBuilder::build did not share the sensor records");
    }
    return 0;
}
