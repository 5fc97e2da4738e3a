// The sorted copy over hand-written reports.
#include <gtest/gtest.h>

#include <filesystem>

#include "sorted_copy.h"
#include "test_files.h"

using vornlog::Fault;
using vornlog::KeptInstructions;

namespace {

KeptInstructions keepOnly(std::string_view letters)
{
    KeptInstructions keep{};
    for (char letter : letters) keep[vornlog::instructionLetters.find(letter)] = true;
    return keep;
}

KeptInstructions keepAll()
{
    KeptInstructions keep;
    keep.fill(true);
    return keep;
}

// A report as the decoder writes it: each echo line is followed by the
// line end of its data field, which leaves an empty line.
const std::string preamble = " QMR5V :  49 00 05\n\n   => Inst 0x49=Information\n";
const std::string versionBlock = "PC     :  56\n\n   => Inst 0x56=Version\n"
                                 " QMR5V :  56 31 2E 30\n\n   => Inst 0x56=Version\n     V=1.0\n";
const std::string dataBlock = "PC     :  44 01 10 00\n\n   => Inst 0x44=Data\n     CMD=0x01\t-> Segment\n"
                              " QMR5V :  44 00\n\n   => Inst 0x44=Data\n";
const std::string stopBlock = "PC     :  53 02\n\n   => Inst 0x53=Stop\n QMR5V :  53 00\n\n   => Inst 0x53=Stop\n";
const std::string secondDataBlock = "PC     :  44 02 20 00\n\n   => Inst 0x44=Data\n QMR5V :  44 01\n\n";

const std::string report = preamble + versionBlock + dataBlock + stopBlock + secondDataBlock;

} // namespace

TEST(SortedCopy, KeepsTheTickedInstructionsWithTheirReplies)
{
    struct Case {
        const char* what;
        std::string_view letters;
        std::string expected;
    };
    const Case cases[] = {
        {"no box ticked: only the lines before the first PC line", "", preamble},
        {"only Data: both Data blocks, no reply to another instruction", "D", preamble + dataBlock + secondDataBlock},
        {"Version and Stop", "VS", preamble + versionBlock + stopBlock},
        {"boxes of instructions absent from the report", "RWCY", preamble},
        {"every box", "VBDISTPMGOLZFREWCY", report},
    };
    for (const Case& c : cases) EXPECT_EQ(vornlog::sortReport(report, keepOnly(c.letters)), c.expected) << c.what;
}

TEST(SortedCopy, KeepsTheBytesOfKeptLines)
{
    // Windows line ends, a lone "\r", a NUL and a byte of LCD text inside
    // a kept block, and a last line without a line end.
    const std::string kept =
        "PC     :  4C 41\r\n\r\n   => Inst 0x4C=LCD\r\n     T=\rA" + std::string(1, '\0') + "\xE9\r\nPC     :  4C 42";
    const std::string dropped = "PC     :  50 10\r\n   => Inst 0x50=PWM\r\n";
    const std::string crlfReport = "head\r\n" + dropped + kept;
    EXPECT_EQ(vornlog::sortReport(crlfReport, keepOnly("L")), "head\r\n" + kept);
    EXPECT_EQ(vornlog::sortReport(crlfReport, keepOnly("P")), "head\r\n" + dropped);
}

TEST(SortedCopy, DropsTheBlocksOfUnknownLetters)
{
    // 0x58 is X, 0x00 has no letter; 0x5A (Z) is one of the 18.
    const std::string unknown = "PC     :  58 01\n   => ERROR: Unknown instruction...\n QMR5V :  58\n";
    const std::string noCode = "PC     :  \n   => ERROR: Unknown instruction...\n";
    const std::string reset = "PC     :  5A\n   => Inst 0x5A=Reset\n";
    EXPECT_EQ(vornlog::sortReport(unknown + reset + noCode, keepAll()), reset);
}

TEST(SortedCopy, OnlyLinesStartingWithPcStartABlock)
{
    const std::string text = "PC     :  44 01\n pc :  53\n PC     :  53\npc     :  53\n";
    EXPECT_EQ(vornlog::sortReport(text, keepOnly("D")), text);
    EXPECT_EQ(vornlog::sortReport(text, keepOnly("S")), "");
}

