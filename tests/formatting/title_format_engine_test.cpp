#include "host/doubles/title_format_engine.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fuzz_rounds.h"

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

// Scripts pieced together from the language's own tokens, and plain random bytes: each compiles or is refused,
// and evaluates, without failing.
TEST(TitleFormatEngine, SurvivesRandomScripts)
{
    std::mt19937 random(velmora::fuzz_seed(5));
    const std::vector<std::string> tokens = {"%",     "%artist%", "%album%", "$if(", "$if2(", "$upper(", "$lower(",
                                             "$len(", "$nosuch(", "$",       "(",    ")",     ",",       "[",
                                             "]",     "'",        "a",       "\r\n", "\xC3",  "\xA9",    "%%"};
    for (unsigned long round = 0; round < velmora::fuzz_rounds(5000); ++round) {
        std::string script;
        const std::size_t pieces = random() % 24;
        for (std::size_t piece = 0; piece < pieces; ++piece) {
            if (round % 4 == 0)
                script += static_cast<char>(random() % 256);
            else
                script += tokens[random() % tokens.size()];
        }
        const std::string result = evaluate(script.c_str());
        ASSERT_TRUE(result == "(does not compile)" || result.size() <= script.size() * 8) << "round " << round;
    }
}

} // namespace
} // namespace stand_in
