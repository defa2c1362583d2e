#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "art/cover_art.h"
#include "art/image_facts.h"
#include "tests/fuzz_rounds.h"

namespace velmora {
namespace {

// The tracks made by make_tracks.py with Debian's encoders and taggers, in the folder the test run names.
std::wstring tracks_folder()
{
    const wchar_t* folder = _wgetenv(L"VELMORA_ART_TRACKS");
    return folder != nullptr ? folder : L"";
}

struct found_art {
    std::optional<cover_art> art;
    bool timed_out = false;
};

found_art find(const std::wstring& relative, unsigned long long deadline = GetTickCount64() + 10000)
{
    found_art found;
    found.art = find_cover_art(tracks_folder() + L"\\" + relative, deadline, found.timed_out);
    return found;
}

class CoverArt : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (tracks_folder().empty())
            GTEST_SKIP() << "VELMORA_ART_TRACKS names no folder of tracks";
    }
};

TEST_F(CoverArt, EveryContainersFrontCoverIsFoundAsItsTaggerWroteIt)
{
    // Each holds the 300x300 JPEG as its front cover; some hold a back cover before it.
    for (const wchar_t* track :
         {L"mutagen id3v2.4.mp3", L"id3v2.2.mp3", L"metaflac.flac", L"mutagen.m4a", L"mutagen vorbis.ogg",
          L"opusenc.opus", L"mutagen ogg flac.oga", L"mutagen.wma", L"mutagen ape.mp3"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(track)));
        const found_art found = find(std::wstring(L"embedded\\") + track);
        ASSERT_TRUE(found.art.has_value());
        EXPECT_EQ(found.art->source, art_source::embedded_front_cover);
        EXPECT_EQ(found.art->facts.type, image_type::jpeg);
        EXPECT_EQ(found.art->facts.width, 300u);
        EXPECT_EQ(found.art->facts.height, 300u);
        EXPECT_FALSE(found.timed_out);
    }
}

TEST_F(CoverArt, TheFolderComesNextInTheOrderOfNamesThenAnEmbeddedPictureOfAnotherType)
{
    // LAME's --ti gives its picture the type "other".
    found_art found = find(L"embedded\\lame id3v2.3.mp3");
    ASSERT_TRUE(found.art.has_value());
    EXPECT_EQ(found.art->source, art_source::embedded_picture);
    EXPECT_EQ(found.art->facts.width, 300u);

    // cover.jpg there is no picture, so FOLDER.PNG comes before album.png.
    found = find(L"beside\\\u00dcn\u00efc\u00f8d\u00e9 track.mp3");
    ASSERT_TRUE(found.art.has_value());
    EXPECT_EQ(found.art->source, art_source::folder_image);
    EXPECT_EQ(found.art->facts.width, 64u);
    EXPECT_EQ(describe_source(*found.art), "FOLDER.PNG beside the track");

    found = find(L"Album \u00f1\\Disc 2\\track.flac");
    ASSERT_TRUE(found.art.has_value());
    EXPECT_EQ(found.art->source, art_source::folder_image);
    EXPECT_EQ(found.art->facts.type, image_type::jpeg);

    found = find(L"other type and folder\\track.flac");
    ASSERT_TRUE(found.art.has_value());
    EXPECT_EQ(found.art->source, art_source::folder_image);

    found = find(L"other type alone\\track.flac");
    ASSERT_TRUE(found.art.has_value());
    EXPECT_EQ(found.art->source, art_source::embedded_picture);
    EXPECT_EQ(found.art->facts.type, image_type::png);
    EXPECT_EQ(found.art->facts.width, 120u);
}