TEST(SortedCopy, ReadsTheInstructionCodeAtCharacters11And12)
{
    struct Case {
        const char* what;
        std::string_view line;
        int code;
    };
    const Case cases[] = {
        {"upper case", "PC     :  4D 01\n", 0x4D},
        {"lower case", "PC     :  4d 01\n", 0x4D},
        {"second character not hex", "PC     :  4 01\n", 4},
        {"first character not hex", "PC     :  G1\n", 0},
        {"one digit before the line end", "PC     :  4\r\n", 4},
        {"line too short", "PC\n", 0},
        {"fixed place, whatever the label", "PC :  44 01\n", 1},
    };
    for (const Case& c : cases) EXPECT_EQ(vornlog::echoInstructionCode(c.line), c.code) << c.what;
}

TEST(SortedCopy, NamesTheCopyAfterTheDestFile)
{
    EXPECT_EQ(vornlog::sortedFileName("essai.txt"), "essaiTrié.txt");
    EXPECT_EQ(vornlog::sortedFileName("abcd"), "Trié.txt");
    EXPECT_EQ(vornlog::sortedFileName("abc"), "");
    // Characters, not bytes: "é" is two bytes of UTF-8.
    EXPECT_EQ(vornlog::sortedFileName("résumé.csv"), "résuméTrié.txt");
    EXPECT_EQ(vornlog::sortedFileName("éé.é"), "Trié.txt");
    EXPECT_EQ(vornlog::sortedFileName("é.é"), "");
}

TEST(SortedCopy, WritesTheCopyFromFileToFile)
{
    TemporaryFolder dir;
    const std::string dest = dir.path("essai.txt");
    const std::string sorted = dir.path("essaiTrié.txt");
    writeFile(dest, report);
    // An earlier copy is replaced, not added to.
    std::string earlier;
    for (int i = 0; i < 100; ++i) earlier += "earlier copy\n";
    writeFile(sorted, earlier);

    EXPECT_EQ(vornlog::writeSortedCopy(dest, sorted, keepOnly("S")).fault, Fault::None);
    EXPECT_EQ(readFile(sorted), preamble + stopBlock);
    EXPECT_EQ(readFile(dest), report);
    // Nothing is left beside the copy.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(vornlog::pathOf(dir.path()))) ++files;
    EXPECT_EQ(files, 2);
}

TEST(SortedCopy, ReportsWhatKeepsTheCopyFromBeingWritten)
{
    TemporaryFolder dir;
    const std::string dest = dir.path("essai.txt");
    const std::string sorted = dir.path("essaiTrié.txt");

    EXPECT_EQ(vornlog::writeSortedCopy(dest, sorted, keepAll()).fault, Fault::NotFound);
    EXPECT_FALSE(std::filesystem::exists(vornlog::pathOf(sorted)));

    EXPECT_EQ(vornlog::writeSortedCopy(dir.path(), dir.path("x.txt"), keepAll()).fault, Fault::PathAccess);

    // A copy that cannot take its name (a folder holds it) is kept whole
    // under the name it was written to, and that name is told.
    writeFile(dest, report);
    std::filesystem::create_directory(vornlog::pathOf(sorted));
    const vornlog::SortedCopyResult result = vornlog::writeSortedCopy(dest, sorted, keepAll());
    EXPECT_EQ(result.fault, Fault::PathAccess);
    ASSERT_FALSE(result.leftAt.empty());
    EXPECT_EQ(readFile(result.leftAt), report);
    EXPECT_EQ(result.leftAt.substr(0, sorted.size() + 1), sorted + ".");
    EXPECT_TRUE(result.leftAt.ends_with(".part")) << result.leftAt;
}

#ifndef _WIN32
TEST(SortedCopy, FollowsNoLinkPlantedInTheFolder)
{
    // Links where the copy was once written aside and where it goes, both
    // to a file of someone else: that file stays as it is, and the copy
    // takes the name of the link.
    TemporaryFolder dir;
    const std::string dest = dir.path("essai.txt");
    const std::string sorted = dir.path("essaiTrié.txt");
    const std::string other = dir.path("autre.txt");
    writeFile(dest, report);
    writeFile(other, "someone else's file\n");
    std::filesystem::create_symlink(vornlog::pathOf(other), vornlog::pathOf(sorted + ".part"));
    std::filesystem::create_symlink(vornlog::pathOf(other), vornlog::pathOf(sorted));

    EXPECT_EQ(vornlog::writeSortedCopy(dest, sorted, keepOnly("S")).fault, Fault::None);
    EXPECT_EQ(readFile(other), "someone else's file\n");
    EXPECT_FALSE(std::filesystem::is_symlink(vornlog::pathOf(sorted)));
    EXPECT_EQ(readFile(sorted), preamble + stopBlock);
}
#endif
