#include "Dashboard.h"

#include <atomic>
#include <csignal>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>

#include "Assets.h"
#include "BoundedServer.h"
#include "Door.h"
#include "OptionValues.h"
#include "zelt/app/JsonReport.h"
#include "zelt/app/Printable.h"

namespace zelt::scan {

// The command line is an application of the application library.
using namespace app;  // NOLINT(google-build-using-namespace)

namespace {

// What viewers may cost, at most.
constexpr int kMaxStreams = 4;
constexpr std::size_t kMaxBodyBytes = 1024;
constexpr ServerBounds kBounds{
    8192 + kMaxBodyBytes,
    std::chrono::seconds(5),
    std::chrono::seconds(5),
    kMaxStreams + 4,  // the page and the API stay served
    16,
};
// A stream without news writes a comment this often, which finds a viewer
// that went away.
constexpr auto kHeartbeat = std::chrono::seconds(5);
constexpr auto kVehicleWait = std::chrono::seconds(60);
constexpr auto kStopPoll = std::chrono::milliseconds(100);

volatile std::sig_atomic_t stopRequested = 0;

void OnStop(int) {
    stopRequested = 1;
}

void SendJson(httplib::Response& response, const nlohmann::ordered_json& json, int status = 200) {
    std::ostringstream text;
    WriteJson(json, text, 2);
    response.status = status;
    response.set_content(text.str(), "application/json");
}

void SendError(httplib::Response& response, int status, const std::string& message) {
    SendJson(response, {{"error", message}}, status);
}

// Why the HTTP library refused a request, for its error body.
std::string LibraryRefusal(int status) {
    switch (status) {
        case 404:
            return "no such page";
        case 413:
            return "the body is over " + std::to_string(kMaxBodyBytes) + " bytes";
        case 414:
            return "the address is too long";
        default:
            return "a malformed request, or one over " + std::to_string(kBounds.maxRequestBytes) +
                   " bytes or " + std::to_string(kBounds.requestDeadline.count() / 1000) +
                   " seconds in all";
    }
}

// The units a request asks for with ?units= (metric when it names none).
std::optional<UnitSystem> UnitsOf(const httplib::Request& request) {
    const std::string units = request.get_param_value("units");
    try {
        return ParseUnitSystem(units.empty() ? "metric" : units);
    } catch (const InputError&) {
        return std::nullopt;
    }
}

// The reading a reconnecting EventSource saw last (its Last-Event-ID); 0,
// and so the whole history, for a new viewer.
int LastEventId(const httplib::Request& request) {
    const std::string id = request.get_header_value("Last-Event-ID");
    try {
        return static_cast<int>(ParseDecimal("Last-Event-ID", id, 0, 1000000000));
    } catch (const UsageError&) {
        return 0;
    }
}

std::string Event(const FeedReading& reading, const std::vector<Watched>& watched,
                  UnitSystem units) {
    std::ostringstream text;
    text << "id: " << reading.number << "\ndata: ";
    WriteJson(ReadingJson(reading.number, reading.time, watched, reading.values, units), text, -1);
    text << '\n';
    return text.str();
}

std::string Url(const ListenAddress& address) {
    const bool ipv6 = address.host.find(':') != std::string::npos;
    return "http://" + (ipv6 ? "[" + address.host + "]" : address.host) + ":" +
           std::to_string(address.port) + "/";
}

// The routes of the dashboard: the page's files and the API.
class Routes {
public:
    Routes(VehicleFeed& feed, const ServeSettings& settings, const Door& door)
        : feed_(feed), settings_(settings), door_(door) {}

