#include <winsock2.h>
#include <ws2tcpip.h>

#include "overlay/overlay_server.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "output/outcome_delivery.h"
#include "overlay/http_request.h"
#include "overlay/overlay_page_resource.h"
#include "win32/kernel_handle.h"
#include "win32/message_wait.h"
#include "win32/socket_handle.h"
#include "win32/srw_lock.h"
#include "win32/this_module.h"

namespace velmora {

namespace {

constexpr std::size_t client_limit = 32;
// A client that has left this much unread has stopped reading: it is dropped rather than held in memory. One whole
// answer or event may always wait beyond it, however long the texts make it.
constexpr std::size_t unread_limit = 64 * 1024;
constexpr int send_buffer_size = 16 * 1024;
constexpr DWORD head_limit_ms = 5000;
constexpr DWORD keep_alive_ms = 15000;
constexpr DWORD start_limit_ms = 1000;
// A port that another program holds is tried again this often, so that the overlay serves once it is let go.
constexpr DWORD listen_retry_ms = 1000;
// How often the listeners are asked for connections whatever their events say. Under Wine on a loaded machine the
// server was seen to stop taking connections for good, its listener's event never set again while they queued.
constexpr DWORD accept_check_ms = 1000;
// How often the server looks for a new position while a stream is open: the main thread hands positions over
// without waking it, so that a time notification costs the player no call into the system.
constexpr DWORD position_check_ms = 100;
// The page's EventSource tries again this long after the connection went, the player restarting say.
constexpr char stream_start[] = "retry: 2000\n\n";

// What the main thread hands over, under the lock; version counts the changes. The cover art's thread changes the
// cover alone, under the lock; the main thread reads the rest without it. wake is the running server's, set and
// cleared under the lock, so that the cover art's thread may wake it while the lock keeps it open.
struct overlay_shared {
    srw_lock lock;
    overlay_snapshot snapshot;
    unsigned long version = 0;
    HANDLE wake = nullptr;
    unsigned long last_cover_number = 0;
};
overlay_shared shared;

// One server's record, shared by the main thread and the server's thread: the one that lets go last frees it, so
// that a main thread that stopped waiting leaves the thread nothing dangling.
struct server_record {
    std::uint16_t port = 0;
    kernel_handle wake;  // auto-reset: texts changed, or stop
    kernel_handle ready; // manual-reset: listening, or failed with error
    std::atomic<bool> stop{false};
    // How long the thread may take, once stopped, to send its streams what it has last been handed.
    std::atomic<DWORD> finish_limit_ms{0};
    // Set by the thread once error holds why it could not listen, cleared once it listens after all.
    std::atomic<bool> failed{false};
    std::atomic<DWORD> error{ERROR_SUCCESS};
    // Main thread: the failure is said once a server.
    bool failure_reported = false;
    HMODULE module = nullptr;
    std::atomic<int> holders{2};

    static void let_go(server_record* record) noexcept
    {
        if (--record->holders == 0)
            delete record;
    }
};

// The main thread's view of the server running (or trying to listen), and the port asked for.
server_record* running = nullptr;
kernel_handle running_thread;
std::uint16_t requested_port = 0;

bool end_server(DWORD limit_ms) noexcept
{
    if (running == nullptr)
        return true;
    {
        const std::lock_guard<srw_lock> lock(shared.lock);
        shared.wake = nullptr;
    }
    running->finish_limit_ms = limit_ms / 2;
    running->stop = true;
    SetEvent(running->wake.get());
    const bool ended = wait_answering_sent_messages(running_thread.get(), limit_ms);
    server_record::let_go(std::exchange(running, nullptr));
    running_thread.reset();
    return ended;
}

const char* status_text(int status) noexcept
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

std::string response(int status, const char* type, const std::string& body, bool head_only)
{
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + status_text(status) + "\r\nContent-Type: " + type +
                       "\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n";
    if (status == 405)
        text += "Allow: GET, HEAD\r\n";
    // The page loads nothing from anywhere, and talks to its own server alone.
    if (std::string_view(type).rfind("text/html", 0) == 0)
        text += "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; "
                "connect-src 'self'; img-src 'self' data:\r\nReferrer-Policy: no-referrer\r\n";
    text += "\r\n";
    if (!head_only)
        text += body;
    return text;
}

std::string refusal(int status)
{
    return response(status, "text/plain; charset=utf-8", std::string(status_text(status)) + "\n", false);
}

std::string stream_event(const overlay_snapshot& snapshot)
{
    return "data: " + overlay_json(snapshot) + "\n\n";
}

std::string_view page_template() noexcept
{
    const HMODULE module = this_module();
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDR_OVERLAY_PAGE), MAKEINTRESOURCEW(10));
    const HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr)
        return {};
    return {static_cast<const char*>(bytes), SizeofResource(module, found)};
}

