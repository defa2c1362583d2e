#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

#include "events/output_request.h"
#include "output/output_thread.h"
#include "settings/component_settings.h"
#include "tests/output/published_text.h"

// A writing process to be killed mid-write: replaces the file with text N, N + 1, ... as fast as it can, for ever.

int main(int argument_count, char** arguments)
{
    if (argument_count != 4) {
        std::printf("usage: burst_writer FILE ENCODING FIRST-NUMBER\n");
        return 2;
    }
    velmora::output_path.set(arguments[1]);
    velmora::output_encoding.set(std::atoi(arguments[2]));
    velmora::log_mode.set(0);
    velmora::output_targets.set_word(velmora::output_target_word::save_to_file, 1);
    for (unsigned long number = std::strtoul(arguments[3], nullptr, 10);; ++number) {
        velmora::queue_output(velmora::utf8_string(published_text::text(number).c_str()));
        velmora::wait_for_output(60000);
    }
}
