#include "text/utf8_string.h"

#include <cstring>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "boundary/host_exceptions.h"
#include "win32/heap_memory.h"

namespace velmora {
namespace {

// Makes the nth heap request fail while it lives.
struct failing_heap_request {
    explicit failing_heap_request(unsigned nth) { fail_heap_request(nth); }
    ~failing_heap_request() { fail_heap_request(0); }
};

template <typename string_type>
void expect_sizes(const string_type& text, std::size_t length, std::size_t reserved, std::size_t allocated)
{
    EXPECT_EQ(text.size(), length);
    EXPECT_EQ(text.reserved_size(), reserved);
    EXPECT_EQ(text.allocated_size(), allocated);
}

TEST(Utf8String, GrowsWithSixteenBytesOfSlack)
{
    utf8_string text;
    expect_sizes(text, 0, 0, 0);
    text.append("abc");
    expect_sizes(text, 3, 20, 20);
    text.append("0123456789abcdefg");
    expect_sizes(text, 20, 37, 37);
    EXPECT_STREQ(text.text(), "abc0123456789abcdefg");
}

TEST(Utf8String, ShrinksOnlyWhenMoreThanThirtyTwoBytesWouldBeSpare)
{
    utf8_string text;
    text.append(std::string(100, 'x').c_str());
    expect_sizes(text, 100, 117, 117);
    text.shorten(90);
    expect_sizes(text, 90, 117, 117);
    text.shorten(84);
    expect_sizes(text, 84, 117, 117);
    text.shorten(83);
    expect_sizes(text, 83, 84, 84);
    text.shorten(0);
    expect_sizes(text, 0, 1, 1);
    EXPECT_STREQ(text.text(), "");
}

TEST(Utf8String, AssigningEmptyTextAllocatesButGivesTheStaticEmptyText)
{
    utf8_string text;
    text.assign("");
    expect_sizes(text, 0, 17, 17);
    utf8_string other;
    EXPECT_EQ(text.text(), other.text());
}

TEST(Utf8String, AppendStopsAtTheLimitOrTheZeroByte)
{
    utf8_string text;
    text.append("abc", 2);
    text.append("ab", 10);
    text.append(nullptr);
    EXPECT_STREQ(text.text(), "abab");
    text.assign("xyz", 1);
    EXPECT_STREQ(text.text(), "x");
    EXPECT_EQ(text.length(), 1u);
}

TEST(Utf8String, AppendBytesCopiesZeroBytesToo)
{
    utf8_string text("a");
    text.append_bytes("b\0c", 3);
    EXPECT_EQ(text.view(), std::string_view("ab\0c", 4));
}

TEST(Utf8String, TextOfItsOwnBlockCanBeAppendedAndAssigned)
{
    utf8_string text("0123456789");
    text.append(text.text());
    EXPECT_STREQ(text.text(), "01234567890123456789");
    text.append(text.text() + 15, 3);
    EXPECT_STREQ(text.text(), "01234567890123456789567");
    text.assign(text.text() + 20);
    EXPECT_STREQ(text.text(), "567");

    doubling_utf8_string doubled("abcde");
    doubled.append(doubled.text());
    EXPECT_STREQ(doubled.text(), "abcdeabcde");
}

TEST(Utf8String, EraseAndInsertClampToTheText)
{
    utf8_string text("abcdef");
    text.erase(2, 100);
    EXPECT_STREQ(text.text(), "ab");
    text.insert(100, "xy", 2);
    EXPECT_STREQ(text.text(), "abxy");
    text.insert(1, "-", 1);
    text.erase(0, 1);
    EXPECT_STREQ(text.text(), "-bxy");
    text.erase(10, 1);
    EXPECT_STREQ(text.text(), "-bxy");

    utf8_string fresh;
    fresh.insert(0, "q", 1);
    EXPECT_STREQ(fresh.text(), "q");
    EXPECT_EQ(fresh.reserved_size(), 18u);
}

TEST(Utf8String, EraseShrinksTheBlockLikeShorten)
{
    utf8_string text(std::string(100, 'x').c_str());
    text.erase(0, 90);
    expect_sizes(text, 10, 11, 11);
}

TEST(Utf8String, BufferIsZeroFilledAndClosedAtTheFirstZeroByte)
{
    utf8_string text("old text");
    char* buffer = text.open_buffer(40);
    EXPECT_EQ(text.reserved_size(), 57u);
    for (std::size_t index = 0; index < text.reserved_size(); ++index)
        ASSERT_EQ(buffer[index], '\0');
    std::memcpy(buffer, "filled", 6);
    text.close_buffer();
    expect_sizes(text, 6, 7, 7);
    EXPECT_STREQ(text.text(), "filled");
}

TEST(Utf8String, BufferFilledToTheLastReservedByteKeepsItsTerminator)
{
    utf8_string text;
    char* buffer = text.open_buffer(3);
    std::memset(buffer, 'z', text.reserved_size());
    text.close_buffer();
    EXPECT_EQ(text.size(), 19u);
    EXPECT_EQ(text.text()[19], '\0');
}

TEST(Utf8String, CloseWithoutOpenOnAnEmptyStringDoesNothing)
{
    utf8_string text;
    text.close_buffer();
    expect_sizes(text, 0, 0, 0);
}

TEST(Utf8String, OpeningTheLargestBufferOverflowsAndChangesNothing)
{
    utf8_string text("keep");
    EXPECT_THROW(text.open_buffer(0xFFFFFFFFu), exception_overflow);
    try {
        text.open_buffer(0xFFFFFFFFu);
    } catch (const exception_overflow& error) {
        EXPECT_STREQ(error.what(), "Overflow");
    }
    EXPECT_STREQ(text.text(), "keep");
    expect_sizes(text, 4, 21, 21);
}

TEST(Utf8String, SizesBeyondThirtyTwoBitsAreRefusedBeforeAnythingIsCopied)
{
    utf8_string text("abc");
    EXPECT_THROW(text.append_bytes(text.c_str(), 0xFFFFFFF0u), std::bad_alloc);
    EXPECT_THROW(text.open_buffer(0xFFFFFFF0u), std::bad_alloc);
    doubling_utf8_string doubled("abc");
    EXPECT_THROW(doubled.open_buffer(0x80000001u), std::bad_alloc);
    EXPECT_STREQ(text.text(), "abc");
    EXPECT_STREQ(doubled.text(), "abc");
}

TEST(Utf8String, FailedGrowthLeavesTheStringUnchanged)
{
    utf8_string text("short");
    {
        failing_heap_request failure(1);
        EXPECT_THROW(text.append(std::string(64, 'x').c_str()), std::bad_alloc);
    }
    EXPECT_STREQ(text.text(), "short");
    expect_sizes(text, 5, 22, 22);
    {
        failing_heap_request failure(1);
        EXPECT_THROW(text.insert(0, std::string(64, 'y').c_str(), 64), std::bad_alloc);
    }
    {
        failing_heap_request failure(1);
        EXPECT_THROW(text.open_buffer(100), std::bad_alloc);
    }
    EXPECT_STREQ(text.text(), "short");

    // Self-append needs a copy first; the copy's failure leaves the text too.
    failing_heap_request failure(1);
    EXPECT_THROW(text.append(text.text()), std::bad_alloc);
    EXPECT_STREQ(text.text(), "short");
}

TEST(Utf8String, FailedShrinkKeepsTheLargerBlock)
{
    utf8_string text(std::string(100, 'x').c_str());
    failing_heap_request failure(1);
    text.shorten(2);
    EXPECT_STREQ(text.text(), "xx");
    expect_sizes(text, 2, 117, 117);
}

TEST(Utf8String, CopiesAndMovesOwnTheirBlocks)
{
    utf8_string original("text");
    utf8_string copy(original);
    original.assign("changed");
    EXPECT_STREQ(copy.text(), "text");
    utf8_string moved(std::move(copy));
    EXPECT_STREQ(moved.text(), "text");
    EXPECT_EQ(copy.size(), 0u);
    copy = moved;
    EXPECT_STREQ(copy.text(), "text");
}

TEST(DoublingUtf8String, AllocatesPowersOfTwoAndReservesTheNeededSize)
{
    doubling_utf8_string text;
    text.append("12345");
    expect_sizes(text, 5, 6, 8);
    text.append("678");
    expect_sizes(text, 8, 9, 16);
    text.append(std::string(100, 'x').c_str());
    expect_sizes(text, 108, 109, 128);
    text.shorten(1);
    expect_sizes(text, 1, 2, 128);
    text.assign("");
    expect_sizes(text, 0, 1, 128);
}

TEST(DoublingUtf8String, FailedGrowthLeavesTheStringUnchanged)
{
    doubling_utf8_string text("abc");
    failing_heap_request failure(1);
    EXPECT_THROW(text.append("defghijk"), std::bad_alloc);
    EXPECT_STREQ(text.text(), "abc");
    expect_sizes(text, 3, 4, 4);
}

// The host calls the operations by slot, with the string in ECX; these calls go the same way.
using append_slot = void(__thiscall*)(void*, const char*, std::size_t);
using text_slot = const char*(__thiscall*)(void*);
using assign_slot = void(__thiscall*)(void*, const char*, std::size_t);
using shorten_slot = void(__thiscall*)(void*, std::size_t);
using length_slot = std::size_t(__thiscall*)(void*);
using open_buffer_slot = char*(__thiscall*)(void*, std::size_t);
using close_buffer_slot = void(__thiscall*)(void*);

template <typename slot_type> slot_type slot(void* object, int index)
{
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<slot_type>(table[index]);
}

template <typename string_type> void exercise_through_the_table()
{
    string_type text;
    void* object = &text;
    slot<assign_slot>(object, 2)(object, "hello", SIZE_MAX);
    slot<append_slot>(object, 0)(object, " world!", 6);
    EXPECT_STREQ(slot<text_slot>(object, 1)(object), "hello world");
    slot<shorten_slot>(object, 3)(object, 5);
    EXPECT_EQ(slot<length_slot>(object, 4)(object), 5u);
    char* buffer = slot<open_buffer_slot>(object, 5)(object, 8);
    std::memcpy(buffer, "host", 4);
    slot<close_buffer_slot>(object, 6)(object);
    EXPECT_STREQ(text.text(), "host");

    // The fields follow the table pointer in order: block, reserved, allocated, length.
    const auto* fields = reinterpret_cast<const std::uint32_t*>(static_cast<const char*>(object) + sizeof(void*));
    EXPECT_EQ(reinterpret_cast<const char*>(fields[0]), text.text());
    EXPECT_EQ(fields[1], text.reserved_size());
    EXPECT_EQ(fields[2], text.allocated_size());
    EXPECT_EQ(fields[3], 4u);
}

TEST(Utf8String, HostCallsReachEachOperationBySlot)
{
    exercise_through_the_table<utf8_string>();
    exercise_through_the_table<doubling_utf8_string>();
}

} // namespace
} // namespace velmora
