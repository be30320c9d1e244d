// The serial transport: a USB or Bluetooth ELM327 adapter on a serial port
// (or a pseudo-terminal). receive() waits for the port and the wake-up
// together: poll() on POSIX, overlapped reads on Windows.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

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
#include "Wakeup.h"
#include "zelt/link/Transport.h"

namespace zelt::link {

namespace {

constexpr std::size_t kReadChunk = 4096;

#ifdef _WIN32

std::string SystemError(DWORD code) {
    return SystemErrorText(code, "error");
}

class SerialTransport : public ITransport {
public:
    explicit SerialTransport(HANDLE port)
        : port_(port),
          readDone_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          writeDone_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~SerialTransport() override {
        if (reading_) {
            ::CancelIo(port_);
            DWORD ignored = 0;
            ::GetOverlappedResult(port_, &read_, &ignored, TRUE);
        }
        ::CloseHandle(port_);
        ::CloseHandle(readDone_);
        ::CloseHandle(writeDone_);
    }
    SerialTransport(const SerialTransport&) = delete;
    SerialTransport& operator=(const SerialTransport&) = delete;

    bool send(const std::uint8_t* data, std::size_t size) override {
        std::size_t sent = 0;
        while (sent < size) {
            OVERLAPPED write{};
            write.hEvent = writeDone_;
            DWORD written = 0;
            if (!::WriteFile(port_, data + sent, static_cast<DWORD>(size - sent), nullptr,
                             &write) &&
                ::GetLastError() != ERROR_IO_PENDING) {
                return false;
            }
            if (!::GetOverlappedResult(port_, &write, &written, TRUE) || written == 0) {
                return false;
            }
            sent += written;
        }
        return true;
    }

    bool receive(std::vector<std::uint8_t>& data) override {
        data.clear();
        if (!reading_) {
            read_ = OVERLAPPED{};
            read_.hEvent = readDone_;
            if (!::ReadFile(port_, buffer_, sizeof buffer_, nullptr, &read_) &&
                ::GetLastError() != ERROR_IO_PENDING) {
                return false;  // unplugged, or broken
            }
            reading_ = true;
        }
        const HANDLE events[2] = {readDone_, wakeup_.event()};
        const DWORD which = ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0 + 1) {
            return true;  // woken; the read stays pending for the next call
        }
        if (which != WAIT_OBJECT_0) {
            return false;
        }
        reading_ = false;
        DWORD read = 0;
        if (!::GetOverlappedResult(port_, &read_, &read, FALSE)) {
            return false;
        }
        data.assign(buffer_, buffer_ + read);
        return true;
    }

    void wake() override { wakeup_.signal(); }

private:
    const HANDLE port_;
    const HANDLE readDone_;
    const HANDLE writeDone_;
    detail::Wakeup wakeup_;
    OVERLAPPED read_{};
    bool reading_ = false;  // read_ is in flight into buffer_
    std::uint8_t buffer_[kReadChunk];
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

class SerialTransport : public ITransport {
public:
    explicit SerialTransport(int fd) : fd_(fd) {}
    ~SerialTransport() override { ::close(fd_); }
    SerialTransport(const SerialTransport&) = delete;
    SerialTransport& operator=(const SerialTransport&) = delete;

    bool send(const std::uint8_t* data, std::size_t size) override {
        std::size_t sent = 0;
        while (sent < size) {
            const ssize_t n = ::write(fd_, data + sent, size - sent);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                // The port's output buffer is full: wait until it drains.
                pollfd writable{fd_, POLLOUT, 0};
                if (::poll(&writable, 1, 5000) <= 0) {
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

    bool receive(std::vector<std::uint8_t>& data) override {
        data.clear();
        pollfd ready[2] = {{fd_, POLLIN, 0}, {wakeup_.fd(), POLLIN, 0}};
        const int events = ::poll(ready, 2, -1);
        if (events < 0) {
            return errno == EINTR;
        }
        if (ready[1].revents != 0) {
            wakeup_.drain();
        }
        if (ready[0].revents == 0) {
            return true;  // woken
        }
        if ((ready[0].revents & POLLIN) == 0) {
            return false;  // hung up (unplugged, the other end of a pty closed) or broken
        }
        std::uint8_t buffer[kReadChunk];
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

    void wake() override { wakeup_.signal(); }

private:
    const int fd_;
    detail::Wakeup wakeup_;
};

#endif

}  // namespace

#ifdef _WIN32

std::unique_ptr<ITransport> OpenSerialTransport(const std::string& device, int baudRate) {
    // COM10 and above are reachable only through the device namespace; it
    // serves COM1 to COM9 as well.
    const std::string path = device.compare(0, 4, "\\\\.\\") == 0 ? device : "\\\\.\\" + device;
    const HANDLE port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
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
    // A read returns as soon as a byte is there; without bytes it ends empty
    // after a second and is issued again.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = 1000;
    timeouts.WriteTotalTimeoutConstant = 5000;
    if (!::SetCommTimeouts(port, &timeouts)) {
        throw std::runtime_error("cannot set up the serial port " + device + ": " +
                                 SystemError(::GetLastError()));
    }
    ::PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return link;
}

#else

std::unique_ptr<ITransport> OpenSerialTransport(const std::string& device, int baudRate) {
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

}  // namespace zelt::link
