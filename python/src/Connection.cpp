#include "Connection.h"

#include <chrono>
#include <cmath>

#include "Errors.h"
#include "zelt/app/AdapterStatus.h"

namespace zelt::python {

namespace {

// As zelt-scan allows: a millisecond to a minute per request.
constexpr double kMinTimeoutSeconds = 0.001;
constexpr double kMaxTimeoutSeconds = 60;

std::chrono::milliseconds TimeoutOf(double seconds) {
    if (!std::isfinite(seconds) || seconds < kMinTimeoutSeconds || seconds > kMaxTimeoutSeconds) {
        throw BadInput("invalid timeout " + std::to_string(seconds) +
                       ": give the seconds a request may take, from 0.001 to 60");
    }
    return std::chrono::milliseconds(std::lround(seconds * 1000));
}

// The message with what the user can do about it, as zelt-scan says it.
std::string WithAdvice(const std::string& message) {
    const std::string advice = app::AdapterAdvice(message);
    return advice.empty() ? message : message + "; " + advice;
}

}  // namespace

std::shared_ptr<Connection> Connection::Simulate(const std::optional<std::string>& path) {
    const obd::sim::Scenario scenario =
        path ? obd::sim::Scenario::loadFile(*path) : obd::sim::Scenario::builtIn();
    std::unique_ptr<app::Session> session;
    try {
        session = std::make_unique<app::Session>(scenario);
    } catch (const std::runtime_error& error) {
        throw ConnectionFailed(error.what());
    }
    return std::make_shared<Connection>(std::move(session), scenario.name(),
                                        std::vector<std::string>(), false);
}

std::shared_ptr<Connection> Connection::Connect(const AdapterOptions& options) {
    app::AdapterSettings settings;
    const auto protocol = obd::elm327::AdapterQuorvix::parseProtocol(options.protocol);
    if (!protocol) {
        throw BadInput("invalid protocol '" + options.protocol +
                       "': give None or 'auto', or an ELM327 protocol number from 1 to 9");
    }
    settings.protocol = *protocol;
    if (options.timeoutSeconds) {
        settings.timeout = TimeoutOf(*options.timeoutSeconds);
    }
    // Told while the session opens, on this thread.
    std::vector<std::string> notices;
    settings.notice = [&notices](const std::string& notice) { notices.push_back(notice); };
    std::unique_ptr<app::Session> session;
    try {
        session = std::make_unique<app::Session>(options.address, settings);
    } catch (const app::InputError&) {
        throw;  // a malformed address
    } catch (const std::runtime_error& error) {
        throw ConnectionFailed(WithAdvice(error.what()));
    }
    return std::make_shared<Connection>(std::move(session), options.address, std::move(notices),
                                        true);
}

Connection::Connection(std::unique_ptr<app::Session> session, std::string name,
                       std::vector<std::string> notices, bool overAdapter)
    : name_(std::move(name)),
      notices_(std::move(notices)),
      overAdapter_(overAdapter),
      session_(std::move(session)) {}

std::shared_ptr<app::Session> Connection::session() const {
    orvane::MutexLock lock(mutex_);
    if (!session_) {
        throw Error("the vehicle is closed");
    }
    return session_;
}

void Connection::close() {
    std::shared_ptr<app::Session> closing;
    {
        orvane::MutexLock lock(mutex_);
        closing.swap(session_);
    }
    // Unless a call still holds it, the connection closes here, without the
    // lock: closing waits for the adapter's link to end.
}

bool Connection::closed() const {
    orvane::MutexLock lock(mutex_);
    return !session_;
}

void Connection::ThrowIfAdapterGone(const app::Session& session) {
    const std::string gone = app::AdapterGone(session);
    if (!gone.empty()) {
        throw AdapterLost(WithAdvice(gone));
    }
}

}  // namespace zelt::python
