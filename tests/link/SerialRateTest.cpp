#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zelt/link/Address.h"
#include "zelt/link/Transport.h"

#ifdef __linux__
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#endif

namespace {

using zelt::link::Address;

// Without a rate the address asks for the adapter's to be found; with one
// it is used as given.
TEST(SerialRateTest, AddressWithoutRateAsksForDetection) {
    EXPECT_TRUE(Address::Parse("serial:/dev/ttyUSB0").detectBaudRate);
    EXPECT_FALSE(Address::Parse("serial:/dev/ttyUSB0:38400").detectBaudRate);
    EXPECT_EQ(zelt::link::ProbedBaudRates().front(), 38400);  // an ELM327's own
}

#ifdef __linux__

// An adapter on a pseudo-terminal that answers only when its client's port is
// set to `rate` (the slave's settings are read through the master); at any
// other rate it stays silent, as noise would be to us.
class AdapterAtRate {
public:
    explicit AdapterAtRate(speed_t rate) : rate_(rate) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return;
        }
        termios raw{};
        ::tcgetattr(master_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(master_, TCSANOW, &raw);
        device_ = ::ptsname(master_);
        thread_ = std::thread([this] { run(); });
    }
    ~AdapterAtRate() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(master_);
    }
    const std::string& device() const { return device_; }

private:
    void run() {
        while (!stop_) {
            pollfd ready{master_, POLLIN, 0};
            if (::poll(&ready, 1, 20) <= 0 || (ready.revents & POLLIN) == 0) {
                continue;
            }
            char buffer[64];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            termios settings{};
            if (n <= 0 || ::tcgetattr(master_, &settings) != 0 ||
                std::string(buffer, static_cast<std::size_t>(n)).find('\r') == std::string::npos) {
                continue;
            }
            if (::cfgetospeed(&settings) == rate_) {
                const std::string answer = "ATI\rELM327 v1.5\r\r>";
                (void)!::write(master_, answer.data(), answer.size());
            }
        }
    }

    const speed_t rate_;
    int master_ = -1;
    std::string device_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The rates are tried in turn until the adapter answers, and the one that
// answered is reported; an adapter at none of them is a clear error.
TEST(SerialRateTest, FindsTheRateTheAdapterAnswersAt) {
    AdapterAtRate adapter(B115200);
    int found = 0;
    zelt::link::TransportOptions options;
    options.probeTimeout = std::chrono::milliseconds(300);
    options.baudRateFound = [&](int rate) { found = rate; };
    const auto transport = zelt::link::OpenTransport("serial:" + adapter.device(), options);
    ASSERT_NE(transport, nullptr);
    EXPECT_EQ(found, 115200);

    AdapterAtRate deaf(B0);
    int rate = 0;
    try {
        zelt::link::OpenSerialTransportFindingRate(deaf.device(), std::chrono::milliseconds(100),
                                                   rate);
        ADD_FAILURE() << "found a rate";
    } catch (const std::runtime_error& error) {
        EXPECT_THAT(error.what(), ::testing::HasSubstr("at 38400, 9600, 115200, 57600"));
    }
}

#endif

}  // namespace
