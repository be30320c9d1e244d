#pragma once

// zelt-scan's --publish: the options, and the readings and the report handed
// to zelt_publish's publisher. The publisher knows nothing of readings; this
// file decides what goes on which topic.

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>
#include <string>

#include "nlohmann/json.hpp"
#include "zelt/app/Session.h"

namespace zelt::scan {

struct PublishOptions {
    std::string url;
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    std::string clientId;
    std::string spool;
    std::string spoolLimit;
};

// Registers --publish and the options that go with it. In a build without
// the publisher it registers none.
void AddPublishOptions(CLI::App& app, PublishOptions& options);

// A run's publishing: readings on TOPIC, the report on TOPIC/report, the
// status on TOPIC/status.
class Publishing {
public:
    // Null when --publish was not given. Checks the options and the files
    // they name before anything is sent: throws UsageError for a malformed
    // address, an unreadable file or a bad spool limit, std::runtime_error
    // for a spool directory that cannot be used.
    static std::unique_ptr<Publishing> Prepare(const PublishOptions& options);
    virtual ~Publishing() = default;

    // Connects as the client id given or derived from the VIN; throws
    // std::runtime_error when the broker refused the login. An unreachable
    // broker is no error: messages wait for it.
    virtual void connect(app::Session& session) = 0;
    // A stream whose lines are published, one message each, on TOPIC, and
    // written to `echo` as well.
    virtual std::ostream& readings(std::ostream& echo) = 0;
    virtual void publishReport(const nlohmann::ordered_json& report) = 0;
    // Flushes for a bounded time and disconnects; says on stderr what was
    // left queued or dropped. Returns 1 when messages were lost, else 0.
    virtual int finish() = 0;
};

}  // namespace zelt::scan
