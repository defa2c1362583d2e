#include "settings/settings_store.h"

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "boundary/host_exceptions.h"
#include "host/doubles/memory_streams.h"
#include "settings/added_outputs.h"
#include "settings/component_settings.h"
#include "tests/fuzz_rounds.h"
#include "tests/heap_sweep.h"
#include "tests/host_call_sweep.h"

namespace velmora {
namespace {

// The settings as a plain record, to compare, restore and model them.
struct settings_values {
    std::string script, path, exit;
    std::int32_t encoding, log;
    std::array<std::uint32_t, 10> events;
    std::array<std::uint32_t, 8> targets;
    std::vector<output_settings> added;
    bool overlay_on;
    std::uint16_t overlay_port;
    std::string cover_path, placeholder;

    bool operator==(const settings_values& other) const
    {
        return script == other.script && path == other.path && exit == other.exit && encoding == other.encoding &&
               log == other.log && events == other.events && targets == other.targets && added == other.added &&
               overlay_on == other.overlay_on && overlay_port == other.overlay_port && cover_path == other.cover_path &&
               placeholder == other.placeholder;
    }
};

const settings_values defaults = {
    "$if(%isplaying%,\r\n$if(%ispaused%,\r\npaused\r\n,\r\nplaying\r\n): %artist% - %title%,\r\nstopped\r\n)",
    "",
    "not running",
    1,
    0,
    {1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
    {1, 0, 0, 0, 0, 0, 0, 0},
    {},
    false,
    41837,
    "",
    "",
};

settings_values current()
{
    settings_values values{
        now_playing_script.text(), output_path.text(),     exit_text.text(),       output_encoding.value(),
        log_mode.value(),          event_settings.words(), output_targets.words(), added_outputs.outputs(),
        overlay.enabled(),         overlay.port(),         cover_settings.cover_path(), cover_settings.placeholder()};
    return values;
}

void apply(const settings_values& values)
{
    now_playing_script.set(values.script.c_str());
    output_path.set(values.path.c_str());
    exit_text.set(values.exit.c_str());
    output_encoding.set(values.encoding);
    log_mode.set(values.log);
    event_settings.set_words(values.events);
    output_targets.set_words(values.targets);
    added_outputs.outputs() = values.added;
    overlay.set(values.overlay_on, values.overlay_port);
    cover_settings.set(values.cover_path, values.placeholder);
}

const settings_values changed = {
    "%title%",
    "C:\\out.txt",
    "gone",
    3,
    1,
    {0, 1, 0, 1, 1, 250, 7, 8, 9, 10},
    {0, 1, 2, 3, 4, 5, 6, 7},
    {{false, "title.txt", "%title%", 2, true, "", false, true, false, true},
     {true, "%TEMP%\\\xC3\xA9.txt", "[%artist%]", 3, false, "bye", true, false, true, false}},
    true,
    8081,
    "%TEMP%\\cover \xC3\xA9",
    ""};

// Stored GUID bytes: 32-bit field and both 16-bit fields little-endian, then the eight bytes.
const std::string script_guid("\x74\xCD\x9D\xDA\xC3\x54\xC4\x43\xBA\xC5\x8B\x43\x70\xEB\x51\x65", 16);
const std::string path_guid("\x77\xE7\xC3\xCB\x0A\x9C\x5A\x42\x8A\x9A\x18\x88\xC3\xC8\xC9\xE6", 16);
const std::string exit_guid("\xE8\xDD\xFC\x0B\xB0\xEA\xA7\x4D\xA0\x4D\x7B\x91\x57\xB2\x36\xB4", 16);
const std::string encoding_guid("\x9A\x88\x39\x80\xFB\xCE\x08\x40\x99\x00\x67\xE8\x50\xA8\x8D\x82", 16);
const std::string log_guid("\xCE\xD4\xE4\x33\xAB\x7B\x10\x40\x9E\x81\xC7\xFF\x08\x7E\xE5\x1A", 16);
const std::string events_guid("\x67\xB6\x43\xA8\xA7\x65\xB3\x43\xB9\x54\x28\x31\x29\x87\x95\xD9", 16);
const std::string targets_guid("\x1A\x70\x22\x20\x3D\x8B\x89\x42\xAB\xD8\x78\x60\x4C\xF9\x3F\x00", 16);
const std::string added_guid("\x2A\x7C\x1E\x5B\x64\x3F\x1D\x4C\x9A\x07\xE2\x58\x31\xC6\x4B\x9D", 16);
const std::string overlay_guid("\xE9\xD2\x41\x7C\x5A\x0B\x83\x4F\xA6\x1D\x3E\x92\x58\xC7\x04\xBB", 16);
const std::string cover_guid("\xC7\x51\x8A\x3E\x2F\x6D\x90\x4B\x8E\x14\xA7\x5C\x29\xD3\x60\xF1", 16);
const std::string foreign_guid("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F\x10", 16);

std::string le32(std::uint32_t value)
{
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

std::string record(const std::string& guid, const std::string& payload)
{
    return guid + le32(static_cast<std::uint32_t>(payload.size())) + payload;
}

template <std::size_t count> std::string words(const std::array<std::uint32_t, count>& values)
{
    std::string bytes;
    for (std::uint32_t value : values)
        bytes += le32(value);
    return bytes;
}

void load(const std::string& data)
{
    stand_in::memory_read_stream stream(data);
    stand_in::scripted_abort abort;
    read_settings(stream, abort);
}

std::string save()
{
    stand_in::memory_write_stream stream;
    stand_in::scripted_abort abort;
    write_settings(stream, abort);
    return stream.bytes;
}

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override { apply(defaults); }
    void TearDown() override { apply(defaults); }
};

TEST_F(SettingsStore, DefaultsSaveAsSevenRecordsNewestFirst)
{
    const std::string expected = record(targets_guid, words(defaults.targets)) +
                                 record(events_guid, words(defaults.events)) + record(log_guid, le32(0)) +
                                 record(encoding_guid, le32(1)) + record(exit_guid, "not running") +
                                 record(path_guid, "") + record(script_guid, defaults.script);
    EXPECT_EQ(save(), expected);

    stand_in::memory_write_stream stream;
    stand_in::scripted_abort abort;
    write_settings(stream, abort);
    EXPECT_EQ(stream.write_calls, 20u) << "GUID, length and payload are separate writes; an empty payload is none";
}

TEST_F(SettingsStore, SavedSettingsLoadBackWhole)
{
    apply(changed);
    const std::string saved = save();
    const std::string newer_records =
        record(added_guid, encode_added_outputs(changed.added)) + record(overlay_guid, le32(1) + le32(1) + le32(8081)) +
        record(cover_guid,
               le32(1) + le32(static_cast<std::uint32_t>(changed.cover_path.size())) + changed.cover_path + le32(0));
    ASSERT_GE(saved.size(), newer_records.size());
    EXPECT_EQ(saved.substr(saved.size() - newer_records.size()), newer_records)
        << "the added outputs' record, then the overlay's, then the cover art's, come last";
    apply(defaults);
    load(saved);
    EXPECT_EQ(current(), changed);
}

TEST_F(SettingsStore, ADamagedAddedOutputsRecordChangesNoOutputAndLoadingGoesOn)
{
    const std::string valid = encode_added_outputs(changed.added);
    const auto with_word = [&](std::size_t offset, std::uint32_t value) {
        return valid.substr(0, offset) + le32(value) + valid.substr(offset + 4);
    };
    std::string zero_in_text = valid;
    zero_in_text[valid.find("title.txt") + 2] = '\0';
    const std::string damaged[] = {
        valid.substr(0, valid.size() - 1),
        valid + "x",
        with_word(0, 2),
        with_word(4, 16),
        with_word(4, 3),
        with_word(8, 0x40),
        with_word(12, 4),
        with_word(16, 0xFFFFFFF0),
        zero_in_text,
        "",
    };
    for (const std::string& payload : damaged) {
        apply(changed);
        load(record(added_guid, payload) + record(log_guid, le32(0)));
        EXPECT_EQ(added_outputs.outputs(), changed.added) << "payload of " << payload.size() << " bytes";
        EXPECT_EQ(log_mode.value(), 0);
    }
    // A record that the stream's end cuts short changes nothing, however whole the bytes that did arrive look.
    const std::string overlay_whole = le32(1) + le32(0) + le32(80);
    for (const auto& [guid, payload] :
         {std::pair(added_guid, encode_added_outputs({})), std::pair(overlay_guid, overlay_whole)}) {
        apply(changed);
        EXPECT_THROW(load(guid + le32(static_cast<std::uint32_t>(payload.size() + 1)) + payload),
                     kestrune_io::exception_io_data_truncation);
        EXPECT_TRUE(current() == changed) << "a record of " << payload.size() << " bytes cut short";
    }
    // The overlay's record the same way: a version, a switch of 0 or 1 and a port of 1 to 65535, exactly.
    const std::string overlay_damaged[] = {le32(1) + le32(0),
                                           le32(1) + le32(0) + le32(80) + "x",
                                           le32(2) + le32(0) + le32(80),
                                           le32(1) + le32(2) + le32(80),
                                           le32(1) + le32(0) + le32(0),
                                           le32(1) + le32(0) + le32(65536)};
    for (const std::string& payload : overlay_damaged) {
        apply(changed);
        load(record(overlay_guid, payload) + record(log_guid, le32(0)));
        EXPECT_TRUE(overlay.enabled() && overlay.port() == 8081) << "payload of " << payload.size() << " bytes";
        EXPECT_EQ(log_mode.value(), 0);
    }
    // The cover art's: a version, then two counted texts that fill the record exactly, without a zero byte.
    const std::string cover_damaged[] = {le32(1) + le32(1) + "a", le32(1) + le32(1) + "a" + le32(0) + "x",
                                         le32(2) + le32(1) + "a" + le32(0), le32(1) + le32(0xFFFFFFF0) + "a" + le32(0),
                                         le32(1) + le32(1) + std::string(1, '\0') + le32(0)};
    for (const std::string& payload : cover_damaged) {
        apply(changed);
        load(record(cover_guid, payload) + record(log_guid, le32(0)));
        EXPECT_EQ(cover_settings.cover_path(), changed.cover_path) << "payload of " << payload.size() << " bytes";
        EXPECT_EQ(log_mode.value(), 0);
    }
    load(record(cover_guid, le32(1) + le32(0) + le32(3) + "p.p"));
    EXPECT_TRUE(cover_settings.cover_path().empty() && cover_settings.placeholder() == "p.p");
    cover_settings.set("", "");
    load(record(overlay_guid, le32(1) + le32(0) + le32(65535)));
    EXPECT_TRUE(!overlay.enabled() && overlay.port() == 65535);
    overlay.set(false, 41837);
    load(record(added_guid, encode_added_outputs({})));
    EXPECT_TRUE(added_outputs.outputs().empty());
    EXPECT_EQ(save(), record(targets_guid, words(changed.targets)) + record(events_guid, words(changed.events)) +
                          record(log_guid, le32(0)) + record(encoding_guid, le32(3)) + record(exit_guid, "gone") +
                          record(path_guid, "C:\\out.txt") + record(script_guid, "%title%"))
        << "without added outputs and with the overlay's and the cover art's defaults, the seven records of old alone";
}

TEST_F(SettingsStore, AnEmptyConfigurationKeepsEveryDefault)
{
    load("");
    EXPECT_EQ(current(), defaults);
}

TEST_F(SettingsStore, OnlyTheStoredRecordsChange)
{
    load(record(log_guid, le32(1)) + record(encoding_guid, le32(2)));
    settings_values expected = defaults;
    expected.log = 1;
    expected.encoding = 2;
    EXPECT_EQ(current(), expected);
}

TEST_F(SettingsStore, AShortBlockChangesNoWordAndALongOneGivesItsFirstWords)
{
    load(record(events_guid, std::string(32, '\x05')) + record(log_guid, le32(1)));
    settings_values expected = defaults;
    expected.log = 1;
    EXPECT_EQ(current(), expected) << "a short block is not applied word by word, and loading goes on";

    load(record(events_guid, words(changed.events) + std::string(8, '\x7F')) + record(encoding_guid, le32(0)));
    expected.events = changed.events;
    expected.encoding = 0;
    EXPECT_EQ(current(), expected);
}

TEST_F(SettingsStore, AShortIntegerIsIgnored)
{
    load(record(encoding_guid, "\x03\x00") + record(exit_guid, "after"));
    EXPECT_EQ(output_encoding.value(), 1);
    EXPECT_STREQ(exit_text.text(), "after");
}

TEST_F(SettingsStore, AForeignRecordIsSkippedWhole)
{
    load(record(log_guid, le32(1)) + record(foreign_guid, std::string(1000, '\xAA')) + record(exit_guid, "bye"));
    EXPECT_EQ(log_mode.value(), 1);
    EXPECT_STREQ(exit_text.text(), "bye");
}

TEST_F(SettingsStore, StringsOfWholePiecesAreReadWhole)
{
    for (std::size_t length : {255u, 256u, 257u, 512u, 1000u}) {
        const std::string text(length, 'p');
        load(record(path_guid, text) + record(log_guid, le32(static_cast<std::uint32_t>(length % 2))));
        EXPECT_EQ(output_path.text(), text);
        EXPECT_EQ(log_mode.value(), static_cast<std::int32_t>(length % 2));
    }
    load(record(path_guid, ""));
    EXPECT_STREQ(output_path.text(), "");
}

TEST_F(SettingsStore, DataEndingInsideAPayloadKeepsWhatCameBeforeAndThrows)
{
    EXPECT_THROW(load(record(log_guid, le32(1)) + path_guid + le32(10) + "C:\\pa"),
                 kestrune_io::exception_io_data_truncation);
    EXPECT_EQ(log_mode.value(), 1);
    EXPECT_STREQ(output_path.text(), "C:\\pa");

    EXPECT_THROW(load(encoding_guid + le32(4) + "\x02"), kestrune_io::exception_io_data_truncation);
    EXPECT_EQ(output_encoding.value(), 1);
    EXPECT_THROW(load(foreign_guid + le32(100) + "abc"), kestrune_io::exception_io_data_truncation);
    EXPECT_THROW(load(log_guid + "\x04\x00"), kestrune_io::exception_io_data_truncation);
}

TEST_F(SettingsStore, APartialGuidAtTheEndIsIgnored)
{
    load(record(log_guid, le32(1)) + log_guid.substr(0, 9));
    EXPECT_EQ(log_mode.value(), 1);
}

TEST_F(SettingsStore, AnAbortIsNeverSwallowed)
{
    for (unsigned question = 1; question <= 4; ++question) {
        stand_in::memory_read_stream stream(record(log_guid, le32(1)) + record(events_guid, words(changed.events)));
        stand_in::scripted_abort abort(question);
        EXPECT_THROW(read_settings(stream, abort), kestrune_io::exception_aborted) << question;
    }
    for (unsigned question = 1; question <= 3; ++question) {
        stand_in::memory_write_stream stream;
        stand_in::scripted_abort abort(question);
        EXPECT_THROW(write_settings(stream, abort), kestrune_io::exception_aborted) << question;
    }
}

TEST_F(SettingsStore, SavingStopsAtTheFirstStreamFailureWithEarlierRecordsWritten)
{
    stand_in::memory_write_stream stream;
    stand_in::scripted_abort abort;
    stream.fail_after(72);
    EXPECT_THROW(write_settings(stream, abort), kestrune_io::exception_io);
    EXPECT_EQ(stream.bytes, record(targets_guid, words(defaults.targets)) + events_guid + le32(40));
}

TEST_F(SettingsStore, ResetTouchesOnlyScriptExitTextAndEncoding)
{
    apply(changed);
    restore_page_defaults();
    settings_values expected = changed;
    expected.script = defaults.script;
    expected.exit = defaults.exit;
    expected.encoding = defaults.encoding;
    EXPECT_EQ(current(), expected);
}

// What loading must do, worked out independently record by record: the final values and whether it throws.
struct load_outcome {
    settings_values values;
    bool truncated;
};

// The cover art's payload the same way: a version of 1, two counted texts without a zero byte, nothing after.
void model_cover_art(const std::string& payload, settings_values& values)
{
    std::string texts[2];
    std::size_t at = 4;
    if (payload.size() < 4 || payload.substr(0, 4) != le32(1))
        return;
    for (std::string& text : texts) {
        std::uint32_t count = 0;
        if (payload.size() - at < 4)
            return;
        std::memcpy(&count, payload.data() + at, 4);
        at += 4;
        if (payload.size() - at < count)
            return;
        text = payload.substr(at, count);
        at += count;
        if (text.find('\0') != std::string::npos)
            return;
    }
    if (at == payload.size()) {
        values.cover_path = texts[0];
        values.placeholder = texts[1];
    }
}

// The added outputs' payload read as its format describes it; a damaged one changes nothing.
void model_added_outputs(const std::string& payload, std::vector<output_settings>& outputs)
{
    std::size_t at = 0;
    const auto word = [&](std::uint32_t& value) {
        if (payload.size() - at < 4)
            return false;
        std::memcpy(&value, payload.data() + at, 4);
        at += 4;
        return true;
    };
    const auto text = [&](std::string& value) {
        std::uint32_t length = 0;
        if (!word(length) || payload.size() - at < length)
            return false;
        value = payload.substr(at, length);
        at += length;
        return value.find('\0') == std::string::npos;
    };
    std::uint32_t version = 0, count = 0;
    if (!word(version) || version != 1 || !word(count) || count > 15)
        return;
    std::vector<output_settings> read(count);
    for (output_settings& output : read) {
        std::uint32_t flags = 0, encoding = 0;
        if (!word(flags) || flags >= 64 || !word(encoding) || encoding > 3 || !text(output.path) ||
            !text(output.script) || !text(output.exit_text))
            return;
        output = {(flags & 1) != 0,  output.path,      output.script,    static_cast<std::int32_t>(encoding),
                  (flags & 2) != 0,  output.exit_text, (flags & 4) != 0, (flags & 8) != 0,
                  (flags & 16) != 0, (flags & 32) != 0};
    }
    if (at == payload.size())
        outputs = read;
}

load_outcome model_load(const std::string& data, settings_values values)
{
    std::size_t position = 0;
    const auto take = [&](std::size_t count) {
        const std::size_t available = std::min(count, data.size() - position);
        std::string bytes = data.substr(position, available);
        position += available;
        return bytes;
    };
    for (;;) {
        const std::string guid = take(16);
        if (guid.size() < 16)
            return {values, false};
        const std::string length_bytes = take(4);
        if (length_bytes.size() < 4)
            return {values, true};
        std::uint32_t length;
        std::memcpy(&length, length_bytes.data(), 4);
        const std::string payload = take(length);
        const auto as_int = [&](std::int32_t& value) {
            if (payload.size() >= 4)
                std::memcpy(&value, payload.data(), 4);
        };
        const auto as_text = [&](std::string& value) { value = std::string(payload.c_str()); };
        if (guid == script_guid)
            as_text(values.script);
        else if (guid == path_guid)
            as_text(values.path);
        else if (guid == exit_guid)
            as_text(values.exit);
        else if (guid == encoding_guid)
            as_int(values.encoding);
        else if (guid == log_guid)
            as_int(values.log);
        else if (guid == events_guid && payload.size() >= 40)
            std::memcpy(values.events.data(), payload.data(), 40);
        else if (guid == targets_guid && payload.size() >= 32)
            std::memcpy(values.targets.data(), payload.data(), 32);
        else if (guid == added_guid && payload.size() == length)
            model_added_outputs(payload, values.added);
        else if (guid == overlay_guid && payload.size() == 12 && length == 12) {
            std::uint32_t stored[3];
            std::memcpy(stored, payload.data(), 12);
            if (stored[0] == 1 && stored[1] <= 1 && stored[2] >= 1 && stored[2] <= 65535) {
                values.overlay_on = stored[1] == 1;
                values.overlay_port = static_cast<std::uint16_t>(stored[2]);
            }
        } else if (guid == cover_guid && payload.size() == length)
            model_cover_art(payload, values);
        if (payload.size() < length)
            return {values, true};
    }
}

std::string mutate(std::string data, std::mt19937& random)
{
    const auto pick = [&](std::size_t limit) { return std::uniform_int_distribution<std::size_t>(0, limit)(random); };
    switch (pick(4)) {
    case 0:
        return data.substr(0, pick(data.size()));
    case 1:
        if (!data.empty())
            data[pick(data.size() - 1)] = static_cast<char>(pick(255));
        return data;
    case 2: {
        const std::size_t at = pick(data.size());
        return data.substr(0, at) + le32(static_cast<std::uint32_t>(pick(600))) + data.substr(at);
    }
    case 3: {
        // A length field of some record, anywhere in the first records, made smaller or larger.
        const std::size_t at = 16 + 36 * pick(2);
        if (at + 4 <= data.size())
            data.replace(at, 4, le32(static_cast<std::uint32_t>(pick(80))));
        return data;
    }
    default:
        return data.substr(pick(data.size()));
    }
}

TEST_F(SettingsStore, MutatedAndTruncatedConfigurationsLoadAsTheFormatSays)
{
    apply(changed);
    const std::string valid = save() + record(foreign_guid, "extra");
    std::mt19937 random(fuzz_seed(7));
    for (unsigned long round = 0; round < fuzz_rounds(3000); ++round) {
        std::string data = mutate(valid, random);
        if (round % 3 == 0)
            data = mutate(data, random);
        apply(defaults);
        const load_outcome expected = model_load(data, defaults);
        bool truncated = false;
        try {
            load(data);
        } catch (const kestrune_io::exception_io_data_truncation&) {
            truncated = true;
        }
        ASSERT_EQ(truncated, expected.truncated) << "round " << round;
        ASSERT_TRUE(current() == expected.values) << "round " << round;
    }
}

// A load that stopped part-way leaves every setting with its old or its whole new value.
void expect_old_or_new(const settings_values& now)
{
    EXPECT_TRUE(now.script == defaults.script || now.script == changed.script) << now.script;
    EXPECT_TRUE(now.path == defaults.path || now.path == changed.path) << now.path;
    EXPECT_TRUE(now.exit == defaults.exit || now.exit == changed.exit) << now.exit;
    EXPECT_TRUE(now.encoding == defaults.encoding || now.encoding == changed.encoding);
    EXPECT_TRUE(now.log == defaults.log || now.log == changed.log);
    EXPECT_TRUE(now.events == defaults.events || now.events == changed.events);
    EXPECT_TRUE(now.targets == defaults.targets || now.targets == changed.targets);
    EXPECT_TRUE(now.added == defaults.added || now.added == changed.added);
    EXPECT_TRUE(now.overlay_port == defaults.overlay_port || now.overlay_port == changed.overlay_port);
}

TEST_F(SettingsStore, EveryStreamFailurePassesAndLeavesNoPartialValue)
{
    apply(changed);
    const std::string saved = save();
    const unsigned load_failures = sweep_host_calls([] { apply(defaults); },
                                                    [&] {
                                                        stand_in::memory_read_stream stream(saved);
                                                        stand_in::scripted_abort abort;
                                                        read_settings(stream, abort);
                                                    },
                                                    [](unsigned, bool) { expect_old_or_new(current()); }, 100);
    EXPECT_GE(load_failures, 20u);

    stand_in::memory_write_stream stream;
    sweep_host_calls([&] { stream = stand_in::memory_write_stream(); },
                     [&] {
                         stand_in::scripted_abort abort;
                         write_settings(stream, abort);
                     },
                     [&](unsigned, bool met) {
                         if (met) {
                             EXPECT_EQ(saved.compare(0, stream.bytes.size(), stream.bytes), 0)
                                 << "what was written is the start";
                         }
                     },
                     100);
}

TEST_F(SettingsStore, EveryFailedHeapRequestPassesAndLeavesNoPartialValue)
{
    apply(changed);
    const std::string saved = save();
    EXPECT_GE(sweep_heap_requests([] { apply(defaults); },
                                  [&] {
                                      stand_in::memory_read_stream stream(saved);
                                      stand_in::scripted_abort abort;
                                      read_settings(stream, abort);
                                  },
                                  [] { expect_old_or_new(current()); }),
              3u);
    EXPECT_TRUE(current() == changed);

    std::string written;
    EXPECT_GE(sweep_heap_requests([] {},
                                  [&] {
                                      stand_in::memory_write_stream stream;
                                      stand_in::scripted_abort abort;
                                      write_settings(stream, abort);
                                      written = stream.bytes;
                                  },
                                  [] { EXPECT_TRUE(current() == changed); }),
              7u);
    EXPECT_EQ(written, saved);
}

} // namespace
} // namespace velmora
