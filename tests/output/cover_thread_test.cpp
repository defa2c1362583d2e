#include "output/cover_thread.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <windows.h>

#include "events/output_request.h"
#include "tests/file_identity.h"
#include "tests/host_fixture.h"
#include "tests/output/mounted_disk.h"
#include "text/text_conversion.h"

namespace velmora {
namespace {

// A location as the host gives it.
std::string utf8(const std::wstring& path)
{
    const byte_buffer bytes = wide_to_utf8(path.c_str());
    return std::string(bytes.text(), bytes.length());
}

// The header of a PNG of the given size: enough for the art's reader, which publishes bytes as found.
std::string png_of(unsigned width, unsigned height, char fill)
{
    std::string bytes = "\x89PNG\r\n\x1A\n" + std::string("\0\0\0\x0DIHDR", 8);
    for (const unsigned side : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<char>(side >> shift));
    }
    return bytes + std::string(64, fill);
}

std::string contents(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void write_file(const std::wstring& path, const std::string& bytes)
{
    std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

class CoverThread : public host_fixture {
protected:
    void SetUp() override
    {
        host_fixture::SetUp();
        wchar_t temporary[MAX_PATH];
        GetTempPathW(MAX_PATH, temporary);
        folder = std::wstring(temporary) + L"velmora-cover-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder.c_str(), nullptr);
        for (const wchar_t* album : {L"\\A", L"\\B"})
            CreateDirectoryW((folder + album).c_str(), nullptr);
        write_file(folder + L"\\A\\cover.png", art_a);
        write_file(folder + L"\\B\\Folder.PNG", art_b);
        cover = folder + L"\\cover \u00e9.png";
    }

    void TearDown() override
    {
        finish_cover_at_shutdown(5000);
        for (const wchar_t* file : {L"\\A\\cover.png", L"\\B\\Folder.PNG", L"\\placeholder.gif", L"\\cover \u00e9.png"})
            DeleteFileW((folder + file).c_str());
        for (const wchar_t* album : {L"\\A", L"\\B", L""})
            RemoveDirectoryW((folder + album).c_str());
        host_fixture::TearDown();
    }

    // Asks for the track's art (nothing plays when it is empty) and waits until it is carried out.
    void show(const std::wstring& track, const std::wstring& placeholder = L"")
    {
        request_cover({track.empty() ? std::string() : utf8(folder + track), cover, placeholder});
        ASSERT_TRUE(wait_for_cover(10000));
    }

    ULONGLONG written_second() const
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExW(cover.c_str(), GetFileExInfoStandard, &data);
        return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                data.ftLastWriteTime.dwLowDateTime) /
               10000000;
    }

    const std::string art_a = png_of(300, 300, 'a');
    const std::string art_b = png_of(64, 48, 'b');
    std::wstring folder, cover;
};

TEST_F(CoverThread, EachTracksArtThenThePlaceholderWhenNothingPlays)
{
    show(L"\\A\\01.mp3");
    EXPECT_EQ(contents(cover), art_a);
    // A newer request before the thread takes the older one is the one carried out.
    request_cover({utf8(folder + L"\\A\\02.mp3"), cover, L""});
    show(L"\\B\\01.flac");
    EXPECT_EQ(contents(cover), art_b);
    ASSERT_TRUE(published_cover().has_value());
    EXPECT_EQ(published_cover()->facts.width, 64u);

    show(L"");
    const std::string pixel = contents(cover);
    EXPECT_EQ(pixel.size(), 67u);
    EXPECT_EQ(pixel.substr(0, 8), "\x89PNG\r\n\x1A\n");
    EXPECT_FALSE(published_cover().has_value());

    const std::string users = "GIF89a" + std::string("\x10\0\x10\0", 4) + "rest";
    write_file(folder + L"\\placeholder.gif", users);
    show(L"", folder + L"\\placeholder.gif");
    EXPECT_EQ(contents(cover), users);
    // A placeholder that is no picture says so once, and the transparent one stands in.
    write_file(folder + L"\\placeholder.gif", "not a picture");
    show(L"", folder + L"\\placeholder.gif");
    show(L"\\A\\01.mp3", folder + L"\\placeholder.gif");
    show(L"", folder + L"\\placeholder.gif");
    EXPECT_EQ(contents(cover), pixel);
    deliver_cover_lines();
    ASSERT_EQ(receiver.lines.size(), 1u);
    EXPECT_NE(receiver.lines[0].find("is no picture"), std::string::npos) << receiver.lines[0];
}

TEST_F(CoverThread, UnchangedArtStaysAndEachChangeLeavesALaterSecond)
{
    show(L"\\A\\01.mp3");
    const unsigned long long first = file_identity(cover);
    show(L"\\A\\02.mp3");
    EXPECT_EQ(file_identity(cover), first) << "the same art was published again";

    // Three changes in well under a second: each modified time is in a second of its own.
    ULONGLONG last_second = 0;
    for (const wchar_t* track : {L"\\B\\01.flac", L"\\A\\01.mp3", L"\\B\\02.flac"}) {
        show(track);
        const ULONGLONG second = written_second();
        EXPECT_GT(second, last_second);
        last_second = second;
    }
    EXPECT_EQ(contents(cover), art_b);
}

} // namespace
} // namespace velmora

