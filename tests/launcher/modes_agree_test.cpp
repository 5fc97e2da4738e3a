// The launcher's outputs and the decoder's run modes are two tables kept
// apart (the launcher builds without the decoder): each output's options,
// read by the decoder's own command line, must choose the mode of the
// output's letter, and what the launcher does around the run must suit
// that mode.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "program/modes.h"
#include "program/run.h"
#include "run_procedure.h"

using namespace vornlog;

TEST(LauncherModes, EachOutputRunsTheDecoderModeOfItsLetter)
{
    std::set<char> letters;
    for (const OutputOption& option : outputOptions()) {
        const char letter = modeLetter(option.output);
        SCOPED_TRACE(std::string("-") + letter + " from \"" + std::string(option.options) + "\"");
        EXPECT_TRUE(letters.insert(letter).second) << "two outputs of one mode";
        const RunMode* mode = findRunMode(letter);
        ASSERT_NE(mode, nullptr) << "no run mode of that letter";

        // The launcher always names a dump file and a dest file.
        std::vector<std::string> args = optionArguments(option);
        args.insert(args.end(), {"essai.txt", "sortie"});
        const std::optional<Options> parsed = parseCommandLine(args);
        ASSERT_TRUE(parsed) << "the decoder refuses the options";
        EXPECT_EQ(parsed->mode, letter);

        // The launcher stops a decoder that serves until Ctrl-C, and only
        // such a one; it follows the capture as it grows.
        const bool served = mode->dest == DestOpening::Served;
        EXPECT_EQ(option.servesUntilStopped, served);
        EXPECT_TRUE(!served || parsed->follow);
        // The sorted copy is made of a report's text, message by message.
        EXPECT_TRUE(!option.sortedCopy || (mode->listsMessages && mode->viewer == Viewer::Text && !mode->findings));
    }
}
