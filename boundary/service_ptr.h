#pragma once

#include <type_traits>
#include <utility>

#include "boundary/host_boundary.h"

namespace velmora {

// A counted reference to a host object, and the one place that calls add_ref and release: copying adds a
// reference, dropping releases it, on every way out of a scope, exceptions included. Host counts may be touched
// from two threads; the host makes them interlocked.
template <typename object_type> class service_ptr {
    static_assert(std::is_base_of_v<kestrune::service_object, object_type>, "only counted objects");

public:
    service_ptr() noexcept = default;

    service_ptr(const service_ptr& other) noexcept : object_(other.object_)
    {
        if (object_ != nullptr)
            object_->add_ref();
    }

    service_ptr(service_ptr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}

    service_ptr& operator=(service_ptr other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }

    ~service_ptr() { reset(); }

    // Takes over a reference the caller already owns, such as an owned argument from the host.
    static service_ptr adopt(object_type* object) noexcept
    {
        service_ptr result;
        result.object_ = object;
        return result;
    }

    void reset() noexcept
    {
        if (object_type* object = std::exchange(object_, nullptr))
            object->release();
    }

    // Gives up the reference without releasing it, for an operation that takes it over.
    object_type* detach() noexcept { return std::exchange(object_, nullptr); }

    // The slot for an out reference: the callee releases what it holds and stores its own reference.
    object_type** out() noexcept { return &object_; }

    // The same slot for operations that hand out a plain service object. The object types derive from
    // service_object alone, so both pointers have one address.
    kestrune::service_object** out_service() noexcept { return reinterpret_cast<kestrune::service_object**>(&object_); }

    object_type* get() const noexcept { return object_; }
    object_type* operator->() const noexcept { return object_; }
    object_type& operator*() const noexcept { return *object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    object_type* object_ = nullptr;
};

} // namespace velmora