// Where a connection is: reading its request's head, answering it (closed once the answer is sent), streaming events
// until either side ends it, or closing (let go at the end of the turn).
enum class client_phase { reading_request, answering, streaming, closing };

struct client {
    socket_handle socket;
    kernel_handle event;
    client_phase phase = client_phase::reading_request;
    std::string received;
    std::string waiting; // to be sent, from sent on
    std::size_t sent = 0;
    DWORD accepted_at = 0;
    DWORD last_sent_at = 0;
    // The system had no room for more; it signals when it has.
    bool send_blocked = false;

    std::size_t unread() const noexcept { return waiting.size() - sent; }
};

// The server's thread: its sockets, its clients and the last texts it sent.
class server {
public:
    explicit server(server_record& record) : record_(record) {}

    // Listens, or gives the system's reason why not.
    DWORD listen_on_loopback()
    {
        sockaddr_in address4{};
        address4.sin_family = AF_INET;
        address4.sin_port = htons(record_.port);
        address4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const DWORD error = add_listener(AF_INET, reinterpret_cast<const sockaddr*>(&address4), sizeof address4);
        if (error != ERROR_SUCCESS)
            return error;
        // ::1 where the system has it; without it, 127.0.0.1 serves alone.
        sockaddr_in6 address6{};
        address6.sin6_family = AF_INET6;
        address6.sin6_port = htons(record_.port);
        address6.sin6_addr.s6_addr[15] = 1;
        add_listener(AF_INET6, reinterpret_cast<const sockaddr*>(&address6), sizeof address6);
        return ERROR_SUCCESS;
    }

    void run()
    {
        template_ = page_template();
        // What the main thread handed over before this server began is served from the first request.
        take_new_texts(GetTickCount());
        while (!record_.stop.load()) {
            // The wait names the first of its handles that is set, so the sockets take turns at coming first: a
            // client that keeps its socket busy, or a flood of connections, cannot keep the others waiting.
            const std::size_t sources = listeners_.size() + clients_.size();
            const std::size_t first = sources == 0 ? 0 : ++rotation_ % sources;
            std::vector<HANDLE> handles{record_.wake.get()};
            for (std::size_t turn = 0; turn < sources; ++turn)
                handles.push_back(source_event((first + turn) % sources));
            const DWORD result =
                WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, next_timeout());
            if (record_.stop.load())
                break;
            // Only what was signalled is asked about: under Wine every such question is a round trip to its server.
            // A socket's event stays set until asked, so the next wait comes back for the others at once.
            const DWORD now = GetTickCount();
            const std::size_t index = result - WAIT_OBJECT_0;
            if (result != WAIT_TIMEOUT && result != WAIT_FAILED && index < handles.size()) {
                const std::size_t source = index == 0 ? 0 : (first + index - 1) % sources;
                if (index == 0)
                    take_new_texts(now);
                else if (source < listeners_.size())
                    accept_clients(listeners_[source], now);
                else
                    serve(*clients_[source - listeners_.size()], now);
            }
            if (now - last_position_check_ >= position_check_ms) {
                last_position_check_ = now;
                take_new_texts(now);
            }
            if (now - last_accept_check_ >= accept_check_ms) {
                last_accept_check_ = now;
                for (const listener& each : listeners_)
                    accept_clients(each, now);
            }
            for (const std::unique_ptr<client>& each : clients_)
                keep_time(*each, now);
            let_closing_clients_go();
        }
    }

    // At the end: what the main thread handed over last (the exit texts) goes to every stream, and each stream is
    // ended once it has taken it, or at the limit.
    void finish(DWORD limit_ms)
    {
        const DWORD start = GetTickCount();
        take_new_texts(start);
        for (const std::unique_ptr<client>& each : clients_) {
            if (each->phase == client_phase::streaming)
                each->phase = client_phase::answering;
            else if (each->phase == client_phase::reading_request)
                each->phase = client_phase::closing;
            send_waiting(*each, start);
        }
        let_closing_clients_go();
        while (!clients_.empty()) {
            const DWORD now = GetTickCount();
            if (now - start >= limit_ms)
                break;
            std::vector<HANDLE> handles;
            for (const std::unique_ptr<client>& each : clients_)
                handles.push_back(each->event.get());
            WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, limit_ms - (now - start));
            for (const std::unique_ptr<client>& each : clients_)
                serve(*each, now);
            let_closing_clients_go();
        }
    }

