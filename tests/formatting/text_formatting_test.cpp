#include "formatting/text_formatting.h"

#include <cmath>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "boundary/host_exceptions.h"
#include "boundary/host_services.h"
#include "host/doubles/player_services.h"
#include "settings/component_settings.h"

namespace velmora {
namespace {

class TextFormatting : public ::testing::Test {
protected:
    void SetUp() override { set_service_registry(&registry); }

    void TearDown() override
    {
        set_service_registry(nullptr);
        EXPECT_EQ(audit.findings(), "");
    }

    // What the host's compiler received for the script.
    std::string compiled_text(const char* script)
    {
        utf8_string out;
        format_now_playing(script, out);
        return compiler.received.empty() ? "(nothing compiled)" : compiler.received.back();
    }

    std::string evaluate(const char* script, bool expected_result = true)
    {
        utf8_string out;
        EXPECT_EQ(format_now_playing(script, out), expected_result) << script;
        return out.c_str();
    }

    stand_in::reference_audit audit;
    stand_in::player_services player{audit};
    stand_in::service_registry& registry = player.registry;
    stand_in::playback_control& control = player.control;
    stand_in::title_format_compiler& compiler = player.compiler;
    stand_in::track_handle_factory& factory = player.factory;
    stand_in::track_handle song{audit, "song", {{"artist", "A"}, {"title", "T"}}};
};

TEST_F(TextFormatting, VolumeTextRoundsHalvesAwayFromZeroAndKeepsTheSign)
{
    const std::vector<std::pair<double, std::string>> examples = {
        {0, "0.00"},       {-0.5, "-0.50"},   {-3.125, "-3.13"}, {-3.5, "-3.50"},           {-100, "-100.00"},
        {-0.004, "-0.00"}, {-0.005, "-0.01"}, {0.004, "0.00"},   {1.234, "1.23"},           {12.345, "12.35"},
        {-0.0, "0.00"},    {5, "5.00"},       {0.07, "0.07"},    {123456.789, "123456.79"},
    };
    for (const auto& [volume, text] : examples)
        EXPECT_STREQ(volume_text(volume).c_str(), text.c_str()) << volume;
    EXPECT_LE(volume_text(1e300).size(), 63u);
    EXPECT_STREQ(volume_text(std::nan("")).c_str(), "0.00");
}

TEST_F(TextFormatting, TheCompilerReceivesTheScriptWithTheVolumeInPlace)
{
    control.volume = -3.5f;
    EXPECT_EQ(compiled_text("%volume%"), "-3.50");
    EXPECT_EQ(compiled_text("a%volume%b%volume%c"), "a-3.50b-3.50c");
    EXPECT_EQ(compiled_text("%VOLUME% %Volume%"), "%VOLUME% %Volume%");
    EXPECT_EQ(compiled_text("%volume%volume%"), "-3.50volume%");
    EXPECT_EQ(control.volume_queries, 3u) << "one query per script that holds the field";
    control.volume = 0;
    EXPECT_EQ(compiled_text("$if(%isplaying%,%volume%)"), "$if(%isplaying%,0.00)");
}

TEST_F(TextFormatting, VolumeTakesTheClosingPercentOfDatetime)
{
    control.volume = -1;
    EXPECT_EQ(compiled_text("%datetime%volume%"), "%datetime-1.00");
}

TEST_F(TextFormatting, DatetimeIsReplacedByTheLocalTimeText)
{
    const std::string compiled = compiled_text("[%datetime%] %datetime%");
    const std::regex layout(R"(\[(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) )"
                            R"(\d\d \d\d:\d\d:\d\d \d{4}\] .{24})");
    EXPECT_TRUE(std::regex_match(compiled, layout)) << compiled;
    EXPECT_EQ(compiled.substr(1, 24), compiled.substr(27, 24)) << "one instant for every occurrence";
    EXPECT_EQ(control.volume_queries, 0u);
}

unsigned clock_reads = 0;

SYSTEMTIME fixed_clock()
{
    ++clock_reads;
    SYSTEMTIME time{};
    time.wYear = 2041;
    time.wMonth = 3;
    time.wDayOfWeek = 4;
    time.wDay = 7;
    time.wHour = 8;
    time.wMinute = 5;
    time.wSecond = 9;
    return time;
}

TEST_F(TextFormatting, DatetimeReadsTheClockOnceAndOnlyForTheField)
{
    clock_reads = 0;
    utf8_string text("not running");
    substitute_datetime_field(text, fixed_clock);
    EXPECT_EQ(clock_reads, 0u);
    text.assign("%datetime% / %datetime% %volume% %DATETIME%");
    substitute_datetime_field(text, fixed_clock);
    EXPECT_EQ(clock_reads, 1u);
    EXPECT_STREQ(text.c_str(), "Thu Mar 07 08:05:09 2041 / Thu Mar 07 08:05:09 2041 %volume% %DATETIME%");

    SYSTEMTIME december{};
    december.wYear = 2026;
    december.wMonth = 12;
    december.wDayOfWeek = 1;
    december.wDay = 7;
    december.wHour = 23;
    december.wMinute = 59;
    december.wSecond = 0;
    EXPECT_STREQ(datetime_text(december).c_str(), "Mon Dec 07 23:59:00 2026");
}

TEST_F(TextFormatting, TheDefaultScriptFollowsThePlaybackState)
{
    EXPECT_EQ(evaluate(default_now_playing_script), "stopped");
    control.playing = &song;
    EXPECT_EQ(evaluate(default_now_playing_script), "playing: A - T");
    control.paused = true;
    EXPECT_EQ(evaluate(default_now_playing_script), "paused: A - T");
    EXPECT_EQ(control.last_display_level, 3);
}

TEST_F(TextFormatting, APlayingTrackIsEvaluatedByThePlaybackControl)
{
    control.playing = &song;
    control.format_result = false;
    EXPECT_EQ(evaluate("%title%", false), "T");
    EXPECT_EQ(control.format_calls, 1u);
    EXPECT_EQ(song.format_calls, 0u);
    EXPECT_TRUE(factory.locations.empty());
}

TEST_F(TextFormatting, ATrackThatChangedBetweenQueriesEvaluatesItself)
{
    stand_in::track_handle next(audit, "next", {{"title", "Next"}});
    control.playing = &song;
    control.playing_after_first_query = &next;
    EXPECT_EQ(evaluate("%title%"), "T");
    EXPECT_EQ(song.format_calls, 1u);
    EXPECT_EQ(control.format_calls, 0u);
}

TEST_F(TextFormatting, NothingPlayingEvaluatesAnEmptyLocationHandle)
{
    control.format_result = false;
    EXPECT_EQ(evaluate("[%artist%]%path%|$if(%isplaying%,on,off)"), "|off");
    ASSERT_EQ(factory.locations.size(), 1u);
    EXPECT_EQ(factory.locations[0], std::make_pair(std::string(), std::uint32_t{0}));
    EXPECT_EQ(control.format_calls, 0u) << "the made handle evaluates the script, and the result is true";

    factory.yield_no_handle = true;
    EXPECT_EQ(evaluate("x", false), "x");
    EXPECT_EQ(control.format_calls, 1u) << "without a handle the playback control evaluates";
}

TEST_F(TextFormatting, AScriptThatDoesNotCompileLeavesTheOutputUntouched)
{
    control.playing = &song;
    utf8_string out("as it was");
    EXPECT_FALSE(format_now_playing("$if(%title%", out));
    EXPECT_STREQ(out.c_str(), "as it was");
    EXPECT_EQ(control.track_queries, 0u);
}

TEST_F(TextFormatting, RidersComeWithTheTextInOneFormattingOnlyWhereTogetherGivesWhatApartDoes)
{
    stand_in::track_handle located(audit, "located", {{"artist", "A"}, {"title", "T\x1F"}, {"path", "C:\\M\\a.mp3"}});
    control.playing = &located;
    control.paused = true;
    const auto formatted = [&](const char* script, rider* riders, std::size_t count, const std::string& text) {
        const std::size_t calls = control.format_calls;
        utf8_string out;
        EXPECT_TRUE(format_now_playing(script, out, riders, count)) << script;
        EXPECT_EQ(out.c_str(), text) << script;
        return control.format_calls - calls;
    };
    rider riders[] = {{"$if(%ispaused%,paused,playing)", {}}, {"$if(%isplaying%,%path%)", {}}};
    // Checked the first time; then one formatting gives all, the text's own separator kept.
    EXPECT_EQ(formatted("[%artist%] - %title%", riders, 2, "A - T\x1F"), 4u);
    EXPECT_EQ(formatted("[%artist%] - %title%", riders, 2, "A - T\x1F"), 1u);
    EXPECT_EQ(riders[0].value, "paused");
    EXPECT_EQ(riders[1].value, "C:\\M\\a.mp3");
    EXPECT_EQ(formatted("[%artist%] - %title% %volume%", riders + 1, 1, "A - T\x1F 0.00"), 3u);
    EXPECT_EQ(formatted("[%artist%] - %title% %volume%", riders + 1, 1, "A - T\x1F 0.00"), 1u);

    // A rider whose value would be cut wrong, as one after an open quote would in a lenient language, stays apart.
    rider cut[] = {{"x'\x1F'y", {}}};
    EXPECT_EQ(formatted("%title%", cut, 1, "T\x1F"), 3u);
    EXPECT_EQ(formatted("%title%", cut, 1, "T\x1F"), 2u);
    EXPECT_EQ(cut[0].value, "x\x1Fy");

    // A script that does not compile gives false and the riders all the same.
    utf8_string out;
    EXPECT_FALSE(format_now_playing("$if(%title%", out, riders, 2));
    EXPECT_EQ(riders[1].value, "C:\\M\\a.mp3");
    control.playing = nullptr;
    formatted("[%artist%] - %title%", riders, 2, " - ?");
    EXPECT_EQ(riders[0].value, "playing");
    EXPECT_EQ(riders[1].value, "");
}

TEST_F(TextFormatting, LookupFailuresPassThroughWithEveryReferenceReleased)
{
    stand_in::title_format_compiler second(audit);
    registry.add(kestrune::title_format_compiler_guid, second);
    utf8_string out;
    EXPECT_THROW(format_now_playing("%title%", out), exception_service_duplicated);

    registry.clear();
    registry.add(kestrune::playback_control_guid, control);
    registry.add(kestrune::title_format_compiler_guid, compiler);
    EXPECT_THROW(format_now_playing("%title%", out), exception_service_not_found) << "no factory, nothing playing";

    registry.clear();
    EXPECT_THROW(format_now_playing("%title%", out), exception_service_not_found);
}

TEST_F(TextFormatting, HostFailuresPassThroughWithEveryReferenceReleased)
{
    stand_in::track_handle next(audit, "next", {});
    struct failure_case {
        stand_in::failing_operation* where;
        const char* operation;
        bool playing;
        bool changing;
    };
    const std::vector<failure_case> cases = {
        {&control.failure, "query_volume", true, false},
        {&compiler.failure, "compile_script", true, false},
        {&control.failure, "query_playing_track", true, false},
        {&control.failure, "format_with_playback", true, false},
        {&song.failure, "format_track", true, true},
        {&factory.failure, "make_handle", false, false},
    };
    for (const failure_case& failing : cases) {
        control.playing = failing.playing ? &song : nullptr;
        control.playing_after_first_query = failing.changing ? &next : nullptr;
        failing.where->name = failing.operation;
        utf8_string out;
        EXPECT_THROW(format_now_playing("%volume% %title%", out), std::runtime_error) << failing.operation;
        failing.where->name.clear();
        EXPECT_EQ(audit.findings(), "") << failing.operation;
    }
}

} // namespace
} // namespace velmora
