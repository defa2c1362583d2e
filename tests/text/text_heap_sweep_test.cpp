#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "tests/heap_sweep.h"
#include "text/text_conversion.h"
#include "text/utf8_string.h"

namespace velmora {
namespace {

const std::string long_text(300, 'q');

struct string_operation {
    const char* name;
    std::function<void(utf8_string&)> run;
};

// Every operation that can grow a string, applied to a short and to a long string: a failure anywhere keeps the
// string's text and sizes as they were.
TEST(TextHeapSweep, AFailedRequestKeepsEveryStringAsItWas)
{
    const string_operation operations[] = {
        {"append", [](utf8_string& text) { text.append(long_text.c_str()); }},
        {"self-append", [](utf8_string& text) { text.append(text.c_str()); }},
        {"assign", [](utf8_string& text) { text.assign(long_text.c_str()); }},
        {"insert", [](utf8_string& text) { text.insert(1, long_text.data(), long_text.size()); }},
        {"open buffer", [](utf8_string& text) { text.open_buffer(500); }},
        {"copy assign", [](utf8_string& text) { text = utf8_string(long_text.c_str()); }},
        {"append bytes", [](utf8_string& text) { text.append_bytes("\xC3\xA9", 2); }},
    };
    for (const char* start : {"ab", "0123456789012345678901234567890123456789012345678901234567890123456789"}) {
        for (const string_operation& operation : operations) {
            SCOPED_TRACE(std::string(operation.name) + " on " + start);
            utf8_string text;
            std::size_t reserved = 0;
            const unsigned requests = sweep_heap_requests(
                [&] {
                    text.assign(start);
                    reserved = text.reserved_size();
                },
                [&] { operation.run(text); },
                [&] {
                    EXPECT_STREQ(text.c_str(), start);
                    EXPECT_EQ(text.reserved_size(), reserved);
                });
            EXPECT_LE(requests, 2u);
        }
    }
}

TEST(TextHeapSweep, EveryConversionFreesWhatItTookWhenARequestFails)
{
    const std::string mixed = "h\xC3\xA9llo \xF0\x9F\x8E\xB5 " + long_text;
    const std::wstring wide = L"h\u00E9llo \U0001F3B5 " + std::wstring(300, L'q');
    std::string result;
    const auto clear = [&] { result.clear(); };
    const auto nothing_made = [&] { EXPECT_EQ(result, ""); };
    EXPECT_GE(sweep_heap_requests(
                  clear, [&] { result = wide_to_utf8(utf8_to_wide(mixed.c_str()).text()).text(); }, nothing_made),
              2u);
    EXPECT_EQ(result, mixed);
    EXPECT_GE(sweep_heap_requests(
                  clear, [&] { result = utf8_to_ansi(mixed.c_str()).text(); }, nothing_made),
              2u);
    EXPECT_EQ(result.substr(0, 3), "h\xE9l");
    EXPECT_GE(sweep_heap_requests(
                  clear, [&] { result = wide_to_utf8(wide.c_str()).text(); }, nothing_made),
              1u);
    EXPECT_EQ(result, mixed);
}

} // namespace
} // namespace velmora
