#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stand_in {

// The stand-in host's own small title-formatting language: literal text, %field%, $if(c,a,b), $if2(a,b),
// $upper(x), $lower(x), $len(x), [sections] that vanish when a field inside is missing, and 'quoted' literal
// text. Line breaks outside quotes are ignored.
class title_format_program {
public:
    struct node;
    using sequence = std::vector<node>;

    // Null when the script does not compile: unbalanced parentheses or brackets, an unterminated quote or field,
    // an unknown function or a wrong number of arguments.
    static std::unique_ptr<title_format_program> compile(std::string_view script);

    // A field's value, or nothing when the field is missing (shown as "?").
    using field_lookup = std::function<std::optional<std::string>(const std::string& name)>;
    std::string evaluate(const field_lookup& lookup) const;

    explicit title_format_program(std::unique_ptr<sequence> root);
    ~title_format_program();

private:
    std::unique_ptr<sequence> root_;
};

} // namespace stand_in
