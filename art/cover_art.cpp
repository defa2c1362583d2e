#include "art/cover_art.h"

#include <array>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <vector>

#include <windows.h>

#include "art/embedded_picture.h"
#include "text/text_conversion.h"
#include "win32/file_handle.h"

namespace velmora {

namespace {

constexpr std::array<const wchar_t*, 4> image_names{L"cover", L"folder", L"front", L"album"};
constexpr std::array<const wchar_t*, 6> image_extensions{L".jpg", L".jpeg", L".png", L".webp", L".gif", L".bmp"};

std::wstring lower_case(std::wstring text)
{
    for (wchar_t& letter : text)
        letter = static_cast<wchar_t>(std::towlower(letter));
    return text;
}

std::wstring folder_of(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring name_of(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The folder's file names, lower-cased, listed once so that a slow disk pays one listing rather than a lookup for
// every name the search tries.
std::vector<std::pair<std::wstring, std::wstring>> list_files(const std::wstring& folder)
{
    std::vector<std::pair<std::wstring, std::wstring>> files;
    WIN32_FIND_DATAW found;
    const HANDLE search =
        FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            files.emplace_back(lower_case(found.cFileName), found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
}

std::optional<std::string> read_whole_file(const std::wstring& path)
{
    const file_handle file(CreateFileW(path.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size{};
    if (!file.valid() || !GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
        size.QuadPart > static_cast<LONGLONG>(largest_art_bytes))
        return std::nullopt;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size())
        return std::nullopt;
    return bytes;
}

std::optional<cover_art> art_of(std::string bytes, art_source source, std::wstring image_path = {})
{
    if (bytes.empty() || bytes.size() > largest_art_bytes)
        return std::nullopt;
    const std::optional<image_facts> facts = sniff_image(bytes);
    if (!facts)
        return std::nullopt;
    return cover_art{std::make_shared<const std::string>(std::move(bytes)), *facts, source, std::move(image_path)};
}

// The first of the image names, in their order, that the folder holds and that is a picture.
std::optional<cover_art> find_folder_image(const std::wstring& folder, unsigned long long deadline)
{
    const auto files = list_files(folder);
    for (const wchar_t* name : image_names) {
        for (const wchar_t* extension : image_extensions) {
            const std::wstring wanted = std::wstring(name) + extension;
            for (const auto& [lower, real] : files) {
                if (lower != wanted || GetTickCount64() >= deadline)
                    continue;
                const std::wstring path = folder + L"\\" + real;
                if (std::optional<std::string> bytes = read_whole_file(path)) {
                    if (auto art = art_of(std::move(*bytes), art_source::folder_image, path))
                        return art;
                }
            }
        }
    }
    return std::nullopt;
}

} // namespace

bool is_file_location(const std::wstring& location)
{
    if (location.find(L'|') != std::wstring::npos)
        return false;
    const bool drive = location.size() >= 3 && std::iswalpha(location[0]) && location[1] == L':' &&
                       (location[2] == L'\\' || location[2] == L'/');
    const bool network = location.size() >= 3 && location[0] == L'\\' && location[1] == L'\\' && location[2] != L'?' &&
                         location[2] != L'.';
    return drive || network;
}

bool is_disc_folder_name(const std::wstring& name)
{
    const std::wstring lower = lower_case(name);
    size_t at = 0;
    for (const wchar_t* word : {L"disc", L"disk", L"cd"}) {
        if (lower.compare(0, std::wcslen(word), word) == 0) {
            at = std::wcslen(word);
            break;
        }
    }
    if (at == 0)
        return false;
    while (at < lower.size() && (lower[at] == L' ' || lower[at] == L'_' || lower[at] == L'-'))
        ++at;
    if (at == lower.size())
        return false;
    for (; at < lower.size(); ++at) {
        if (!std::iswdigit(lower[at]))
            return false;
    }
    return true;
}

std::optional<cover_art> find_cover_art(const std::wstring& track_location, unsigned long long deadline,
                                        bool& timed_out)
{
    timed_out = false;
    if (!is_file_location(track_location))
        return std::nullopt;
    embedded_pictures embedded;
    try {
        embedded = read_embedded_pictures(track_location, deadline, timed_out);
    } catch (const std::exception&) {
        // A tag the library cannot take counts as no tag: the folder may still have the art.
    }
    if (auto art = art_of(std::move(embedded.front_cover), art_source::embedded_front_cover))
        return art;
    const std::wstring folder = folder_of(track_location);
    if (!folder.empty()) {
        std::optional<cover_art> beside = find_folder_image(folder, deadline);
        if (!beside && is_disc_folder_name(name_of(folder)) && !folder_of(folder).empty())
            beside = find_folder_image(folder_of(folder), deadline);
        if (beside)
            return beside;
    }
    if (GetTickCount64() >= deadline)
        timed_out = true;
    return art_of(std::move(embedded.first_other), art_source::embedded_picture);
}

std::optional<cover_art> read_picture_file(const std::wstring& path)
{
    std::optional<std::string> bytes = read_whole_file(path);
    return bytes ? art_of(std::move(*bytes), art_source::folder_image, path) : std::nullopt;
}

std::string describe_source(const cover_art& art)
{
    switch (art.source) {
    case art_source::embedded_front_cover:
        return "embedded front cover";
    case art_source::folder_image: {
        const byte_buffer name = wide_to_utf8(name_of(art.image_path).c_str());
        return std::string(name.text(), name.length()) + " beside the track";
    }
    case art_source::embedded_picture:
        return "embedded picture";
    }
    return {};
}

const std::string& transparent_picture()
{
    static const unsigned char pixel[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00,
        0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00,
        0x00, 0x00, 0x0A, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0x00, 0x01, 0x00, 0x00, 0x05, 0x00, 0x01,
        0x0D, 0x0A, 0x2D, 0xB4, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    static const std::string picture(reinterpret_cast<const char*>(pixel), sizeof pixel);
    return picture;
}

} // namespace velmora
