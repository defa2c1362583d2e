#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "host/doubles/counted.h"
#include "host/doubles/host_call_faults.h"

namespace stand_in {

// Keeps every line it is given, and shows it as it comes when echo is set, as a host's console does.
class message_receiver final : public counted<kestrune::message_receiver> {
public:
    message_receiver(reference_audit& audit, std::string name)
        : counted(audit, kestrune::message_receiver_guid, std::move(name))
    {}

    void __thiscall print(const char* text, std::size_t length) override
    {
        count_host_call("print");
        lines.push_back(length == SIZE_MAX ? std::string(text) : std::string(text, length));
        if (journal != nullptr)
            journal->push_back(audit_name());
        if (echo) {
            std::printf("console: %s\n", lines.back().c_str());
            std::fflush(stdout);
        }
    }

    bool echo = false;
    std::vector<std::string> lines;
    // When set, shared by several receivers to show the order in which they were called.
    std::vector<std::string>* journal = nullptr;
};

} // namespace stand_in