private:
    void let_closing_clients_go()
    {
        clients_.erase(
            std::remove_if(clients_.begin(), clients_.end(),
                           [](const std::unique_ptr<client>& each) { return each->phase == client_phase::closing; }),
            clients_.end());
    }

    struct listener {
        socket_handle socket;
        kernel_handle event;
    };

    // The listeners, then the clients, by one count.
    HANDLE source_event(std::size_t source) const noexcept
    {
        return source < listeners_.size() ? listeners_[source].event.get()
                                          : clients_[source - listeners_.size()]->event.get();
    }

    DWORD add_listener(int family, const sockaddr* address, int size)
    {
        listener added;
        added.socket = socket_handle(socket(family, SOCK_STREAM, IPPROTO_TCP));
        if (!added.socket.valid())
            return static_cast<DWORD>(WSAGetLastError());
        // No other program may take the port over while we listen.
        BOOL on = TRUE;
        setsockopt(added.socket.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
        if (family == AF_INET6)
            setsockopt(added.socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&on), sizeof on);
        added.event = kernel_handle(WSACreateEvent());
        if (!added.event.valid())
            return GetLastError();
        if (bind(added.socket.get(), address, size) != 0 || listen(added.socket.get(), SOMAXCONN) != 0 ||
            WSAEventSelect(added.socket.get(), added.event.get(), FD_ACCEPT) != 0)
            return static_cast<DWORD>(WSAGetLastError());
        listeners_.push_back(std::move(added));
        return ERROR_SUCCESS;
    }

    DWORD next_timeout() const noexcept
    {
        const DWORD now = GetTickCount();
        const DWORD check_due = last_accept_check_ + accept_check_ms;
        DWORD timeout = static_cast<LONG>(check_due - now) > 0 ? check_due - now : 0;
        for (const std::unique_ptr<client>& each : clients_) {
            if (each->phase == client_phase::streaming) {
                const DWORD position_due = last_position_check_ + position_check_ms;
                timeout = std::min(timeout, static_cast<LONG>(position_due - now) > 0 ? position_due - now : 0);
            }
            // A stream with bytes still waiting is woken by the system once there is room, not by the clock.
            const bool quiet_stream = each->phase == client_phase::streaming && each->unread() == 0;
            const DWORD due = quiet_stream || each->phase == client_phase::answering
                                  ? each->last_sent_at + keep_alive_ms
                              : each->phase == client_phase::reading_request ? each->accepted_at + head_limit_ms
                                                                             : INFINITE;
            if (due == INFINITE)
                continue;
            const DWORD left = static_cast<LONG>(due - now) > 0 ? due - now : 0;
            if (left < timeout)
                timeout = left;
        }
        return timeout;
    }

    // Every time a client records is this turn's now, so that no deadline is measured from a later moment.
    void accept_clients(const listener& from, DWORD now)
    {
        // Connections are taken whatever the events say: the system signals again only once accept has been
        // called, so a wake left unused would leave every later connection waiting.
        WSANETWORKEVENTS events;
        WSAEnumNetworkEvents(from.socket.get(), from.event.get(), &events);
        // A bounded number a turn, as for reads: the system signals again for the rest.
        for (std::size_t taken = 0; taken < 2 * client_limit; ++taken) {
            socket_handle accepted(accept(from.socket.get(), nullptr, nullptr));
            if (!accepted.valid())
                return;
            if (clients_.size() >= client_limit) {
                turn_away(accepted.get());
                continue;
            }
            auto added = std::make_unique<client>();
            // A client that stops reading is noticed once a bounded amount waits for it, not megabytes of the
            // system's buffers later.
            int buffer = send_buffer_size;
            setsockopt(accepted.get(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
            added->event = kernel_handle(WSACreateEvent());
            if (!added->event.valid() ||
                WSAEventSelect(accepted.get(), added->event.get(), FD_READ | FD_WRITE | FD_CLOSE) != 0)
                continue;
            added->socket = std::move(accepted);
            added->accepted_at = now;
            clients_.push_back(std::move(added));
            // What arrived before the events were chosen may never be signalled.
            serve(*clients_.back(), now);
        }
    }

    // One connection too many: 503 and closed, without waiting for it.
    static void turn_away(SOCKET socket) noexcept
    {
        u_long non_blocking = 1;
        ioctlsocket(socket, FIONBIO, &non_blocking);
        const std::string answer = refusal(503);
        send(socket, answer.data(), static_cast<int>(answer.size()), 0);
        shutdown(socket, SD_SEND);
        // What it sent is read, so that closing does not reset the answer away, but only so much: a client that
        // keeps sending does not hold the server here.
        char discarded[512];
        for (int read = 0; read < 16 && recv(socket, discarded, sizeof discarded, 0) > 0; ++read) {
        }
    }

    void take_new_texts(DWORD now)
    {
        {
            const std::lock_guard<srw_lock> lock(shared.lock);
            if (shared.version == version_ && !snapshot_text_.empty())
                return;
            version_ = shared.version;
            snapshot_ = shared.snapshot;
        }
        snapshot_text_ = stream_event(snapshot_at(snapshot_, now));
        for (const std::unique_ptr<client>& each : clients_) {
            if (each->phase == client_phase::streaming) {
                queue_to(*each, snapshot_text_);
                send_waiting(*each, now);
            }
        }
    }

    void queue_to(client& to, const std::string& bytes)
    {
        if (to.unread() > unread_limit) {
            to.phase = client_phase::closing;
            return;
        }
        to.waiting.append(bytes);
    }

    void serve(client& each, DWORD now)
    {
        if (each.phase == client_phase::closing)
            return;
        WSANETWORKEVENTS events{};
        WSAEnumNetworkEvents(each.socket.get(), each.event.get(), &events);
        if ((events.lNetworkEvents & FD_CLOSE) != 0 && events.iErrorCode[FD_CLOSE_BIT] != 0) {
            each.phase = client_phase::closing;
            return;
        }
        if ((events.lNetworkEvents & FD_WRITE) != 0)
            each.send_blocked = false;
        // Read whatever the events say, for the same reason: a read the system does not see leaves the client
        // unheard for good.
        const bool peer_closed = receive(each) || (events.lNetworkEvents & FD_CLOSE) != 0;
        if (each.phase == client_phase::reading_request) {
            const std::size_t end = request_head_end(each.received);
            if (end != 0 ? end > request_head_limit : each.received.size() > request_head_limit)
                respond_and_close(each, refusal(431));
            else if (end != 0)
                answer(each, std::string_view(each.received).substr(0, end), now);
            // The answer's time runs from here.
            if (each.phase != client_phase::reading_request)
                each.last_sent_at = now;
        }
        // The client has sent all it will: a head not whole by now never will be, and a stream has no reader. An
        // answer still goes out.
        if (peer_closed && each.phase != client_phase::answering)
            each.phase = client_phase::closing;
        send_waiting(each, now);
    }

    // What is due by the clock: a head not sent in time ends its connection, and so does an answer that the client
    // has taken nothing of for as long as a stream may stay quiet; a quiet stream gets a keep-alive.
    void keep_time(client& each, DWORD now)
    {
        if ((each.phase == client_phase::reading_request && now - each.accepted_at >= head_limit_ms) ||
            (each.phase == client_phase::answering && now - each.last_sent_at >= keep_alive_ms))
            each.phase = client_phase::closing;
        else if (each.phase == client_phase::streaming && now - each.last_sent_at >= keep_alive_ms &&
                 each.unread() == 0) {
            queue_to(each, ": keep-alive\n\n");
            send_waiting(each, now);
        }
    }

    // Reads what waits, a bounded amount a turn: the system signals again for the rest, and a client that keeps
    // sending does not hold the server. True when the client has closed its side.
    bool receive(client& each)
    {
        char bytes[2048];
        for (int read = 0; read < 16; ++read) {
            const int count = recv(each.socket.get(), bytes, sizeof bytes, 0);
            if (count > 0) {
                // What comes after the head is not read as anything; the head itself is bounded.
                if (each.phase == client_phase::reading_request && each.received.size() <= request_head_limit)
                    each.received.append(bytes, static_cast<std::size_t>(count));
                continue;
            }
            if (count == 0)
                return true;
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                each.phase = client_phase::closing;
            return false;
        }
        return false;
    }

    void answer(client& each, std::string_view head, DWORD now)
    {
        // A position handed over since the last look is served at once.
        take_new_texts(now);
        const request_decision decision =
            decide_request(head, record_.port, static_cast<unsigned>(snapshot_.texts.size()), snapshot_.cover.number);
        if (decision.status != 200) {
            respond_and_close(each, refusal(decision.status));
            return;
        }
        switch (decision.route) {
        case overlay_route::page:
            respond_and_close(each, response(200, "text/html; charset=utf-8", overlay_page(template_, snapshot_),
                                             decision.head_only));
            return;
        case overlay_route::json:
            respond_and_close(each, response(200, "application/json; charset=utf-8",
                                             overlay_json(snapshot_at(snapshot_, now)), decision.head_only));
            return;
        case overlay_route::output_text:
            respond_and_close(each, response(200, "text/plain; charset=utf-8", snapshot_.texts[decision.output - 1],
                                             decision.head_only));
            return;
        case overlay_route::cover:
            respond_and_close(
                each, response(200, snapshot_.cover.content_type.c_str(), *snapshot_.cover.bytes, decision.head_only));
            return;
        case overlay_route::events:
            break;
        }
        const std::string head_lines = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\n"
                                       "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n";
        if (decision.head_only) {
            respond_and_close(each, head_lines);
            return;
        }
        each.phase = client_phase::streaming;
        each.last_sent_at = now;
        queue_to(each, head_lines + stream_start + stream_event(snapshot_at(snapshot_, now)));
    }

    void respond_and_close(client& each, const std::string& bytes)
    {
        each.phase = client_phase::answering;
        queue_to(each, bytes);
    }

    void send_waiting(client& each, DWORD now)
    {
        while (each.phase != client_phase::closing && !each.send_blocked && each.unread() != 0) {
            const int count =
                send(each.socket.get(), each.waiting.data() + each.sent, static_cast<int>(each.unread()), 0);
            if (count <= 0) {
                // The system says when there is room again.
                if (WSAGetLastError() == WSAEWOULDBLOCK)
                    each.send_blocked = true;
                else
                    each.phase = client_phase::closing;
                return;
            }
            each.sent += static_cast<std::size_t>(count);
            each.last_sent_at = now;
        }
        if (each.phase == client_phase::closing || each.unread() != 0)
            return;
        each.waiting.clear();
        each.sent = 0;
        if (each.phase == client_phase::answering) {
            shutdown(each.socket.get(), SD_SEND);
            each.phase = client_phase::closing;
        }
    }

    server_record& record_;
    std::vector<listener> listeners_;
    std::vector<std::unique_ptr<client>> clients_;
    std::string_view template_;
    overlay_snapshot snapshot_;
    std::string snapshot_text_;
    unsigned long version_ = 0;
    std::size_t rotation_ = 0;
    DWORD last_accept_check_ = GetTickCount();
    DWORD last_position_check_ = GetTickCount();
};

// The server's thread: listens, trying again while another program holds the port, serves until stopped, then
// sends its streams the last texts.
void serve_until_stopped(server_record& record)
{
    server serving(record);
    for (;;) {
        const DWORD error = serving.listen_on_loopback();
        record.error = error;
        record.failed = error != ERROR_SUCCESS;
        SetEvent(record.ready.get());
        if (error == ERROR_SUCCESS)
            break;
        const DWORD tried_at = GetTickCount();
        for (DWORD waited = 0; waited < listen_retry_ms && !record.stop.load(); waited = GetTickCount() - tried_at)
            WaitForSingleObject(record.wake.get(), listen_retry_ms - waited);
        if (record.stop.load())
            return;
    }
    serving.run();
    serving.finish(record.finish_limit_ms.load());
}

DWORD WINAPI run_server(void* argument) noexcept
{
    auto* record = static_cast<server_record*>(argument);
    const HMODULE module = record->module;
    WSADATA data;
    const DWORD error = static_cast<DWORD>(WSAStartup(MAKEWORD(2, 2), &data));
    if (error == ERROR_SUCCESS) {
        try {
            serve_until_stopped(*record);
        } catch (const std::bad_alloc&) {
            record->error = ERROR_NOT_ENOUGH_MEMORY;
            record->failed = true;
        }
        WSACleanup();
    } else {
        record->error = error;
        record->failed = true;
    }
    SetEvent(record->ready.get());
    server_record::let_go(record);
    // Gives back the thread's reference on the module without returning into it.
    if (module != nullptr)
        FreeLibraryAndExitThread(module, 0);
    return 0;
}

// Main thread: a server that cannot listen is said once; it goes on trying.
void report_failure_to_listen()
{
    if (running == nullptr || !running->failed.load() || running->failure_reported)
        return;
    running->failure_reported = true;
    report_system_error("Can't serve the overlay on port " + std::to_string(running->port), running->error.load());
}

} // namespace

