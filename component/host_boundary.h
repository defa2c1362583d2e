#pragma once

#include <cstddef>
#include <cstdint>

// The binary contract between the host and the component. Every table lists its operations slot by slot with an
// explicit calling convention; no table has a virtual destructor or two operations of one name, so that any
// compiler lays the tables out alike.

namespace kestrune {

// A growable UTF-8 text that the other side fills through this table. Whoever made it owns and destroys it.
class utf8_string {
public:
    virtual void __thiscall append(const char* text, std::size_t limit) = 0;
    virtual const char* __thiscall text() = 0;
    virtual void __thiscall assign(const char* text, std::size_t limit) = 0;
    virtual void __thiscall shorten(std::size_t length) = 0;
    virtual std::size_t __thiscall length() = 0;
    virtual char* __thiscall open_buffer(std::size_t length) = 0;
    virtual void __thiscall close_buffer() = 0;

protected:
    utf8_string() = default;
    utf8_string(const utf8_string&) = default;
    utf8_string& operator=(const utf8_string&) = default;
    ~utf8_string() = default;
};

} // namespace kestrune
