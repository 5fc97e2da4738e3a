// The manual page and the bash completion name the run modes of the table,
// no more and no fewer: a mode added to the table fails here until both
// name it.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "program/modes.h"

using namespace vornlog;

namespace {

std::string readSource(const std::string& path)
{
    std::ifstream in(std::string(VORNLOG_SOURCE_DIR) + "/" + path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::set<char> tableLetters()
{
    std::set<char> letters;
    for (const RunMode& mode : runModes()) letters.insert(mode.letter);
    return letters;
}

// The option letters named in `text` as `prefix` X (e.g. "\-s", "-s").
std::set<char> optionLetters(const std::string& text, const std::string& prefix)
{
    std::set<char> letters;
    for (std::size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
        const std::size_t letter = at + prefix.size();
        const bool alone = letter + 1 >= text.size() || !std::isalnum(static_cast<unsigned char>(text[letter + 1]));
        if (letter < text.size() && std::isalpha(static_cast<unsigned char>(text[letter])) && alone)
            letters.insert(text[letter]);
    }
    return letters;
}

// The text between `from` and the next `to`.
std::string between(const std::string& text, const std::string& from, const std::string& to)
{
    const std::size_t start = text.find(from);
    if (start == std::string::npos) return {};
    const std::size_t end = text.find(to, start + from.size());
    return end == std::string::npos ? std::string() : text.substr(start, end - start);
}

} // namespace

TEST(RunModes, TheManualPageNamesEveryModeOfTheTable)
{
    const std::string page = readSource("packaging/vornlog.1");
    ASSERT_FALSE(page.empty());
    // The synopsis' choice of modes, the sentence that lists them, and an
    // entry for each.
    EXPECT_EQ(optionLetters(between(page, ".SH SYNOPSIS\n.B vornlog\n.RB [", "]"), "\\-"), tableLetters());
    EXPECT_EQ(optionLetters(between(page, "Of the run modes", "the last one given counts"), "\\-"), tableLetters());
    for (const RunMode& mode : runModes())
        EXPECT_NE(page.find(std::string(".TP\n.B \\-") + mode.letter + "\n"), std::string::npos)
            << "no entry for -" << mode.letter;
}

TEST(RunModes, TheCompletionOffersEveryModeOfTheTable)
{
    const std::string script = readSource("packaging/vornlog.bash-completion");
    const std::string options = between(script, "local options=\"", "\n");
    ASSERT_FALSE(options.empty());
    const std::set<char> offered = optionLetters(options, "-");
    for (const RunMode& mode : runModes()) EXPECT_TRUE(offered.count(mode.letter)) << "-" << mode.letter;
}

TEST(RunModes, EachLetterIsOneModeAndNoOtherOption)
{
    std::set<char> seen;
    for (const RunMode& mode : runModes()) {
        EXPECT_TRUE(seen.insert(mode.letter).second) << mode.letter;
        EXPECT_EQ(std::string(" d i f F n q h ").find(std::string(" ") + mode.letter + " "), std::string::npos)
            << mode.letter;
        EXPECT_EQ(mode.help.substr(0, 6), std::string("   -") + mode.letter + " ");
    }
}
