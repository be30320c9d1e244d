// zelt-bench's entry point.
//
// libstdc++ updates shared_ptr reference counts without atomic instructions
// while the process has never started a second thread. A repository lives in
// a multi-threaded application, and the thread benchmarks start threads
// anyway, so every figure would otherwise depend on whether a thread had been
// started before it ran. One thread started and joined up front makes all of
// them measure what an application pays.

#include <benchmark/benchmark.h>

#include <thread>

int main(int argc, char** argv) {
    std::thread([] {}).join();

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
