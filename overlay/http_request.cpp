#include "overlay/http_request.h"

#include <cctype>

namespace velmora {

namespace {

bool equal_ignoring_case(std::string_view left, std::string_view right) noexcept
{
    if (left.size() != right.size())
        return false;
    for (std::size_t index = 0; index < left.size(); ++index) {
        if (std::tolower(static_cast<unsigned char>(left[index])) !=
            std::tolower(static_cast<unsigned char>(right[index])))
            return false;
    }
    return true;
}

std::string_view trimmed(std::string_view text) noexcept
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// A header name is a token: visible characters but the separators.
bool is_token(std::string_view text) noexcept
{
    if (text.empty())
        return false;
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte <= 32 || byte >= 127 ||
            std::string_view("()<>@,;:\\\"/[]?={}").find(character) != std::string_view::npos)
            return false;
    }
    return true;
}

// Field values hold no control character but the tab.
bool is_field_value(std::string_view text) noexcept
{
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if ((byte < 32 && byte != '\t') || byte == 127)
            return false;
    }
    return true;
}

// The name of this computer's loopback that the Host (or an Origin's authority) gives with the server's port, or an
// empty view. Browsers leave the scheme's default port, 80, out.
std::string_view own_host_name(std::string_view host, std::uint16_t port)
{
    const std::string port_text = ":" + std::to_string(port);
    std::string_view name = host;
    if (host.size() > port_text.size() && host.substr(host.size() - port_text.size()) == port_text)
        name = host.substr(0, host.size() - port_text.size());
    else if (port != 80)
        return {};
    if (name == "127.0.0.1" || name == "[::1]" || equal_ignoring_case(name, "localhost"))
        return name;
    return {};
}

// A number of 1 to 9 digits without a leading zero; 0 for anything else.
unsigned long decimal_number(std::string_view digits) noexcept
{
    if (digits.empty() || digits.size() > 9 || digits.front() == '0')
        return 0;
    unsigned long number = 0;
    for (const char digit : digits) {
        if (digit < '0' || digit > '9')
            return 0;
        number = number * 10 + static_cast<unsigned long>(digit - '0');
    }
    return number;
}

// /N.txt for N of 1 or 2 digits; 0 for anything else.
unsigned output_number(std::string_view path) noexcept
{
    if (path.size() < 6 || path.size() > 7 || path.front() != '/' || path.substr(path.size() - 4) != ".txt")
        return 0;
    return static_cast<unsigned>(decimal_number(path.substr(1, path.size() - 5)));
}

// /cover/N; 0 for anything else.
unsigned long cover_number_of(std::string_view path) noexcept
{
    constexpr std::string_view prefix = "/cover/";
    return path.substr(0, prefix.size()) == prefix ? decimal_number(path.substr(prefix.size())) : 0;
}

} // namespace

std::size_t request_head_end(std::string_view received) noexcept
{
    const std::size_t blank = received.find("\r\n\r\n");
    return blank == std::string_view::npos ? 0 : blank + 4;
}

request_decision decide_request(std::string_view head, std::uint16_t port, unsigned output_count,
                                unsigned long cover_number)
{
    request_decision decision;
    std::size_t line_end = head.find("\r\n");
    if (line_end == std::string_view::npos)
        return decision;
    const std::string_view request_line = head.substr(0, line_end);
    const std::size_t first_space = request_line.find(' ');
    const std::size_t second_space =
        first_space == std::string_view::npos ? first_space : request_line.find(' ', first_space + 1);
    if (second_space == std::string_view::npos || request_line.find(' ', second_space + 1) != std::string_view::npos)
        return decision;
    const std::string_view method = request_line.substr(0, first_space);
    const std::string_view target = request_line.substr(first_space + 1, second_space - first_space - 1);
    const std::string_view version = request_line.substr(second_space + 1);
    if (!is_token(method) || target.empty() || target.front() != '/' || !is_field_value(target) ||
        target.find_first_of(" \t") != std::string_view::npos || (version != "HTTP/1.1" && version != "HTTP/1.0"))
        return decision;

    std::string_view host, origin;
    int hosts = 0, origins = 0;
    for (std::size_t start = line_end + 2; start < head.size();) {
        line_end = head.find("\r\n", start);
        if (line_end == std::string_view::npos)
            return decision;
        const std::string_view line = head.substr(start, line_end - start);
        start = line_end + 2;
        if (line.empty())
            break;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !is_token(line.substr(0, colon)) ||
            !is_field_value(line.substr(colon + 1)))
            return decision;
        const std::string_view name = line.substr(0, colon), value = trimmed(line.substr(colon + 1));
        if (equal_ignoring_case(name, "host")) {
            host = value;
            ++hosts;
        } else if (equal_ignoring_case(name, "origin")) {
            origin = value;
            ++origins;
        }
    }
    if (hosts != 1 || origins > 1)
        return decision;
    // A page of another site, or a name of another's that resolves here, reads nothing.
    const std::string_view name = own_host_name(host, port);
    constexpr std::string_view scheme = "http://";
    const bool own_origin =
        origin.substr(0, scheme.size()) == scheme && own_host_name(origin.substr(scheme.size()), port) == name;
    if (name.empty() || (origins == 1 && !own_origin)) {
        decision.status = 403;
        return decision;
    }
    if (method != "GET" && method != "HEAD") {
        decision.status = 405;
        return decision;
    }
    decision.head_only = method == "HEAD";

    const std::size_t query_start = target.find('?');
    const std::string_view path = target.substr(0, query_start);
    decision.status = 200;
    if (path == "/")
        decision.route = overlay_route::page;
    else if (path == "/events")
        decision.route = overlay_route::events;
    else if (path == "/now-playing.json")
        decision.route = overlay_route::json;
    else if (const unsigned number = output_number(path); number >= 1 && number <= output_count) {
        decision.route = overlay_route::output_text;
        decision.output = number;
    } else if (cover_number != 0 && cover_number_of(path) == cover_number)
        decision.route = overlay_route::cover;
    else
        decision.status = 404;
    return decision;
}

} // namespace velmora
