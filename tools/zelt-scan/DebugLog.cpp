#include "DebugLog.h"

#include <fstream>
#include <streambuf>

#include "OptionValues.h"
#include "orvane/Logging.h"
#include "zelt/app/Printable.h"
#include "zelt/app/Session.h"

namespace zelt::scan {

// The command line is an application of the application library.
using namespace app;  // NOLINT(google-build-using-namespace)

namespace {

// Collects characters into lines; each complete line goes to the log and to
// the copy. Used by one thread at a time (the adapter pump).
class DialogueBuffer : public std::streambuf {
public:
    explicit DialogueBuffer(std::ostream* copy) : copy_(copy) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        const char character = traits_type::to_char_type(c);
        if (character == '\n') {
            orvane::LogLine().setContext(0, 0, orvane::LogLevel::Debug) << line_;
            if (copy_ != nullptr) {
                *copy_ << line_ << '\n';
            }
            line_.clear();
        } else {
            line_ += character;
        }
        return c;
    }

    int sync() override {
        if (copy_ != nullptr) {
            copy_->flush();
        }
        return 0;
    }

private:
    std::ostream* const copy_;
    std::string line_;
};

// The stream owns its buffer.
class DialogueStreamImpl : public std::ostream {
public:
    explicit DialogueStreamImpl(std::ostream* copy) : std::ostream(nullptr), buffer_(copy) {
        rdbuf(&buffer_);
    }

private:
    DialogueBuffer buffer_;
};

void Log(orvane::LogLevel level, const std::string& text) {
    orvane::LogLine().setContext(0, 0, level) << text;
}

}  // namespace

void StartDebugLog(const std::string& path) {
    // The logger reports nothing when it cannot open its file; appending
    // first finds out without destroying anything.
    if (!std::ofstream(path, std::ios::app)) {
        throw UsageError("cannot write the log file " + Quoted(path));
    }
    orvane::StartDebugLog(path);
    LogInfo(std::string("zelt-scan ") + ZELT_VERSION + " started");
}

void LogInfo(const std::string& text) {
    Log(orvane::LogLevel::Info, text);
}

void LogError(const std::string& text) {
    Log(orvane::LogLevel::Error, text);
}

std::unique_ptr<std::ostream> DialogueStream(std::ostream* copy) {
    return std::make_unique<DialogueStreamImpl>(copy);
}

}  // namespace zelt::scan