namespace velmora {
namespace {

TEST_F(CoverThread, ATracksEmbeddedArtIsReadOnTheThread)
{
    const wchar_t* tracks = _wgetenv(L"VELMORA_ART_TRACKS");
    if (tracks == nullptr)
        GTEST_SKIP() << "VELMORA_ART_TRACKS names no folder of tracks";
    request_cover({utf8(std::wstring(tracks) + L"\\embedded\\metaflac.flac"), cover, L""});
    ASSERT_TRUE(wait_for_cover(10000));
    ASSERT_TRUE(published_cover().has_value());
    EXPECT_EQ(published_cover()->source, art_source::embedded_front_cover);
}

TEST_F(CoverThread, ATrackOnASlowDiskHoldsUpNeitherThePlayerNorTheNextText)
{
    std::string reason;
    const std::wstring disk = mounted_folder("VELMORA_SLOW_DISK", reason);
    if (disk.empty())
        GTEST_SKIP() << reason;
    // Made beside the slow disk, in the folder it serves, at full speed; every open through it takes 500 ms.
    CreateDirectoryW((disk + L".backing\\album").c_str(), nullptr);
    write_file(disk + L".backing\\album\\cover.png", art_b);
    write_file(disk + L".backing\\album\\01.mp3", "");
    // The thread is running, as it is from the player's start-up on. Under Wine the thread's start waits for its
    // server, which would otherwise be busy with the new thread's first open through the slow disk.
    show(L"\\A\\01.mp3");
    const ULONGLONG start = GetTickCount64();
    request_cover({utf8(disk + L"\\album\\01.mp3"), cover, L""});
    const ULONGLONG asked = GetTickCount64() - start;
    queue_output(utf8_string("x"));
    EXPECT_TRUE(wait_for_output(10000));
    const ULONGLONG text_written = GetTickCount64() - start;
    EXPECT_TRUE(wait_for_cover(30000));
    const ULONGLONG art_written = GetTickCount64() - start;
    std::printf(
        "  slow disk: asked for the art in %llu ms; the text was written after %llu ms, the art after %llu ms\n", asked,
        text_written, art_written);
    EXPECT_LT(asked, 250u);
    EXPECT_EQ(writes(), 1u);
    EXPECT_GE(art_written, 1000u) << "the track and its picture were opened through the slow disk";
    // Under Wine every open goes through its server, one at a time, so the text's may wait for the art's two opens
    // (the track's and its picture's, 500 ms each); on Windows it waits for none of them.
    EXPECT_LT(text_written, 1500u);
    EXPECT_EQ(contents(cover), art_b);
    DeleteFileW((disk + L".backing\\album\\cover.png").c_str());
    DeleteFileW((disk + L".backing\\album\\01.mp3").c_str());
    RemoveDirectoryW((disk + L".backing\\album").c_str());
}

} // namespace
} // namespace velmora
