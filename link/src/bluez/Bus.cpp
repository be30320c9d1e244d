#include "Bus.h"

#include <cstdint>
#include <cstring>

namespace zelt::link::bluez {

namespace {

struct ErrorHolder {
    sd_bus_error error{nullptr, nullptr, 0};  // SD_BUS_ERROR_NULL, which is C99
    ~ErrorHolder() { sd_bus_error_free(&error); }
};

// A number of D-Bus `type`, read as the C type T that sd-bus fills for it.
template <typename T>
long long ReadNumber(sd_bus_message* message, char type) {
    T number{};
    Check(sd_bus_message_read_basic(message, type, &number), "read a number");
    return number;
}

Property ReadVariant(sd_bus_message* message) {
    char type = 0;
    const char* contents = nullptr;
    Check(sd_bus_message_peek_type(message, &type, &contents), "peek a property");
    const std::string signature = contents;
    Check(sd_bus_message_enter_container(message, 'v', contents), "enter a property");
    Property value;
    if (signature == "s" || signature == "o") {
        const char* text = nullptr;
        Check(sd_bus_message_read_basic(message, signature[0], &text), "read a text");
        value.text = text;
    } else if (signature == "as" || signature == "ao") {
        Check(sd_bus_message_enter_container(message, 'a', signature.c_str() + 1), "enter a list");
        const char* text = nullptr;
        while (Check(sd_bus_message_read_basic(message, signature[1], &text), "read a list") > 0) {
            value.list.emplace_back(text);
        }
        Check(sd_bus_message_exit_container(message), "leave a list");
    } else if (signature == "b" || signature == "i") {
        value.number = ReadNumber<std::int32_t>(message, signature[0]);
    } else if (signature == "n") {
        value.number = ReadNumber<std::int16_t>(message, 'n');
    } else if (signature == "q") {
        value.number = ReadNumber<std::uint16_t>(message, 'q');
    } else if (signature == "y") {
        value.number = ReadNumber<std::uint8_t>(message, 'y');
    } else if (signature == "ay") {
        const void* bytes = nullptr;
        std::size_t size = 0;
        Check(sd_bus_message_read_array(message, 'y', &bytes, &size), "read bytes");
        value.text.assign(static_cast<const char*>(bytes), size);
    } else {
        Check(sd_bus_message_skip(message, contents), "skip a property");
    }
    Check(sd_bus_message_exit_container(message), "leave a property");
    return value;
}

// Reads the dictionary of `entry` ("sv") at the message's position: for
// each entry its key, of `keyType`, then `value` reads the rest.
template <typename ReadValue>
void ForEachEntry(sd_bus_message* message, const char* entry, char keyType, ReadValue value) {
    const std::string array = "{" + std::string(entry) + "}";
    Check(sd_bus_message_enter_container(message, 'a', array.c_str()), "enter a dictionary");
    while (Check(sd_bus_message_enter_container(message, 'e', entry), "enter an entry") > 0) {
        const char* key = nullptr;
        Check(sd_bus_message_read_basic(message, keyType, &key), "read a key");
        value(std::string(key));
        Check(sd_bus_message_exit_container(message), "leave an entry");
    }
    Check(sd_bus_message_exit_container(message), "leave a dictionary");
}

}  // namespace

int Check(int result, const char* what) {
    if (result < 0) {
        throw std::runtime_error(std::string("D-Bus: cannot ") + what + ": " +
                                 std::strerror(-result));
    }
    return result;
}

Properties ReadProperties(sd_bus_message* message) {
    Properties properties;
    ForEachEntry(message, "sv", 's',
                 [&](const std::string& name) { properties[name] = ReadVariant(message); });
    return properties;
}

void AppendStringOption(sd_bus_message* message, const char* key, const char* value) {
    Check(sd_bus_message_append(message, "a{sv}", 1, key, "s", value), "append an option");
}

Bus::Bus() {
    const int result = sd_bus_open_system(&bus_);
    if (result < 0) {
        throw std::runtime_error("no Bluetooth: cannot reach the system's D-Bus (" +
                                 std::string(std::strerror(-result)) + ")");
    }
}

Bus::~Bus() {
    sd_bus_flush_close_unref(bus_);
}

Message Bus::call(const std::string& path, const char* interface, const char* member,
                  std::chrono::milliseconds timeout,
                  const std::function<void(sd_bus_message*)>& append) {
    sd_bus_message* request = nullptr;
    Check(sd_bus_message_new_method_call(bus_, &request, kService, path.c_str(), interface, member),
          "make a call");
    Message owned(request);
    if (append) {
        append(request);
    }
    ErrorHolder error;
    sd_bus_message* reply = nullptr;
    const int result = sd_bus_call(
        bus_, request, static_cast<std::uint64_t>(timeout.count()) * 1000, &error.error, &reply);
    if (result < 0) {
        if (sd_bus_error_is_set(&error.error)) {
            throw BusError(error.error.name,
                           error.error.message != nullptr ? error.error.message : "");
        }
        throw BusError("", std::strerror(-result));
    }
    return Message(reply);
}

Objects Bus::managedObjects() {
    const Message reply = call("/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects",
                               std::chrono::seconds(5));
    sd_bus_message* message = reply.get();
    Objects objects;
    ForEachEntry(message, "oa{sa{sv}}", 'o', [&](const std::string& path) {
        Interfaces& interfaces = objects[path];
        ForEachEntry(message, "sa{sv}", 's',
                     [&](const std::string& name) { interfaces[name] = ReadProperties(message); });
    });
    return objects;
}

}  // namespace zelt::link::bluez
