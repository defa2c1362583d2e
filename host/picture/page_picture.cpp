#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>

#include "boundary/host_services.h"
#include "host/doubles/message_pump.h"
#include "host/doubles/player_services.h"
#include "settings/component_settings.h"
#include "ui/preferences_dialog.h"
#include "ui/preferences_ids.h"

// Opens the preferences page in a host window, as a player would, and saves a PNG of it: page_picture OUTPUT.PNG

namespace {

using stand_in::pump_messages_for;

std::uint32_t crc32(const std::uint8_t* bytes, std::size_t count, std::uint32_t crc = 0)
{
    crc = ~crc;
    for (std::size_t index = 0; index < count; ++index) {
        crc ^= bytes[index];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void put_chunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& data)
{
    put32(png, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    png.insert(png.end(), typed.begin(), typed.end());
    put32(png, crc32(typed.data(), typed.size()));
}

// An RGB image as PNG, its pixels in stored (uncompressed) deflate blocks: no compression library needed.
std::vector<std::uint8_t> encode_png(int width, int height, const std::vector<std::uint8_t>& rgb_rows)
{
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    put32(header, static_cast<std::uint32_t>(width));
    put32(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    put_chunk(png, "IHDR", header);

    std::vector<std::uint8_t> zlib = {0x78, 0x01};
    std::uint32_t a = 1, b = 0;
    for (std::size_t offset = 0; offset < rgb_rows.size() || offset == 0;) {
        const std::size_t length = std::min<std::size_t>(65535, rgb_rows.size() - offset);
        const bool last = offset + length >= rgb_rows.size();
        zlib.push_back(last ? 1 : 0);
        zlib.push_back(static_cast<std::uint8_t>(length));
        zlib.push_back(static_cast<std::uint8_t>(length >> 8));
        zlib.push_back(static_cast<std::uint8_t>(~length));
        zlib.push_back(static_cast<std::uint8_t>(~length >> 8));
        for (std::size_t index = offset; index < offset + length; ++index) {
            zlib.push_back(rgb_rows[index]);
            a = (a + rgb_rows[index]) % 65521;
            b = (b + a) % 65521;
        }
        offset += length;
        if (last)
            break;
    }
    put32(zlib, (b << 16) | a);
    put_chunk(png, "IDAT", zlib);
    put_chunk(png, "IEND", {});
    return png;
}

} // namespace

int main(int argument_count, char** arguments)
{
    if (argument_count != 2) {
        std::printf("usage: page_picture OUTPUT.PNG\n");
        return 2;
    }
    stand_in::reference_audit audit;
    stand_in::player_services host_services(audit);
    stand_in::track_handle song(audit, "song", {{"artist", "Nina Simone"}, {"title", "Feeling Good"}});
    host_services.control.playing = &song;
    velmora::set_service_registry(&host_services.registry);
    velmora::output_path.set("%USERPROFILE%\\now playing.txt");
    // A second output, the one shown: the title alone in a file of its own.
    velmora::output_settings title = velmora::default_added_output();
    title.path = "%USERPROFILE%\\title.txt";
    title.script = "%title%";
    velmora::added_outputs.outputs().push_back(title);

    RECT frame{0, 0, 0, 0};
    const HWND host = CreateWindowExW(0, L"STATIC", L"Preferences", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr,
                                      nullptr, nullptr, nullptr);
    velmora::preferences_dialog page;
    const HWND window = page.create(host);
    if (window == nullptr) {
        std::printf("the page could not be made\n");
        return 3;
    }
    SendDlgItemMessageW(window, IDC_OUTPUT_LIST, CB_SETCURSEL, 1, 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_OUTPUT_LIST, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_OUTPUT_LIST)));
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(host, nullptr, 0, 0, width, height, SWP_NOZORDER);
    SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(window, SW_SHOW);
    pump_messages_for(1500);

    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();

    std::vector<std::uint8_t> rows;
    const auto* pixels = static_cast<const std::uint8_t*>(bits);
    for (int y = 0; y < height; ++y) {
        rows.push_back(0);
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* pixel = pixels + (static_cast<std::size_t>(y) * width + x) * 4;
            rows.insert(rows.end(), {pixel[2], pixel[1], pixel[0]});
        }
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    DestroyWindow(host);
    velmora::set_service_registry(nullptr);

    const std::vector<std::uint8_t> png = encode_png(width, height, rows);
    FILE* file = std::fopen(arguments[1], "wb");
    if (file == nullptr)
        return 4;
    std::fwrite(png.data(), 1, png.size(), file);
    std::fclose(file);
    std::printf("saved %dx%d\n", width, height);
    return 0;
}
