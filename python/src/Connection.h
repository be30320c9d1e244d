#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "orvane/Mutex.h"
#include "zelt/app/Session.h"

namespace zelt::python {

// The session behind one Python Vehicle (the scan's: a connection with the
// six repositories over it), shared with every repository object taken from
// that vehicle.
//
// Thread safety: every operation may be called from any thread, without the
// GIL. close() takes the session away from later calls; a call already
// running keeps it until it returns, and the connection closes when the last
// such call is done. Not copyable: it owns the session.
//
// Fork-safe: a child made by fork() has none of the session's threads, so in
// a child every call raises Error and closing (or dropping) the connection
// lets go of the session without waiting for them.
class Connection {
public:
    // How to reach a vehicle behind an adapter.
    struct AdapterOptions {
        std::string address;  // tcp://HOST:PORT, serial:DEVICE[:BAUD], ble://ADDRESS|NAME
        std::string protocol = "auto";
        std::optional<double> timeoutSeconds;
    };

    // Opens the simulated vehicle of the scenario file `path`, or the
    // built-in one. Throws BadInput for a scenario that does not load and
    // ConnectionFailed when the vehicle does not answer.
    static std::shared_ptr<Connection> Simulate(const std::optional<std::string>& path);
    // Opens the vehicle behind the adapter of `options`. Throws BadInput for
    // a malformed address, protocol or timeout, ConnectionFailed when the
    // adapter or the vehicle does not answer.
    static std::shared_ptr<Connection> Connect(const AdapterOptions& options);

    // `name` says what was opened: the scenario's name, or the adapter's
    // address.
    Connection(std::unique_ptr<app::Session> session, std::string name,
               std::vector<std::string> notices, bool overAdapter);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The open session. Throws Error when the vehicle was closed.
    std::shared_ptr<app::Session> session() const;

    // Runs `read` on the session and returns what it returns. Throws
    // AdapterLost, with the reason and what to do about it, when the adapter
    // went during the call or before.
    template <typename Read>
    auto read(Read&& read) const {
        const auto opened = session();
        if constexpr (std::is_void_v<decltype(read(*opened))>) {
            read(*opened);
            ThrowIfAdapterGone(*opened);
        } else {
            auto result = read(*opened);
            ThrowIfAdapterGone(*opened);
            return result;
        }
    }

    // Runs `read` as read() does with the ECU at `address` selected for it
    // alone: the vehicle's selection is restored after. Such reads, and
    // select(), take turns, so that threads that each give their ECU read
    // their own. Throws BadInput when no ECU at `address` answered.
    template <typename Read>
    auto readAt(std::int64_t address, Read&& read) const {
        orvane::MutexLock lock(selection_);
        return this->read([&](app::Session& session) {
            const Reselect restore(session, Checked(session, address));
            return read(session);
        });
    }

    // Makes the ECU at `address` the vehicle's selection, for every thread.
    // Throws BadInput when no ECU at `address` answered.
    void select(std::int64_t address) const;

    // Closes the connection (see the class comment); closing twice is
    // harmless.
    void close();
    bool closed() const;

    // What the user should know of how the adapter was reached (the serial
    // rate found, the protocol that answered after a failed search).
    const std::vector<std::string>& notices() const { return notices_; }
    const std::string& name() const { return name_; }
    bool overAdapter() const { return overAdapter_; }

private:
    // Selects an ECU for the life of the object, then gives the selection
    // back, also when the read raised.
    class Reselect {
    public:
        Reselect(app::Session& session, std::uint32_t address)
            : session_(session), previous_(session.selectedEcu()) {
            session_.selectEcu(address);
        }
        ~Reselect() { session_.selectEcu(previous_); }
        Reselect(const Reselect&) = delete;
        Reselect& operator=(const Reselect&) = delete;

    private:
        app::Session& session_;
        const std::uint32_t previous_;
    };

    static void ThrowIfAdapterGone(const app::Session& session);
    // `address` when an ECU at it answered; throws BadInput otherwise.
    static std::uint32_t Checked(const app::Session& session, std::int64_t address);

    // True in the process that opened the connection, false in a child of it.
    bool inOpeningProcess() const;
    // In a child: forgets the session without destroying it, which would
    // wait for threads the child does not have.
    void abandonInChild() ORVANE_NO_THREAD_SAFETY_ANALYSIS;

    // Constant after construction.
    const long openedBy_;  // the process id
    const std::string name_;
    const std::vector<std::string> notices_;
    const bool overAdapter_;

    mutable orvane::Mutex mutex_;
    std::shared_ptr<app::Session> session_ ORVANE_GUARDED_BY(mutex_);
    // Held by a read at one ECU and by select(), while the selection is
    // theirs.
    mutable orvane::Mutex selection_;
};

// "0x7E8, 0x7E9".
std::string EcuList(const std::vector<std::uint32_t>& addresses);

}  // namespace zelt::python
