#include "events/output_request.h"

#include <memory>
#include <string>
#include <utility>

#include <windows.h>

#include "boundary/host_services.h"
#include "boundary/shared_library.h"
#include "output/output_thread.h"
#include "output/whole_file_publish.h"
#include "settings/component_settings.h"
#include "text/text_conversion.h"

namespace velmora {

output_target first_output_target() noexcept
{
    return {output_path.text(), output_targets.word(output_target_word::save_to_file) != 0,
            output_targets.word(output_target_word::copy_to_clipboard) != 0, output_encoding.value(),
            log_mode.value() != 0};
}

output_target added_output_target(const output_settings& output) noexcept
{
    return {output.path.c_str(), output.save_to_file, false, output.encoding, output.log_mode};
}

namespace {

// The outputs that replace a file now; two that name the same file count twice, which costs a record at most.
std::size_t files_replaced() noexcept
{
    std::size_t count = 0;
    if (output_targets.word(output_target_word::save_to_file) != 0 && log_mode.value() == 0 &&
        *output_path.text() != '\0')
        ++count;
    for (const output_settings& output : added_outputs.outputs())
        count += output.save_to_file && !output.log_mode && !output.path.empty() ? 1 : 0;
    return count;
}

} // namespace

std::wstring expanded_full_path(const char* configured_path)
{
    // How the host expands a path is its own business, so every path goes through it, with or without a '%'. The
    // block it fills is kept from one call to the next: only the main thread expands paths.
    static utf8_string expanded;
    uExpandEnvironmentStrings(configured_path, &expanded);
    // A path of usual length is converted on the stack: a block of the process heap costs most while the output
    // thread's file calls use that heap too.
    wchar_t short_path[MAX_PATH];
    wide_string long_path;
    const wchar_t* path = short_path;
    if (utf8_to_wide(short_path, MAX_PATH, expanded.c_str()) + 2 >= MAX_PATH) {
        long_path = utf8_to_wide(expanded.c_str());
        path = long_path.text();
    }
    std::wstring full = full_path_of(path);
    return full.empty() ? std::wstring(path) : full;
}

std::shared_ptr<output_job> make_output_job(const utf8_string& text, const output_target& target)
{
    if (*target.configured_path == '\0' || (!target.to_file && !target.to_clipboard))
        return nullptr;
    std::string configured_path(target.configured_path);
    const bool to_file = target.to_file;
    const bool to_clipboard = target.to_clipboard;
    auto job = std::make_shared<output_job>(to_file ? encoded_text(text, target.encoding) : encoded_text());
    job->configured_path = std::move(configured_path);
    if (to_file) {
        job->files_replaced = files_replaced();
        job->path = expanded_full_path(job->configured_path.c_str());
        job->kind = target.log_mode ? job_kind::append_to_file : job_kind::replace_file;
        if (job->kind == job_kind::append_to_file)
            job->log_entries = 1;
    }
    if (to_clipboard) {
        job->copy_to_clipboard = true;
        job->clipboard_text = utf8_to_wide(text.c_str());
    }
    return job;
}

void queue_output(const utf8_string& text, const output_target& target)
{
    // What earlier writes left for the main thread comes first, so that it stays in order.
    deliver_output_outcomes();
    if (std::shared_ptr<output_job> job = make_output_job(text, target))
        submit_output(std::move(job));
}

void queue_exit_text(const utf8_string& text, const output_target& target)
{
    if (std::shared_ptr<output_job> job = make_output_job(text, target)) {
        job->exit_text = true;
        submit_output(std::move(job));
    }
}

} // namespace velmora