void start_overlay(std::uint16_t port)
{
    stop_overlay(start_limit_ms);
    requested_port = port;
    auto* record = new server_record;
    record->port = port;
    record->wake = kernel_handle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    record->ready = kernel_handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DWORD error = ERROR_SUCCESS;
    if (!record->wake.valid() || !record->ready.valid())
        error = GetLastError();
    kernel_handle thread;
    if (error == ERROR_SUCCESS) {
        record->module = reference_this_module();
        thread = kernel_handle(CreateThread(nullptr, 0, run_server, record, 0, nullptr));
        if (!thread.valid()) {
            error = GetLastError();
            if (record->module != nullptr)
                FreeLibrary(record->module);
        }
    }
    if (error != ERROR_SUCCESS) {
        delete record;
        requested_port = 0;
        report_system_error("Can't serve the overlay on port " + std::to_string(port), error);
        return;
    }
    running = record;
    running_thread = std::move(thread);
    {
        const std::lock_guard<srw_lock> lock(shared.lock);
        shared.wake = record->wake.get();
    }
    // Listening takes the thread a moment; a failure after the wait is reported at the next text.
    wait_answering_sent_messages(record->ready.get(), start_limit_ms);
    report_failure_to_listen();
}

bool stop_overlay(DWORD limit_ms) noexcept
{
    requested_port = 0;
    return end_server(limit_ms);
}

