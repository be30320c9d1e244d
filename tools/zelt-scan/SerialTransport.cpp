#include "SerialTransport.h"

#include <cstdint>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "SystemErrorText.h"

namespace zelt::scan {

namespace {

#ifdef _WIN32

std::string SystemError(DWORD code) {
    return SystemErrorText(code, "error");
}

class SerialTransport : public AdapterLink {
public:
    explicit SerialTransport(HANDLE port) : port_(port) {}
    ~SerialTransport() override { ::CloseHandle(port_); }
    SerialTransport(const SerialTransport&) = delete;
    SerialTransport& operator=(const SerialTransport&) = delete;

    bool send(const std::vector<std::uint8_t>& data) override {
        std::size_t sent = 0;
        while (sent < data.size()) {
            DWORD written = 0;
            if (!::WriteFile(port_, data.data() + sent, static_cast<DWORD>(data.size() - sent),
                             &written, nullptr) ||
                written == 0) {
                return false;
            }
            sent += written;
        }
        return true;
    }

    bool receive(std::vector<std::uint8_t>& data, int timeoutMilliseconds) override {
        data.clear();
        if (timeoutMilliseconds != timeout_) {
            // Return as soon as a byte is there, or after the timeout.
            COMMTIMEOUTS timeouts{};
            timeouts.ReadIntervalTimeout = MAXDWORD;
            timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
            timeouts.ReadTotalTimeoutConstant =
                static_cast<DWORD>(timeoutMilliseconds > 0 ? timeoutMilliseconds : 1);
            timeouts.WriteTotalTimeoutConstant = 5000;
            if (!::SetCommTimeouts(port_, &timeouts)) {
                return false;
            }
            timeout_ = timeoutMilliseconds;
        }
        std::uint8_t buffer[4096];
        DWORD read = 0;
        if (!::ReadFile(port_, buffer, sizeof buffer, &read, nullptr)) {
            return false;  // unplugged, or broken
        }
        data.assign(buffer, buffer + read);
        return true;
    }

private:
    const HANDLE port_;
    int timeout_ = -1;  // the read timeout the port is set to; -1 before the first read
};

#else

speed_t Speed(int baudRate) {
    switch (baudRate) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
#ifdef B230400
        case 230400:
            return B230400;
#endif
#ifdef B500000
        case 500000:
            return B500000;
#endif
        default:
            return B0;
    }
}

class SerialTransport : public AdapterLink {
public:
    explicit SerialTransport(int fd) : fd_(fd) {}
    ~SerialTransport() override { ::close(fd_); }
    SerialTransport(const SerialTransport&) = delete;
    SerialTransport& operator=(const SerialTransport&) = delete;

    bool send(const std::vector<std::uint8_t>& data) override {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const ssize_t n = ::write(fd_, data.data() + sent, data.size() - sent);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                // The port's output buffer is full: wait until it drains.
                pollfd writable{fd_, POLLOUT, 0};
                if (::poll(&writable, 1, 1000) <= 0) {
                    return false;
                }
                continue;
            }
            if (n <= 0) {
                return false;
            }
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool receive(std::vector<std::uint8_t>& data, int timeoutMilliseconds) override {
        data.clear();
        pollfd ready{fd_, POLLIN, 0};
        const int events = ::poll(&ready, 1, timeoutMilliseconds);
        if (events < 0) {
            return errno == EINTR;
        }
        if (events == 0) {
            return true;
        }
        if ((ready.revents & POLLIN) == 0) {
            return false;  // hung up (unplugged, the other end of a pty closed) or broken
        }
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            return true;
        }
        if (n <= 0) {
            return false;  // readable yet empty: the port hung up
        }
        data.assign(buffer, buffer + n);
        return true;
    }

private:
    const int fd_;
};

#endif

}  // namespace

std::vector<int> SupportedBaudRates() {
    std::vector<int> rates{9600, 19200, 38400, 57600, 115200};
#if defined(_WIN32) || defined(B230400)
    rates.push_back(230400);
#endif
#if defined(_WIN32) || defined(B500000)
    rates.push_back(500000);
#endif
    return rates;
}

#ifdef _WIN32

std::unique_ptr<AdapterLink> OpenSerialTransport(const std::string& device, int baudRate) {
    // COM10 and above are reachable only through the device namespace; it
    // serves COM1 to COM9 as well.
    const std::string path = device.compare(0, 4, "\\\\.\\") == 0 ? device : "\\\\.\\" + device;
    const HANDLE port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot open the serial port " + device + ": " +
                                 SystemError(::GetLastError()));
    }
    auto link = std::make_unique<SerialTransport>(port);
    DCB settings{};
    settings.DCBlength = sizeof settings;
    if (!::GetCommState(port, &settings)) {
        throw std::runtime_error("cannot set up the serial port " + device + ": " +
                                 SystemError(::GetLastError()));
    }
    settings.BaudRate = static_cast<DWORD>(baudRate);
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fBinary = TRUE;
    settings.fParity = FALSE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDtrControl = DTR_CONTROL_ENABLE;
    settings.fRtsControl = RTS_CONTROL_ENABLE;
    settings.fDsrSensitivity = FALSE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fNull = FALSE;
    settings.fAbortOnError = FALSE;
    if (!::SetCommState(port, &settings)) {
        throw std::runtime_error("cannot set the serial port " + device + " to " +
                                 std::to_string(baudRate) +
                                 " baud: " + SystemError(::GetLastError()));
    }
    ::PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return link;
}

#else

std::unique_ptr<AdapterLink> OpenSerialTransport(const std::string& device, int baudRate) {
    const speed_t speed = Speed(baudRate);
    if (speed == B0) {
        throw std::runtime_error("unsupported baud rate " + std::to_string(baudRate));
    }
    // Non-blocking so that a port waiting for a carrier does not hang the
    // open; no controlling terminal, so that the port cannot signal us.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot open the serial port " + device + ": " +
                                 std::strerror(errno));
    }
    auto link = std::make_unique<SerialTransport>(fd);
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        throw std::runtime_error("cannot set up the serial port " + device + ": " +
                                 std::strerror(errno));
    }
    // Raw bytes: no echo, no line editing, no CR/LF translation, no signals;
    // the adapter's "\r" and ">" must arrive exactly as sent.
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CSIZE);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
#ifdef CRTSCTS
    settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0 ||
        ::tcsetattr(fd, TCSANOW, &settings) != 0) {
        throw std::runtime_error("cannot set the serial port " + device + " to " +
                                 std::to_string(baudRate) + " baud: " + std::strerror(errno));
    }
    // What the adapter printed before we came is not an answer to us.
    ::tcflush(fd, TCIOFLUSH);
    return link;
}

#endif

}  // namespace zelt::scan
