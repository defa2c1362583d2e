#pragma once

#include <stdexcept>

// Exception types shared with the host. Both modules match them by name, so names, namespaces and bases must not
// change.

class exception_service_not_found : public std::runtime_error {
public:
    exception_service_not_found() : std::runtime_error("Service not found") {}
};

class exception_service_duplicated : public std::runtime_error {
public:
    exception_service_duplicated() : std::runtime_error("Service duplicated") {}
};

class exception_overflow : public std::runtime_error {
public:
    exception_overflow() : std::runtime_error("Overflow") {}
};

namespace kestrune_io {

class exception_io : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class exception_io_data : public exception_io {
public:
    using exception_io::exception_io;
};

class exception_io_data_truncation : public exception_io_data {
public:
    exception_io_data_truncation() : exception_io_data("Unsupported format or corrupted file") {}
};

// Deliberately not an I/O data exception: whoever swallows damaged data must still stop on an abort.
class exception_aborted : public std::runtime_error {
public:
    exception_aborted() : std::runtime_error("User abort") {}
};

} // namespace kestrune_io