std::uint16_t overlay_port_requested() noexcept
{
    return requested_port;
}

const overlay_snapshot& overlay_served() noexcept
{
    return shared.snapshot;
}

namespace {

// Main thread: the snapshot changes under the lock, for the server to find at its next look.
template <typename change> void change_snapshot_unwoken(change make_change)
{
    const std::lock_guard<srw_lock> lock(shared.lock);
    make_change(shared.snapshot);
    ++shared.version;
}

// Main thread: the same, and the server is told once the lock is let go, so that its thread, woken, does not find the
// lock still held and make the main thread wake it a second time. The main thread alone ends servers, so the one it
// tells is still there.
template <typename change> void change_snapshot(change make_change)
{
    change_snapshot_unwoken(make_change);
    if (running != nullptr)
        SetEvent(running->wake.get());
}

} // namespace

void set_overlay_text(std::size_t index, std::string_view text, std::size_t output_count, playback_state state)
{
    report_failure_to_listen();
    // Only the main thread changes the texts and the state, so it reads them without the lock.
    const overlay_snapshot& served = shared.snapshot;
    if (served.state == state && served.texts.size() == output_count && index < output_count &&
        served.texts[index] == text)
        return;
    change_snapshot([&](overlay_snapshot& snapshot) {
        snapshot.texts.resize(output_count);
        if (index < output_count)
            snapshot.texts[index].assign(text);
        snapshot.state = state;
    });
}