TEST_F(CoverArt, DamagedTagsAndPlacesThatAreNoFileFallThrough)
{
    for (const wchar_t* track : {L"cut short.mp3", L"huge frame.mp3", L"lying picture block.flac"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(track)));
        const found_art found = find(std::wstring(L"damaged\\") + track);
        ASSERT_TRUE(found.art.has_value());
        EXPECT_EQ(found.art->source, art_source::folder_image);
    }
    bool timed_out = false;
    for (const wchar_t* location : {L"http://radio.example/stream", L"C:\\music\\album.zip|track.mp3",
                                    L"relative\\track.mp3", L"\\\\?\\C:\\track.mp3"}) {
        EXPECT_FALSE(find_cover_art(location, GetTickCount64() + 10000, timed_out).has_value());
    }
    EXPECT_FALSE(find(L"embedded\\removed since.mp3").art.has_value());

    const found_art late = find(L"embedded\\metaflac.flac", GetTickCount64() - 1);
    EXPECT_FALSE(late.art.has_value());
    EXPECT_TRUE(late.timed_out);
}

std::string file_bytes(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Each container's file as its tagger wrote it, damaged at random (seeded): bytes changed, size fields made huge,
// stretches repeated, the file cut short. The reader takes whatever comes without a crash or a hang, and what it
// gives is a picture.
TEST_F(CoverArt, MutatedTracksOfEveryContainerGiveAPictureOrNone)
{
    const wchar_t* const tracks[] = {L"mutagen id3v2.4.mp3",  L"id3v2.2.mp3",        L"metaflac.flac",
                                     L"mutagen.m4a",          L"mutagen vorbis.ogg", L"opusenc.opus",
                                     L"mutagen ogg flac.oga", L"mutagen.wma",        L"mutagen ape.mp3"};
    std::vector<std::string> originals;
    for (const wchar_t* track : tracks)
        originals.push_back(file_bytes(tracks_folder() + L"\\embedded\\" + track));
    wchar_t temporary[MAX_PATH];
    GetTempPathW(MAX_PATH, temporary);
    const std::wstring folder = std::wstring(temporary) + L"velmora-mutated-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    std::mt19937 chance(fuzz_seed(36));
    const auto below = [&chance](std::size_t limit) {
        return limit == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, limit - 1)(chance);
    };
    unsigned long found = 0, slowest_ms = 0;
    const unsigned long rounds = fuzz_rounds(36);
    for (unsigned long round = 0; round < rounds; ++round) {
        const std::size_t which = round % originals.size();
        std::string bytes = originals[which];
        for (std::size_t change = 1 + below(6); change > 0 && !bytes.empty(); --change) {
            const std::size_t at = below(bytes.size());
            switch (below(4)) {
            case 0:
                bytes[at] = static_cast<char>(below(256));
                break;
            case 1: {
                const char huge[] = {'\x7F', '\xFF', '\xFF', '\xFF'};
                bytes.replace(at, 4, huge, 4);
                break;
            }
            case 2:
                bytes.insert(at, bytes.substr(at, below(64)));
                break;
            default:
                bytes.resize(at);
            }
        }
        const std::wstring track = folder + L"\\" + tracks[which];
        std::ofstream(track.c_str(), std::ios::binary) << bytes;
        bool timed_out = false;
        const ULONGLONG start = GetTickCount64();
        const std::optional<cover_art> art = find_cover_art(track, start + 5000, timed_out);
        const ULONGLONG took = GetTickCount64() - start;
        slowest_ms = std::max(slowest_ms, static_cast<unsigned long>(took));
        EXPECT_LT(took, 7000u) << "round " << round;
        if (art) {
            ++found;
            EXPECT_TRUE(sniff_image(*art->bytes).has_value()) << "round " << round;
        }
        DeleteFileW(track.c_str());
    }
    RemoveDirectoryW(folder.c_str());
    std::printf("  %lu mutated tracks: art in %lu, the slowest read %lu ms\n", rounds, found, slowest_ms);
}

TEST(DiscFolder, NamesOfOneDiscOfAnAlbum)
{
    for (const wchar_t* name : {L"CD1", L"Disc 2", L"cd 03", L"disk_4", L"DISC-10"})
        EXPECT_TRUE(is_disc_folder_name(name)) << testing::PrintToString(std::wstring(name));
    for (const wchar_t* name : {L"CD", L"Discography", L"cd 1 bonus", L"Album", L"2 CD"})
        EXPECT_FALSE(is_disc_folder_name(name)) << testing::PrintToString(std::wstring(name));
}

} // namespace
} // namespace velmora
