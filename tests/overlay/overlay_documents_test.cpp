#include "overlay/http_request.h"
#include "overlay/overlay_documents.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(OverlayDocuments, EveryCharacterIsEscapedOrValidInTheJsonAndThePage)
{
    const overlay_snapshot snapshot{
        {std::string("a\"b\\c\x01\x1F\t\r\n<&>", 13) + "\xE2\x80\xA8\xF0\x9F\x8E\xB5\xC3\xA9",
         std::string("\xFF\xC0\x80\xED\xA0\x80\xE2\x82x\0y", 11)},
        playback_state::paused,
        {12, std::make_shared<const std::string>("GIF89a"), "image/gif"},
        61.25,
        0,
        200.0};
    // Bytes that start no valid character each stand as U+FFFD: a stray byte, an overlong form, an encoded
    // surrogate, a character cut short.
    EXPECT_EQ(overlay_json(snapshot),
              "{\"state\":\"paused\",\"position\":61.25,\"length\":200,\"outputs\":[{\"number\":1,\"text\":"
              "\"a\\\"b\\\\c\\u0001\\u001f\\u0009\\u000d"
              "\\u000a\\u003c\\u0026\\u003e\\u2028\xF0\x9F\x8E\xB5\xC3\xA9\"},{\"number\":2,\"text\":\""
              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
              "x\\u0000y\"}],\"cover\":\"/cover/12\"}");
    EXPECT_EQ(overlay_json(overlay_snapshot()),
              "{\"state\":\"stopped\",\"position\":0,\"length\":null,\"outputs\":[],\"cover\":null}");
    EXPECT_EQ(overlay_page("<p><!--outputs--></p>", {{"<b>'&\"", ""}, playback_state::stopped, {}, 0, 0, {}}),
              "<p><div class=\"output\" id=\"output-1\">&lt;b&gt;&#39;&amp;&quot;</div>\n"
              "<div class=\"output\" id=\"output-2\"></div>\n</p>");
}

// Where the track is, as served: moved on while playing (across the tick counter's wrap), not while paused, never
// past the length, 0 when stopped; in seconds with three decimals at most.
TEST(OverlayDocuments, ThePositionMovesOnWhilePlayingUpToTheLength)
{
    overlay_snapshot snapshot;
    snapshot.state = playback_state::playing;
    snapshot.position = 10.0004;
    snapshot.position_reported_at = 0xFFFFFF00u;
    snapshot.length = 12.5;
    EXPECT_NEAR(snapshot_at(snapshot, 0x100u).position, 10.5124, 1e-9);
    EXPECT_EQ(snapshot_at(snapshot, 0x100000u).position, 12.5);
    snapshot.length.reset();
    EXPECT_NEAR(snapshot_at(snapshot, 0x100000u).position, 1058.8324, 1e-6);
    snapshot.state = playback_state::paused;
    EXPECT_EQ(snapshot_at(snapshot, 0x100000u).position, 10.0004);
    EXPECT_NE(overlay_json(snapshot).find("\"position\":10,\"length\":null,"), std::string::npos);
    snapshot.state = playback_state::stopped;
    EXPECT_EQ(snapshot_at(snapshot, 0x100000u).position, 0);
}

TEST(OverlayRequests, TheHeadDecidesTheAnswer)
{
    struct request {
        const char* head;
        int status;
    };
    const request requests[] = {
        {"GET /16.txt HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n", 200},
        {"GET /17.txt HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n", 404},
        {"HEAD /events HTTP/1.0\r\nhost:\t[::1]:8080 \r\n\r\n", 200},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nHost: 127.0.0.1:8080\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nX: a\x01"
         "b\r\n\r\n",
         400},
        {"GET / HTTP/1.1\r\nHost 127.0.0.1:8080\r\n\r\n", 400},
        {"GET  / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n", 400},
        {"GET http://127.0.0.1:8080/ HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n", 400},
        {"GET / HTTP/2\r\nHost: 127.0.0.1:8080\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:80800\r\n\r\n", 403},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.2:8080\r\n\r\n", 403},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nOrigin: http://localhost:8080\r\n\r\n", 403},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nOrigin: null\r\n\r\n", 403},
        {"DELETE / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n", 405},
        {"GET /events/ HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n", 404},
    };
    for (const request& each : requests) {
        const std::string head(each.head);
        ASSERT_EQ(request_head_end(head), head.size()) << head;
        EXPECT_EQ(decide_request(head, 8080, 16).status, each.status) << head;
    }
    // The art's address is its number's alone: an older one, or any while there is none, is not found.
    const auto cover_status = [](const char* path, unsigned long number) {
        return decide_request(std::string("GET ") + path + " HTTP/1.1\r\nHost: localhost:8080\r\n\r\n", 8080, 1, number)
            .status;
    };
    EXPECT_EQ(cover_status("/cover/12?t=1", 12), 200);
    for (const char* path : {"/cover/11", "/cover/012", "/cover/", "/cover/12/"})
        EXPECT_EQ(cover_status(path, 12), 404) << path;
    EXPECT_EQ(cover_status("/cover/0", 0), 404);
    // Browsers leave the default port out of both, so on port 80 alone either form names this computer.
    const std::string default_port_forms[] = {
        "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://127.0.0.1\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: localhost:80\r\nOrigin: http://localhost\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: [::1]\r\nOrigin: http://[::1]:80\r\n\r\n",
    };
    for (const std::string& head : default_port_forms) {
        EXPECT_EQ(decide_request(head, 80, 16).status, 200) << head;
        EXPECT_EQ(decide_request(head, 8080, 16).status, 403) << head;
    }
    EXPECT_EQ(decide_request("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://localhost\r\n\r\n", 80, 16).status,
              403);
    EXPECT_EQ(request_head_end("GET / HTTP/1.1\r\nHost: x\r\n"), 0u);
}

} // namespace
} // namespace velmora
