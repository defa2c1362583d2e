#include "host/player/playlist.h"

#include <sstream>

namespace stand_in {

namespace {

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool read_seconds(const std::string& text, int& seconds)
{
    std::istringstream input(text);
    return static_cast<bool>(input >> seconds) && seconds >= 0 && seconds <= 86400 && (input >> std::ws).eof();
}

} // namespace

std::vector<playlist_step> parse_playlist(const std::string& text, std::string& error)
{
    std::vector<playlist_step> steps;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t space = line.find(' ');
        const std::string command = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : trimmed(line.substr(space + 1));
        playlist_step step{playlist_step::kind::stop, {}, {}, 0, {}};
        if (command == "track") {
            const std::size_t slash = rest.find(" / ");
            if (slash == std::string::npos) {
                error = "line " + std::to_string(number) + ": a track is written ARTIST / TITLE";
                return {};
            }
            step = {playlist_step::kind::track, trimmed(rest.substr(0, slash)), trimmed(rest.substr(slash + 3)), 0, {}};
        } else if (command == "play" || command == "pause") {
            step.type = command == "play" ? playlist_step::kind::play : playlist_step::kind::pause;
            if (!read_seconds(rest, step.seconds)) {
                error = "line " + std::to_string(number) + ": " + command + " needs a number of seconds";
                return {};
            }
        } else if (command == "file") {
            if (steps.empty() || steps.back().type != playlist_step::kind::track || !steps.back().file.empty() ||
                rest.empty()) {
                error = "line " + std::to_string(number) + ": a file line names one PATH, after a track line";
                return {};
            }
            steps.back().file = rest;
            continue;
        } else if (command == "length") {
            if (steps.empty() || steps.back().type != playlist_step::kind::track || steps.back().length >= 0 ||
                !read_seconds(rest, steps.back().length)) {
                error = "line " + std::to_string(number) + ": a length line gives SECONDS, after a track line";
                return {};
            }
            continue;
        } else if (command == "set" && rest.find('=') != std::string::npos) {
            step = {playlist_step::kind::set, rest, {}, 0, {}};
        } else if (command != "stop" || !rest.empty()) {
            error = "line " + std::to_string(number) + ": unknown command \"" + line + "\"";
            return {};
        }
        steps.push_back(step);
    }
    if (steps.empty())
        error = "the playlist holds no command";
    return steps;
}

std::string track_file_path(const std::string& file, const std::string& playlist_path)
{
    std::string path = file;
    for (char& letter : path) {
        if (letter == '/')
            letter = '\\';
    }
    const bool absolute = (path.size() >= 2 && path[1] == ':') || path.rfind("\\", 0) == 0;
    if (absolute)
        return path;
    std::string folder = playlist_path;
    for (char& letter : folder) {
        if (letter == '/')
            letter = '\\';
    }
    const std::size_t slash = folder.find_last_of('\\');
    return slash == std::string::npos ? path : folder.substr(0, slash + 1) + path;
}

} // namespace stand_in