    void install(httplib::Server& server) {
        server.set_pre_routing_handler([this](const auto& request, auto& response) {
            return admit(request, response) ? httplib::Server::HandlerResponse::Unhandled
                                            : httplib::Server::HandlerResponse::Handled;
        });
        server.Get("/api/report", [this](const auto& request, auto& response) {
            withUnits(request, response, [&](UnitSystem units) {
                SendJson(response, ToJson(*feed_.report(kVehicleWait), units));
            });
        });
        server.Get("/api/stream", [this](const auto& request, auto& response) {
            withUnits(request, response,
                      [&](UnitSystem units) { stream(request, response, units); });
        });
        server.Get("/api/readings.csv", [this](const auto& request, auto& response) {
            withUnits(request, response, [&](UnitSystem units) { csv(response, units); });
        });
        server.Get("/api/settings", [this](const auto&, auto& response) {
            nlohmann::ordered_json settings = {{"allowClear", settings_.allowClear},
                                               {"interval", settings_.feed.interval.count()},
                                               {"history", settings_.feed.history}};
            if (settings_.allowClear) {
                settings["clearToken"] = door_.clearToken();
            }
            SendJson(response, settings);
        });
        server.Post("/api/clear-codes",
                    [this](const auto& request, auto& response) { post(request, response); });
        // Nothing but the built-in files: a path is a key of their table,
        // never a file name.
        server.Get(R"(/[A-Za-z0-9_.\-]*)", [](const auto& request, auto& response) {
            const Asset* asset = FindAsset(request.path);
            if (asset == nullptr) {
                SendError(response, 404, "no such page");
                return;
            }
            response.set_content(reinterpret_cast<const char*>(asset->data), asset->size,
                                 ContentType(*asset));
        });
    }

private:
    // Whether the request goes on to its route; otherwise `response` holds
    // the refusal or, for a POST without a body, the answer.
    bool admit(const httplib::Request& request, httplib::Response& response) {
        if (!door_.admits(request.get_header_value("Host"))) {
            SendError(response, 403, "this server answers only to its own loopback address");
            return false;
        }
        if (request.has_header("Transfer-Encoding")) {
            SendError(response, 411,
                      "send a body with a Content-Length of at most " +
                          std::to_string(kMaxBodyBytes) + " bytes");
            return false;
        }
        if (request.method == "POST" && !request.has_header("Content-Length")) {
            // The library would wait for a body until the client closes;
            // no request here has one.
            post(request, response);
            return false;
        }
        return true;
    }

    void post(const httplib::Request& request, httplib::Response& response) {
        if (request.path != "/api/clear-codes") {
            SendError(response, 404, "no such page");
            return;
        }
        withUnits(request, response,
                  [&](UnitSystem units) { clearCodes(request, response, units); });
    }

    template <typename Handle>
    static void withUnits(const httplib::Request& request, httplib::Response& response,
                          const Handle& handle) {
        const auto units = UnitsOf(request);
        if (!units) {
            SendError(response, 400, "units must be metric or imperial");
            return;
        }
        handle(*units);
    }

    // Server-Sent Events: the readings the history holds, then each new one
    // as it is read, all from the one reader.
    void stream(const httplib::Request& request, httplib::Response& response, UnitSystem units) {
        if (streams_.fetch_add(1) >= kMaxStreams) {
            streams_.fetch_sub(1);
            response.set_header("Retry-After", "5");
            SendError(response, 503, "too many live streams; close another page first");
            return;
        }
        response.set_chunked_content_provider(
            "text/event-stream",
            [this, units, after = LastEventId(request)](std::size_t,
                                                        httplib::DataSink& sink) mutable {
                std::string events;
                for (const auto& reading :
                     feed_.readingsAfter(after, std::chrono::steady_clock::now() + kHeartbeat)) {
                    events += Event(*reading, feed_.watched(), units);
                    after = reading->number;
                }
                const std::string ended = feed_.ended();
                if (events.empty() && !ended.empty()) {
                    events = "event: end\ndata: " + nlohmann::json(ended).dump() + "\n\n";
                    const bool written = sink.write(events.data(), events.size());
                    sink.done();
                    return written;
                }
                if (events.empty()) {
                    events = ": waiting for the vehicle\n\n";
                }
                // False once the viewer went: the stream ends and its slot
                // is free.
                return sink.write(events.data(), events.size());
            },
            [this](bool) { streams_.fetch_sub(1); });
    }

    void csv(httplib::Response& response, UnitSystem units) {
        std::string text = CsvHeader(feed_.watched(), units);
        for (const auto& reading : feed_.readingsAfter(0, std::chrono::steady_clock::now())) {
            text += CsvRow(reading->number, reading->time, feed_.watched(), reading->values, units);
        }
        response.set_header("Content-Disposition", R"(attachment; filename="zelt-readings.csv")");
        response.set_content(text, "text/csv; charset=utf-8");
    }

