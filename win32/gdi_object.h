#pragma once

#include <utility>

#include <windows.h>

namespace velmora {

// A GDI object this code created, deleted on every way out.
template <typename handle_type> class gdi_object {
public:
    explicit gdi_object(handle_type object = nullptr) noexcept : object_(object) {}
    gdi_object(const gdi_object&) = delete;
    gdi_object& operator=(const gdi_object&) = delete;
    ~gdi_object() { reset(); }

    void reset(handle_type object = nullptr) noexcept
    {
        if (handle_type old = std::exchange(object_, object))
            DeleteObject(old);
    }

    handle_type get() const noexcept { return object_; }

private:
    handle_type object_;
};

// An object selected into a device context for this scope; the previous one is put back.
class selected_object {
public:
    selected_object(HDC dc, HGDIOBJ object) noexcept
        : dc_(dc), previous_(object != nullptr ? SelectObject(dc, object) : nullptr)
    {}
    selected_object(const selected_object&) = delete;
    selected_object& operator=(const selected_object&) = delete;
    ~selected_object()
    {
        if (previous_ != nullptr)
            SelectObject(dc_, previous_);
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

} // namespace velmora
