// The builders and the unit name table, with the allocations each build makes.

#include <benchmark/benchmark.h>

#include <memory>

#include "AllocationCounter.h"
#include "zelt/MeasurementUnitNames.h"
#include "zelt/ModelBuilders.h"

namespace {

using obd::ParameterIdentifier::Id;

std::shared_ptr<obd::SensorDataModel> MakeSensor(Id pid, int index, const std::string& value,
                                                 MeasurementUnit unit) {
    auto sensor = std::make_shared<obd::SensorDataModel>();
    sensor->uid = obd::Pid2Uid(pid) + index;
    sensor->name = "Sensor";
    sensor->unit = unit;
    sensor->limits =
        std::make_shared<obd::SensorLimitsDataModel>(obd::SensorLimitsDataModel{0, 100});
    sensor->value = std::make_shared<obd::SensorValueDataModel>(
        obd::SensorValueDataModel{value, value, value, value, std::nullopt});
    return sensor;
}

// Reports the allocations per iteration as a counter next to the time.
template <typename Body>
void MeasureWithAllocations(benchmark::State& state, Body body) {
    const auto before = zelt::bench::AllocationCount();
    for (auto _ : state) {
        body();
    }
    state.counters["allocs/build"] =
        benchmark::Counter(static_cast<double>(zelt::bench::AllocationCount() - before) /
                           static_cast<double>(state.iterations()));
}

void BM_BuildSensor(benchmark::State& state, Id pid, std::string value, MeasurementUnit unit) {
    const auto sensor = MakeSensor(pid, 0, value, unit);
    MeasureWithAllocations(state, [&] {
        auto built = zelt::SensorModelBuilder::build(sensor);
        benchmark::DoNotOptimize(built.get());
    });
}
BENCHMARK_CAPTURE(BM_BuildSensor, Plain, Id::VehicleSpeed, "90",
                  MeasurementUnit::KilometersPerHour);
BENCHMARK_CAPTURE(BM_BuildSensor, RunTimeSinceStart_0x1F, Id::RunTimeSinceEngineStart, "3725",
                  MeasurementUnit::Second);
BENCHMARK_CAPTURE(BM_BuildSensor, TimeWithMilOn_0x4D, Id::TimeRunWithMilOn, "125",
                  MeasurementUnit::Minute);
BENCHMARK_CAPTURE(BM_BuildSensor, TimeSinceCleared_0x4E, Id::TimeSinceCodesCleared, "125",
                  MeasurementUnit::Minute);
BENCHMARK_CAPTURE(BM_BuildSensor, EngineRunTime_0x7F, Id::EngineRunTime, "3725",
                  MeasurementUnit::Second);

void BM_BuildParameter_FourSensors(benchmark::State& state) {
    auto parameter = std::make_shared<obd::ParameterDataModel>();
    parameter->pid = Id::OxygenSensor1;
    parameter->name = "Oxygen Sensor 1";
    for (int i = 0; i < 4; ++i) {
        parameter->sensors.push_back(
            MakeSensor(Id::OxygenSensor1, i, "0.45", MeasurementUnit::Volt));
    }
    MeasureWithAllocations(state, [&] {
        auto built = zelt::ParameterModelBuilder::build(parameter);
        benchmark::DoNotOptimize(built.get());
    });
}
BENCHMARK(BM_BuildParameter_FourSensors);

void BM_ConvertMeasurementUnitToString(benchmark::State& state) {
    int unit = 0;
    for (auto _ : state) {
        auto text = zelt::ConvertMeasurementUnitToString(static_cast<MeasurementUnit>(unit));
        benchmark::DoNotOptimize(text.data());
        unit = (unit + 1) % 66;
    }
}
BENCHMARK(BM_ConvertMeasurementUnitToString);

}  // namespace
