#include "Publishing.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <streambuf>

#include "OptionValues.h"
#include "zelt/app/JsonReport.h"
#include "zelt/publish/Publisher.h"

namespace zelt::scan {

// The command line is an application of the application library.
using namespace app;  // NOLINT(google-build-using-namespace)

namespace {

using publish::Publisher;

// How long the end of a run (or Ctrl-C) waits for the broker to take what
// is queued.
constexpr auto kFlushTime = std::chrono::seconds(5);
// How long the start waits for the broker's answer to the login before the
// run goes on with messages queued.
constexpr auto kConnectTime = std::chrono::seconds(3);
constexpr long long kDefaultSpoolLimit = 4LL << 20U;
constexpr long long kMinSpoolLimit = 1LL << 10U;
constexpr long long kMaxSpoolLimit = 1LL << 30U;

// Credentials kept out of process lists; the address's own take precedence.
constexpr const char* kUserVariable = "ZELT_MQTT_USERNAME";
constexpr const char* kPasswordVariable = "ZELT_MQTT_PASSWORD";

void Warn(const std::string& message) {
    std::cerr << "zelt-scan: warning: " << message << '\n';
}

// Publishes each complete line written to it, and passes everything on to
// `echo`.
class LinePublisher : public std::streambuf {
public:
    LinePublisher(Publisher& publisher, std::string topic, std::ostream& echo)
        : publisher_(publisher), topic_(std::move(topic)), echo_(echo) {}

protected:
    std::streamsize xsputn(const char* text, std::streamsize size) override {
        for (std::streamsize i = 0; i < size; ++i) {
            if (text[i] == '\n') {
                publisher_.publish(topic_, std::move(line_));
                line_.clear();
            } else {
                line_ += text[i];
            }
        }
        return echo_.rdbuf()->sputn(text, size);
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }
    int sync() override { return echo_.rdbuf()->pubsync(); }

private:
    Publisher& publisher_;
    const std::string topic_;
    std::ostream& echo_;
    std::string line_;
};

class MqttPublishing : public Publishing {
public:
    MqttPublishing(publish::PublisherSettings settings, bool clientIdGiven)
        : topic_(settings.broker.topic),
          spool_(settings.spoolDirectory),
          clientIdGiven_(clientIdGiven),
          settings_(std::move(settings)) {}

    void connect(Session& session) override {
        if (!clientIdGiven_) {
            const auto vin = session.ecu().getIdentificationNumber(false);
            // One per process: two runs for one vehicle must not take each
            // other's session over.
            settings_.clientId =
                (vin && !vin->empty() ? "zelt-" + *vin : std::string("zelt-scan")) + "-" +
                std::to_string(::getpid());
        }
        publisher_ = std::make_unique<Publisher>(settings_);
        try {
            publisher_->connect(kConnectTime);
        } catch (const publish::LoginRefused& refused) {
            throw std::runtime_error(refused.what());
        }
    }

    std::ostream& readings(std::ostream& echo) override {
        lines_ = std::make_unique<LinePublisher>(*publisher_, topic_, echo);
        stream_ = std::make_unique<std::ostream>(lines_.get());
        return *stream_;
    }

    void publishReport(const nlohmann::ordered_json& report) override {
        std::ostringstream text;
        WriteJson(report, text, -1);
        publisher_->publish(topic_ + "/report", text.str());
    }

