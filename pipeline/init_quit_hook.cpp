#include "pipeline/init_quit_hook.h"

#include "pipeline/output_writer.h"
#include "pipeline/text_formatting.h"
#include "settings/component_settings.h"

namespace velmora {

void init_quit_hook::on_startup()
{
    utf8_string text;
    format_now_playing(now_playing_script.text(), text);
    write_output(text);
}

void init_quit_hook::on_shutdown()
{
    scheduler_.close();
    utf8_string text(exit_text.text());
    substitute_datetime_field(text);
    if (log_mode.value() != 0) {
        if (text.empty())
            return;
        text.append_bytes("\r\n", 2);
    }
    write_output(text);
}

} // namespace velmora
