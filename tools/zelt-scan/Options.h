#pragma once

// zelt-scan's option values and its modes: each mode (modes/) adds its
// options, states its rules and runs.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "Publishing.h"

namespace zelt::scan {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

// Every value is kept as typed and checked after parsing, so that each
// option refuses an empty value, a sign or a number out of range alike.
struct Options {
    // What every mode that talks to a vehicle shares (Vehicle.cpp).
    std::string scenario;
    bool json = false;
    std::string profile;
    std::string units = "metric";
    std::string ecu;
    std::string log;
    std::string adapter;
    bool trace = false;
    std::string record;
    bool anonymise = false;
    std::vector<std::string> masked;  // --record-mask
    std::string protocol = "auto";
    std::string timeout;
    PublishOptions publish;
    // modes/Watch.cpp
    std::string watch;
    bool csv = false;
    std::string interval = "1000";
    std::string count = "10";
    // modes/Clear.cpp
    bool clearCodes = false;
    bool yes = false;
    // modes/Raw.cpp
    std::string raw;
    // modes/Serve.cpp
    std::string serve;
    bool allowClear = false;
    // modes/Discover.cpp
    bool discover = false;
};

// One way of running zelt-scan.
struct Mode {
    // Registers the mode's options, with the options each needs or
    // excludes (CLI11 refuses those while parsing). Null: none.
    void (*addOptions)(CLI::App& app, Options& options);
    // The mode's rules that parsing cannot state (a confirmation a change
    // needs, options that exclude each other only in some builds): throws
    // UsageError. Called for every mode after parsing, before anything is
    // read. Null: none.
    void (*check)(const Options& options);
    // Whether the options ask for this mode.
    bool (*chosen)(const Options& options);
    // Runs the mode; returns the exit code. Throws UsageError (and the
    // library's input errors) for values it refuses, before anything is
    // sent.
    int (*run)(const Options& options);
};

// In the order --help lists their options; each mode's options may need or
// exclude those of the modes before it.
extern const Mode kWatchMode;
extern const Mode kClearMode;
extern const Mode kRawMode;
extern const Mode kServeMode;  // a mode that refuses nothing and is never chosen where not built
extern const Mode kDiscoverMode;
extern const Mode kScanMode;  // chosen when no other is

}  // namespace zelt::scan
