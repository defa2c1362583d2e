#include "host/doubles/main_thread_callback_manager.h"

#include <stdexcept>

#include "host/doubles/host_call_faults.h"

namespace stand_in {

namespace {
constexpr UINT run_pending_message = WM_APP + 0x71;
constexpr wchar_t window_class[] = L"stand_in_main_thread_callbacks";
} // namespace

main_thread_callback_manager::main_thread_callback_manager(reference_audit& audit)
    : counted(audit, kestrune::main_thread_callback_manager_guid, "main thread callback manager")
{
    WNDCLASSW description{};
    description.lpfnWndProc = window_procedure;
    description.hInstance = GetModuleHandleW(nullptr);
    description.lpszClassName = window_class;
    RegisterClassW(&description);
    window_ =
        CreateWindowExW(0, window_class, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, description.hInstance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

main_thread_callback_manager::~main_thread_callback_manager()
{
    DestroyWindow(window_);
    for (kestrune::main_thread_callback* callback : pending_)
        callback->release();
}

void main_thread_callback_manager::queue_callback(kestrune::main_thread_callback* callback)
{
    if (fail_queueing)
        throw std::runtime_error("host failure in queue_callback");
    count_host_call("queue_callback");
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back(callback);
    }
    ++queued_;
    PostMessageW(window_, run_pending_message, 0, 0);
}

void main_thread_callback_manager::run_pending()
{
    for (;;) {
        kestrune::main_thread_callback* callback;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (pending_.empty())
                return;
            callback = pending_.front();
            pending_.pop_front();
        }
        ++runs_;
        try {
            callback->run();
        } catch (...) {
            callback->release();
            throw;
        }
        callback->release();
    }
}

void main_thread_callback_manager::discard_pending()
{
    std::deque<kestrune::main_thread_callback*> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dropped.swap(pending_);
    }
    for (kestrune::main_thread_callback* callback : dropped)
        callback->release();
}

LRESULT CALLBACK main_thread_callback_manager::window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == run_pending_message) {
        auto* manager = reinterpret_cast<main_thread_callback_manager*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (manager != nullptr) {
            try {
                manager->run_pending();
            } catch (...) {
                // A callback's failure stays in the stand-in host; it never unwinds through the system.
            }
        }
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

} // namespace stand_in