    void clearCodes(const httplib::Request& request, httplib::Response& response,
                    UnitSystem units) {
        if (!settings_.allowClear) {
            SendError(response, 403,
                      "clearing the trouble codes is off; start zelt-scan --serve with "
                      "--allow-clear");
            return;
        }
        // A page elsewhere can neither send this header without asking
        // first (which it is not answered) nor know the token.
        if (!door_.sameOrigin(request.get_header_value("Origin"),
                              request.get_header_value("Host"))) {
            SendError(response, 403, "clearing the codes is for this server's own page");
            return;
        }
        const std::string confirmation = request.get_header_value("X-Zelt-Confirm");
        if (confirmation.empty()) {
            SendError(response, 400,
                      "confirm with the header X-Zelt-Confirm: the clearToken of /api/settings");
            return;
        }
        if (confirmation != door_.clearToken()) {
            SendError(response, 403, "X-Zelt-Confirm is not the clearToken of /api/settings");
            return;
        }
        const auto report = feed_.clearCodes(kVehicleWait);
        if (!report) {
            SendError(response, 503, "the vehicle did not answer: " + feed_.ended());
            return;
        }
        SendJson(response, ToJson(*report, units));
    }

    VehicleFeed& feed_;
    const ServeSettings& settings_;
    const Door& door_;
    std::atomic<int> streams_{0};
};

// Restores the previous handlers of Ctrl-C and SIGTERM on leaving.
class StopSignals {
public:
    StopSignals()
        : interrupt_(std::signal(SIGINT, OnStop)), terminate_(std::signal(SIGTERM, OnStop)) {
        stopRequested = 0;
    }
    ~StopSignals() {
        std::signal(SIGINT, interrupt_);
        std::signal(SIGTERM, terminate_);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    using Handler = void (*)(int);
    Handler interrupt_;
    Handler terminate_;
};

}  // namespace

ListenAddress ParseListenAddress(const std::string& text) {
    ListenAddress address;
    std::string port = text;
    const auto colon = text.rfind(':');
    if (colon != std::string::npos) {
        address.host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (address.host.size() > 2 && address.host.front() == '[' && address.host.back() == ']') {
            address.host = address.host.substr(1, address.host.size() - 2);
        }
        if (address.host.empty() || address.host.find_first_of("[]/ ") != std::string::npos) {
            throw UsageError("invalid --serve '" + text +
                             "': give [HOST:]PORT, e.g. 8080, 0.0.0.0:8080 or [::1]:8080");
        }
    }
    address.port = static_cast<int>(ParseDecimal("--serve port", port, 0, 65535));
    return address;
}

void ServeDashboard(Session& session, const ServeSettings& settings, std::ostream& out) {
    VehicleFeed feed(session, settings.feed);
    BoundedServer server(kBounds);
    // The library's default also sets SO_REUSEPORT, with which a second
    // server would share a port that is taken instead of being refused.
    server.set_socket_options([](socket_t socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_payload_max_length(kMaxBodyBytes);
    // Scripts only from here; the plots set inline styles.
    server.set_default_headers({{"Cache-Control", "no-store"},
                                {"X-Content-Type-Options", "nosniff"},
                                {"Referrer-Policy", "no-referrer"},
                                {"Content-Security-Policy",
                                 "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src "
                                 "'self' data:; frame-ancestors 'none'"}});
    server.set_exception_handler([](const auto&, auto& response, const std::exception_ptr& error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& exception) {
            SendError(response, 500, exception.what());
        } catch (...) {
            SendError(response, 500, "unexpected failure");
        }
    });
    // Bodies for the refusals the library makes itself.
    server.set_error_handler([](const auto&, auto& response) {
        if (response.body.empty()) {
            SendError(response, response.status, LibraryRefusal(response.status));
        }
    });

    ListenAddress bound = settings.address;
    const bool listening = bound.port == 0 ? (bound.port = server.bind_to_any_port(bound.host)) > 0
                                           : server.bind_to_port(bound.host, bound.port);
    if (!listening) {
        throw std::runtime_error("cannot listen at " + Url(settings.address) +
                                 ": the port is taken or the host is not this machine's");
    }
    const Door door(bound);
    Routes routes(feed, settings, door);
    routes.install(server);
    const StopSignals signals;
    std::atomic<bool> listenerDone{false};
    std::thread listener([&] {
        server.listen_after_bind();
        listenerDone = true;
    });
    out << "serving " << Url(bound) << std::endl;

    std::string ended;
    while (stopRequested == 0 && !listenerDone) {
        std::this_thread::sleep_for(kStopPoll);
        const std::string now = feed.ended();
        if (now != ended) {
            ended = now;
            std::cerr << "zelt-scan: warning: the live data stopped: " << Printable(ended)
                      << "; the dashboard keeps what was read\n";
        }
    }
    feed.stop();  // open streams end
    server.stopNow();
    listener.join();
}

}  // namespace zelt::scan