void set_overlay_position(double seconds)
{
    const DWORD now = GetTickCount();
    change_snapshot_unwoken([&](overlay_snapshot& snapshot) {
        snapshot.position = seconds;
        snapshot.position_reported_at = now;
    });
}

void set_overlay_track(std::optional<double> length, bool from_start)
{
    const DWORD now = GetTickCount();
    change_snapshot_unwoken([&](overlay_snapshot& snapshot) {
        snapshot.length = length;
        if (from_start) {
            snapshot.position = 0;
            snapshot.position_reported_at = now;
        }
    });
}

void set_overlay_state(playback_state state)
{
    if (shared.snapshot.state != state)
        change_snapshot([state](overlay_snapshot& snapshot) { snapshot.state = state; });
}

void remove_overlay_output(std::size_t index)
{
    if (index < shared.snapshot.texts.size())
        change_snapshot([index](overlay_snapshot& snapshot) {
            snapshot.texts.erase(snapshot.texts.begin() + static_cast<std::ptrdiff_t>(index));
        });
}

void set_overlay_cover(const std::optional<cover_art>& art)
{
    std::shared_ptr<const std::string> bytes = art ? art->bytes : nullptr;
    const std::lock_guard<srw_lock> lock(shared.lock);
    overlay_cover& cover = shared.snapshot.cover;
    if (bytes == nullptr ? cover.bytes == nullptr
                         : cover.bytes != nullptr && (cover.bytes == bytes || *cover.bytes == *bytes))
        return;
    cover.content_type = bytes == nullptr ? "" : content_type(art->facts.type);
    cover.bytes = std::move(bytes);
    // Numbers go on across tracks without art, so that an address once served never names other art.
    cover.number = cover.bytes == nullptr ? 0 : ++shared.last_cover_number;
    ++shared.version;
    if (shared.wake != nullptr)
        SetEvent(shared.wake);
}

void add_overlay_output(std::size_t output_count)
{
    if (shared.snapshot.texts.size() < output_count)
        change_snapshot([output_count](overlay_snapshot& snapshot) { snapshot.texts.resize(output_count); });
}

} // namespace velmora