    int finish() override {
        const Publisher::Outcome outcome = publisher_->close(kFlushTime);
        int code = 0;
        if (outcome.dropped > 0) {
            std::cerr << "zelt-scan: error: " << outcome.dropped
                      << " messages were dropped because the spool was full (--spool-limit) or "
                         "they could not be sent\n";
            code = 1;
        }
        if (outcome.unwritten > 0) {
            std::cerr << "zelt-scan: error: " << outcome.unwritten
                      << " messages could not be written to the spool: " << outcome.diskError
                      << '\n';
            code = 1;
        }
        const std::size_t onDisk = outcome.leftQueued - outcome.leftNotOnDisk;
        if (onDisk > 0) {
            Warn(std::to_string(onDisk) + " messages left queued in '" + spool_ +
                 "' for the next run");
        }
        if (outcome.leftNotOnDisk > 0) {
            std::cerr << "zelt-scan: error: " << outcome.leftNotOnDisk
                      << " messages left queued were lost: the broker did not take them in time "
                      << (spool_.empty() ? "(give --spool DIR to keep them for the next run)"
                                         : "and they are not on the disk")
                      << '\n';
            code = 1;
        }
        return code;
    }

private:
    const std::string topic_;
    const std::string spool_;
    const bool clientIdGiven_;
    publish::PublisherSettings settings_;
    std::unique_ptr<Publisher> publisher_;
    std::unique_ptr<LinePublisher> lines_;
    std::unique_ptr<std::ostream> stream_;
};

std::string FromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

void AddPublishOptions(CLI::App& app, PublishOptions& options) {
    auto* publish =
        app.add_option("--publish", options.url,
                       "Publish to an MQTT broker: mqtt[s]://[USER:PASSWORD@]HOST[:PORT]/TOPIC "
                       "(credentials also from ZELT_MQTT_USERNAME, ZELT_MQTT_PASSWORD)")
            ->type_name("URL");
    app.add_option("--ca-file", options.caFile,
                   "With --publish mqtts://: the CA certificates (PEM) that vouch for the broker")
        ->type_name("FILE")
        ->needs(publish);
    auto* cert = app.add_option("--cert", options.certFile,
                                "With --publish mqtts://: the client certificate (PEM)")
                     ->type_name("FILE")
                     ->needs(publish);
    auto* key = app.add_option("--key", options.keyFile,
                               "With --publish mqtts://: the client certificate's key (PEM)")
                    ->type_name("FILE")
                    ->needs(publish);
    cert->needs(key);
    key->needs(cert);
    app.add_option("--client-id", options.clientId,
                   "With --publish: the MQTT client id (zelt-VIN by default)")
        ->type_name("ID")
        ->needs(publish);
    app.add_option("--spool", options.spool,
                   "With --publish: keep unsent messages in DIR, for the next run too")
        ->type_name("DIR")
        ->needs(publish);
    app.add_option("--spool-limit", options.spoolLimit,
                   "With --publish: bytes the queue may hold (1024 to 1073741824; 4194304); the "
                   "oldest are dropped past it")
        ->type_name("BYTES")
        ->needs(publish);
    // Readings are published as JSON; a raw request is no reading.
    for (const char* other : {"--csv", "--raw"}) {
        if (auto* option = app.get_option_no_throw(other)) {
            publish->excludes(option);
        }
    }
}

std::unique_ptr<Publishing> Publishing::Prepare(const PublishOptions& options) {
    if (options.url.empty()) {
        return nullptr;
    }
    publish::PublisherSettings settings;
    try {
        settings.broker = publish::ParseBrokerAddress(options.url);
        if (!settings.broker.tls &&
            !(options.caFile.empty() && options.certFile.empty() && options.keyFile.empty())) {
            throw UsageError("--ca-file, --cert and --key need an mqtts:// address");
        }
        if (settings.broker.username.empty()) {
            settings.broker.username = FromEnvironment(kUserVariable);
        }
        if (settings.broker.password.empty()) {
            settings.broker.password = FromEnvironment(kPasswordVariable);
        }
        settings.clientId = options.clientId;
        settings.caFile = options.caFile;
        settings.certFile = options.certFile;
        settings.keyFile = options.keyFile;
        settings.statusTopic = settings.broker.topic + "/status";
        settings.spoolDirectory = options.spool;
        settings.spoolLimit = static_cast<std::size_t>(
            options.spoolLimit.empty() ? kDefaultSpoolLimit
                                       : ParseDecimal("--spool-limit", options.spoolLimit,
                                                      kMinSpoolLimit, kMaxSpoolLimit));
        settings.notice = Warn;
        // Checks the files and the spool now, before the vehicle is asked
        // (without taking the spool over: its drops are the run's to count).
        publish::Publisher::Check(settings);
    } catch (const publish::SettingsError& error) {
        throw UsageError(error.what());
    }
    return std::make_unique<MqttPublishing>(std::move(settings), !options.clientId.empty());
}

}  // namespace zelt::scan
