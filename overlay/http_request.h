#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// A request head may not grow past this; a longer one is answered 431.
inline constexpr std::size_t request_head_limit = 8192;

enum class overlay_route { page, events, json, output_text, cover };

// What the server makes of a request head: the status to answer with, and for 200 the route (and output number).
struct request_decision {
    int status = 400;
    bool head_only = false;
    overlay_route route = overlay_route::page;
    unsigned output = 0;
};

// Where the request head ends (just past its blank line), or 0 while it is incomplete. A head needs no more than
// request_head_limit bytes: the caller answers 431 past that.
std::size_t request_head_end(std::string_view received) noexcept;

// Decides a complete head for a server listening on port: 400 for a malformed one (or one without a single Host),
// 403 for a Host other than the loopback names with this port or an Origin other than the one the Host names, 405 for
// a method other than GET and HEAD, 404 for any other path. /N.txt names output N (1 to output_count); /cover/N the
// art whose number is cover_number (none while it is 0), and no older one.
request_decision decide_request(std::string_view head, std::uint16_t port, unsigned output_count,
                                unsigned long cover_number = 0);

} // namespace velmora
