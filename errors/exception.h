// The exception family: every failure the system detects itself is thrown
// as one of these, by value, and caught by reference.
#pragma once

#include <cstdint>
#include <string>

namespace un {

// Base of the family. `message` is a lower-case phrase without a final
// period; `where` names the raising class.
class exception {
public:
    exception(std::string message, std::string where) : message(std::move(message)), where(std::move(where)) {}
    virtual ~exception() = default;

    std::string message;
    std::string where;
};

// The one text the user sees: where + " exception: " + message + ".".
std::string display_text(const exception& failure);

// A fault of the program itself (a call against a stated precondition),
// not of its input or of the system. Deliberately outside the family: it is
// never shown as a message, and the process entry ends with "any other
// failure". Cheaper than std::logic_error, whose library string code would
// double the size of the Windows program.
class logic_error {
public:
    logic_error(const char* message, const char* where) : message(message), where(where) {}

    const char* message;
    const char* where;
};

}  // namespace un

namespace quillon::self {

// The user's cancel; ends the program quietly with exit code 1.
class evacuation : public un::exception {
public:
    explicit evacuation(std::string message = "") : un::exception(std::move(message), "evacuation") {}
};

}  // namespace quillon::self

namespace io {

// A file-system failure; `error` is the system's code, 0 when the failure
// was not reported by the system.
class exception : public un::exception {
public:
    exception(std::string message, std::string where, std::int32_t error = 0)
        : un::exception(std::move(message), std::move(where)), error(error) {}

    std::int32_t error;
};

}  // namespace io

namespace any {

class exception : public un::exception {
public:
    using un::exception::exception;
};

}  // namespace any

namespace stream {

class exception : public un::exception {
public:
    using un::exception::exception;
};

}  // namespace stream

namespace format {

class exception : public un::exception {
public:
    using un::exception::exception;
};

// The entry's data does not match its stored CRC-32.
class crc_exception : public format::exception {
public:
    using format::exception::exception;
};

// The passphrase does not decrypt the entry's encryption header.
class passphrase_exception : public format::exception {
public:
    using format::exception::exception;
};

}  // namespace format

namespace algorithm {

class exception : public un::exception {
public:
    using un::exception::exception;
};

}  // namespace algorithm
