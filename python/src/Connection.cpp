#include "Connection.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "Errors.h"
#include "zelt/app/AdapterStatus.h"
#include "zelt/app/Report.h"

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

long ProcessId() {
#ifdef _WIN32
    return 0;  // no fork()
#else
    return static_cast<long>(::getpid());
#endif
}

// The message with what the user can do about it, in this package's words:
// its settings are connect()'s arguments.
std::string WithAdvice(const std::string& message) {
    const std::string advice =
        app::AdapterAdvice(message, {"timeout (up to 60 seconds)", "protocol=1 to 9"});
    return advice.empty() ? message : message + "; " + advice;
}

}  // namespace

std::string EcuList(const std::vector<std::uint32_t>& addresses) {
    std::string list;
    for (auto address : addresses) {
        list += (list.empty() ? "" : ", ") + app::EcuAddressText(address);
    }
    return list;
}

std::uint32_t Connection::Checked(const app::Session& session, std::int64_t address) {
    const auto answering = session.ecuAddresses();
    const auto found = std::find(answering.begin(), answering.end(), address);
    if (found == answering.end()) {
        throw BadInput("no ECU " +
                       (address >= 0 && address <= 0xFFFFFFFF
                            ? app::EcuAddressText(static_cast<std::uint32_t>(address))
                            : std::to_string(address)) +
                       " answered; the ECUs that did: " + EcuList(answering));
    }
    return *found;
}

void Connection::select(std::int64_t address) const {
    orvane::MutexLock lock(selection_);
    read([&](app::Session& session) { session.selectEcu(Checked(session, address)); });
}

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
    : openedBy_(ProcessId()),
      name_(std::move(name)),
      notices_(std::move(notices)),
      overAdapter_(overAdapter),
      session_(std::move(session)) {}

Connection::~Connection() {
    if (!inOpeningProcess()) {
        abandonInChild();
    }
}

bool Connection::inOpeningProcess() const {
    return ProcessId() == openedBy_;
}

void Connection::abandonInChild() {
    // Not under mutex_: a thread of the parent may have held it at the fork,
    // and no other thread of this child knows the session.
    new std::shared_ptr<app::Session>(std::move(session_));  // NOLINT: left unfreed on purpose
}

std::shared_ptr<app::Session> Connection::session() const {
    if (!inOpeningProcess()) {
        throw Error(
            "this vehicle was opened by the parent process before a fork; open it anew "
            "in this process");
    }
    orvane::MutexLock lock(mutex_);
    if (!session_) {
        throw Error("the vehicle is closed");
    }
    return session_;
}

void Connection::close() {
    if (!inOpeningProcess()) {
        abandonInChild();
        return;
    }
    std::shared_ptr<app::Session> closing;
    {
        orvane::MutexLock lock(mutex_);
        closing.swap(session_);
    }
    // Unless a call still holds it, the connection closes here, without the
    // lock: closing waits for the adapter's link to end.
}

bool Connection::closed() const {
    if (!inOpeningProcess()) {
        return true;
    }
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
