#pragma once

#include <string>
#include <vector>

namespace stand_in {

// A demo playlist: one command a line, run in order on a simulated clock. Blank lines and lines starting with #
// are ignored.
//   track ARTIST / TITLE   a new track starts playing
//   file PATH              after a track line: the track's file (%path%); a relative path is taken from the
//                          playlist's folder, and both / and \ separate folders
//   length SECONDS         after a track line: the track's length (%length_seconds%); without it the track has
//                          none, as a stream
//   play SECONDS           playback goes on, one playback-time notification a second
//   pause SECONDS          paused for that long, then resumed
//   stop                   playback stops
//   set NAME=VALUE         a setting changes, as --set names it, and the component loads the configuration anew
struct playlist_step {
    enum class kind { track, play, pause, stop, set } type;
    std::string artist, title; // the assignment of a set in artist
    int seconds = 0;
    std::string file; // a track's, as written
    int length = -1;  // a track's, in seconds; -1 for none
};

// The steps, or an empty list with error set to "line N: what is wrong".
std::vector<playlist_step> parse_playlist(const std::string& text, std::string& error);

// The file as Windows names it: a relative one from the playlist's folder, every / a \.
std::string track_file_path(const std::string& file, const std::string& playlist_path);

} // namespace stand_in
