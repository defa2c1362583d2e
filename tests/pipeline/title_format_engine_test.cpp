#include "host/title_format_engine.h"

#include <gtest/gtest.h>

namespace stand_in {
namespace {

std::string evaluate(const char* script)
{
    const auto program = title_format_program::compile(script);
    if (program == nullptr)
        return "(does not compile)";
    return program->evaluate([](const std::string& name) -> std::optional<std::string> {
        if (name == "artist")
            return "Ana";
        if (name == "title")
            return "Tune";
        return std::nullopt;
    });
}

TEST(TitleFormatEngine, EvaluatesFieldsFunctionsSectionsAndQuotes)
{
    EXPECT_EQ(evaluate("%artist% - %title%"), "Ana - Tune");
    EXPECT_EQ(evaluate("%album%"), "?");
    EXPECT_EQ(evaluate("[%album% - ]%title%"), "Tune");
    EXPECT_EQ(evaluate("[%artist% - ]%title%"), "Ana - Tune");
    EXPECT_EQ(evaluate("$if(%album%,yes,no)$if(%artist%,yes)"), "noyes");
    EXPECT_EQ(evaluate("$if2(%album%,%title%)"), "Tune");
    EXPECT_EQ(evaluate("$upper(%artist%)$lower(ABC)$len(caf\xC3\xA9)"), "ANAabc4");
    EXPECT_EQ(evaluate("'%artist%, (x)' ok,\r\nfine"), "%artist%, (x) ok,fine");
}

TEST(TitleFormatEngine, RefusesBrokenScripts)
{
    for (const char* broken :
         {"$if(a,b", "a)b", "[%artist%", "a]", "'open", "%artist", "$nosuch(x)", "$if(a)", "$upper", "$len(a,b)"})
        EXPECT_EQ(evaluate(broken), "(does not compile)") << broken;
}

} // namespace
} // namespace stand_in
