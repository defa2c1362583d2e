#include "host/doubles/title_format_engine.h"

#include <cctype>
#include <utility>

namespace stand_in {

struct title_format_program::node {
    enum class kind { literal, field, function, section } type;
    std::string text;                // literal text, field name or function name
    std::vector<sequence> arguments; // a function's arguments, or a section's one body
};

namespace {

using node = title_format_program::node;
using sequence = title_format_program::sequence;

struct function_shape {
    const char* name;
    std::size_t min_arguments, max_arguments;
};

constexpr function_shape functions[] = {
    {"if", 2, 3}, {"if2", 2, 2}, {"upper", 1, 1}, {"lower", 1, 1}, {"len", 1, 1},
    // Written $crlf(): the parentheses always hold one argument, here an empty one.
    {"crlf", 1, 1},
};

class parser {
public:
    explicit parser(std::string_view script) : script_(script) {}

    bool parse(sequence& root) { return parse_sequence(root, "") && at_end(); }

private:
    bool at_end() const { return position_ >= script_.size(); }

    // Reads until one of the stop characters (left unread) or the end.
    bool parse_sequence(sequence& out, std::string_view stops)
    {
        while (!at_end()) {
            const char next = script_[position_];
            if (stops.find(next) != std::string_view::npos)
                return true;
            ++position_;
            switch (next) {
            case '\r':
            case '\n':
                break;
            case '%': {
                const std::size_t end = script_.find('%', position_);
                if (end == std::string_view::npos)
                    return false;
                out.push_back({node::kind::field, std::string(script_.substr(position_, end - position_)), {}});
                position_ = end + 1;
                break;
            }
            case '\'': {
                const std::size_t end = script_.find('\'', position_);
                if (end == std::string_view::npos)
                    return false;
                add_literal(out, script_.substr(position_, end - position_));
                position_ = end + 1;
                break;
            }
            case '[': {
                node section{node::kind::section, {}, {sequence{}}};
                if (!parse_sequence(section.arguments[0], "]") || at_end())
                    return false;
                ++position_;
                out.push_back(std::move(section));
                break;
            }
            case '$':
                if (!parse_function(out))
                    return false;
                break;
            case ')':
            case ']':
                return false;
            default:
                add_literal(out, std::string_view(&next, 1));
            }
        }
        return true;
    }

    bool parse_function(sequence& out)
    {
        std::size_t end = position_;
        while (end < script_.size() && (std::isalnum(static_cast<unsigned char>(script_[end])) || script_[end] == '_'))
            ++end;
        node call{node::kind::function, std::string(script_.substr(position_, end - position_)), {}};
        position_ = end;
        if (at_end() || script_[position_] != '(')
            return false;
        ++position_;
        for (;;) {
            call.arguments.emplace_back();
            if (!parse_sequence(call.arguments.back(), ",)") || at_end())
                return false;
            if (script_[position_++] == ')')
                break;
        }
        for (const function_shape& shape : functions) {
            if (call.text == shape.name && call.arguments.size() >= shape.min_arguments &&
                call.arguments.size() <= shape.max_arguments) {
                out.push_back(std::move(call));
                return true;
            }
        }
        return false;
    }

    static void add_literal(sequence& out, std::string_view text)
    {
        if (!out.empty() && out.back().type == node::kind::literal)
            out.back().text += text;
        else
            out.push_back({node::kind::literal, std::string(text), {}});
    }

    std::string_view script_;
    std::size_t position_ = 0;
};

struct value {
    std::string text;
    bool truth = false;
};

class evaluator {
public:
    explicit evaluator(const title_format_program::field_lookup& lookup) : lookup_(lookup) {}

    value run(const sequence& nodes)
    {
        value result;
        for (const node& item : nodes) {
            const value part = run(item);
            result.text += part.text;
            result.truth = result.truth || part.truth;
        }
        return result;
    }

private:
    value run(const node& item)
    {
        switch (item.type) {
        case node::kind::literal:
            return {item.text, false};
        case node::kind::field: {
            const std::optional<std::string> found = lookup_(item.text);
            if (!found) {
                missing_ = true;
                return {"?", false};
            }
            return {*found, true};
        }
        case node::kind::section: {
            const bool outer_missing = std::exchange(missing_, false);
            value inner = run(item.arguments[0]);
            if (missing_)
                inner = {};
            missing_ = outer_missing;
            return inner;
        }
        case node::kind::function:
            return call(item);
        }
        return {};
    }

    value call(const node& item)
    {
        const std::string& name = item.text;
        if (name == "if") {
            if (run(item.arguments[0]).truth)
                return run(item.arguments[1]);
            return item.arguments.size() > 2 ? run(item.arguments[2]) : value{};
        }
        if (name == "if2") {
            const value first = run(item.arguments[0]);
            return first.truth ? first : run(item.arguments[1]);
        }
        if (name == "crlf")
            return {"\r\n", false};
        value argument = run(item.arguments[0]);
        if (name == "len") {
            std::size_t characters = 0;
            for (unsigned char byte : argument.text)
                characters += (byte & 0xC0) != 0x80;
            return {std::to_string(characters), argument.truth};
        }
        for (char& character : argument.text) {
            const auto byte = static_cast<unsigned char>(character);
            character = static_cast<char>(name == "upper" ? std::toupper(byte) : std::tolower(byte));
        }
        return argument;
    }

    const title_format_program::field_lookup& lookup_;
    bool missing_ = false;
};

} // namespace

title_format_program::title_format_program(std::unique_ptr<sequence> root) : root_(std::move(root)) {}

title_format_program::~title_format_program() = default;

std::unique_ptr<title_format_program> title_format_program::compile(std::string_view script)
{
    auto root = std::make_unique<sequence>();
    parser reader(script);
    if (!reader.parse(*root))
        return nullptr;
    return std::make_unique<title_format_program>(std::move(root));
}

std::string title_format_program::evaluate(const field_lookup& lookup) const
{
    evaluator running(lookup);
    return running.run(*root_).text;
}

} // namespace stand_in
