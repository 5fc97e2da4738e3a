// The run procedure driven through the fake desktop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "fake_desktop.h"
#include "run_procedure.h"
#include "settings.h"
#include "test_files.h"

using vornlog::Answer;
using vornlog::Fault;
using vornlog::FileDialogRequest;
using vornlog::MessageRequest;
using vornlog::Output;
using vornlog::RunChoices;
using Strings = std::vector<std::string>;

namespace {

const std::string decoder = "/opt/vornlog/vornlog";
const std::string spaceRefusal = "Il y a des espaces dans le nom du fichier\r\n\r\nVornlog ne pourra pas fonctionner";
const std::string dumpFilter = "Fichiers TXT (*.txt)|*.txt|Captures USB (*.pcap *.pcapng)|*.pcap;*.pcapng|";
const std::string report = "PC     :  44 01\n   => Inst 0x44=Data\n QMR5V :  44 00\n   => Inst 0x44=Data\n"
                           "PC     :  56\n   => Inst 0x56=Version\n QMR5V :  56 31\n   => Inst 0x56=Version\n";

RunChoices choices(Output output)
{
    RunChoices c;
    c.output = output;
    c.decoder = decoder;
    return c;
}

std::string errorLine(int number, const std::string& description)
{
    return "Error " + std::to_string(number) + " (" + description + ") in procedure CommandRun_Click of Feuille VornlogRun";
}

bool sameFolder(const std::string& a, const std::string& b)
{
    return sameFile(a, b);
}

class RunProcedure : public ::testing::Test {
protected:
    TemporaryFolder dir_;
    std::string path(std::string_view relative) const { return dir_.path(relative); }
};

} // namespace

TEST_F(RunProcedure, ReportRun_AsksForBothFilesAndStartsTheDecoderWithBothOptions)
{
    std::filesystem::create_directories(vornlog::pathOf(path("mes captures")));
    FakeDesktop desktop;
    desktop.fileAnswers = {path("mes captures/essai.txt"), path("mes captures/rapport.txt")};
    vornlog::CommandRun_Click(desktop, choices(Output::Report));

    ASSERT_EQ(desktop.dialogs.size(), 2u);
    const FileDialogRequest& open = desktop.dialogs[0];
    EXPECT_EQ(open.kind, FileDialogRequest::Kind::Open);
    // Text dumps first, USB capture files beside them.
    EXPECT_EQ(open.filter, dumpFilter);
    EXPECT_EQ(open.initialName, "*.txt");
    EXPECT_EQ(open.filterIndex, 1);
    EXPECT_FALSE(open.confirmOverwrite);
    const FileDialogRequest& save = desktop.dialogs[1];
    EXPECT_EQ(save.kind, FileDialogRequest::Kind::Save);
    EXPECT_EQ(save.filter, "Fichiers TXT (*.txt)|*.txt|");
    EXPECT_EQ(save.initialName, "*.txt");
    EXPECT_EQ(save.filterIndex, 1);
    EXPECT_TRUE(save.confirmOverwrite);

    // A space in the folder only is no reason to refuse; both files lie in
    // the folder the decoder runs in, so it gets their bare names.
    ASSERT_EQ(desktop.started.size(), 1u);
    EXPECT_EQ(desktop.started[0].program, decoder);
    EXPECT_EQ(desktop.started[0].arguments, (Strings{"-s", "-v", "essai.txt", "rapport.txt"}));
    EXPECT_TRUE(sameFolder(desktop.started[0].folder, path("mes captures")));

    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].title, "Tri");
    EXPECT_EQ(desktop.messages[0].text, "Si Vornlog a créé le fichier, vous pouvez en faire une version\r\n"
                                        "triée avec les exclusions mises en place");
    EXPECT_EQ(desktop.messages[0].buttons, MessageRequest::Buttons::YesNo);
    EXPECT_EQ(desktop.messages[0].icon, MessageRequest::Icon::None);
    // No: only the unsorted report, which the decoder opens itself.
    EXPECT_EQ(desktop.calls, (Strings{"dialog", "dialog", "start", "message"}));
    EXPECT_FALSE(std::filesystem::exists(vornlog::pathOf(path("mes captures/rapportTrié.txt"))));
}

TEST_F(RunProcedure, OtherOutputs_StartTheDecoderWithTheirOptionAndAskNothing)
{
    struct Case {
        Output output;
        std::string filter, initialName, dest;
        Strings options;
    };
    const Case cases[] = {
        {Output::StepsCsv, "Fichiers csv (*.csv)|*.csv|", "*.csv", "pas.csv", {"-s"}},
        {Output::Picture, "Fichiers SVG (*.svg)|*.svg|", "*.svg", "trajet.svg", {"-p"}},
        {Output::Summary, "Fichiers TXT (*.txt)|*.txt|", "*.txt", "resume.txt", {"-t"}},
        {Output::Viewer, "Pages HTML (*.html)|*.html|", "*.html", "session.html", {"-w"}},
    };
    for (const Case& c : cases) {
        FakeDesktop desktop;
        desktop.fileAnswers = {path("essai.pcapng"), path(c.dest)};
        vornlog::CommandRun_Click(desktop, choices(c.output));

        ASSERT_EQ(desktop.dialogs.size(), 2u) << c.dest;
        EXPECT_EQ(desktop.dialogs[0].filter, dumpFilter);
        EXPECT_EQ(desktop.dialogs[1].filter, c.filter);
        EXPECT_EQ(desktop.dialogs[1].initialName, c.initialName);
        EXPECT_TRUE(desktop.dialogs[1].confirmOverwrite);
        ASSERT_EQ(desktop.started.size(), 1u) << c.dest;
        Strings arguments = c.options;
        arguments.insert(arguments.end(), {"essai.pcapng", c.dest});
        EXPECT_EQ(desktop.started[0].arguments, arguments);
        EXPECT_EQ(desktop.calls, (Strings{"dialog", "dialog", "start"})) << c.dest;
    }
}

TEST_F(RunProcedure, DumpInAnotherFolder_IsPassedByItsFullPath)
{
    std::filesystem::create_directories(vornlog::pathOf(path("captures")));
    std::filesystem::create_directories(vornlog::pathOf(path("sortie")));
    FakeDesktop desktop;
    desktop.fileAnswers = {path("captures/essai.txt"), path("sortie/rapport.txt")};
    vornlog::CommandRun_Click(desktop, choices(Output::Report));

    ASSERT_EQ(desktop.started.size(), 1u);
    const Strings& arguments = desktop.started[0].arguments;
    ASSERT_EQ(arguments.size(), 4u);
    EXPECT_EQ(arguments[2], path("captures/essai.txt"));
    EXPECT_TRUE(vornlog::pathOf(arguments[2]).is_absolute());
    EXPECT_EQ(arguments[3], "rapport.txt");
    EXPECT_TRUE(sameFolder(desktop.started[0].folder, path("sortie")));
}

TEST_F(RunProcedure, SpaceInABareName_IsRefusedAndNothingStarts)
{
    struct Case {
        std::string dump, dest;
        std::size_t dialogs;
    };
    const Case cases[] = {
        {"capture/essai 1.txt", "", 1},
        {"essai.txt", "mon rapport.txt", 2},
    };
    for (const Case& c : cases) {
        FakeDesktop desktop;
        desktop.fileAnswers = {path(c.dump), c.dest.empty() ? std::string() : path(c.dest)};
        vornlog::CommandRun_Click(desktop, choices(Output::Report));

        EXPECT_EQ(desktop.dialogs.size(), c.dialogs);
        EXPECT_TRUE(desktop.started.empty());
        ASSERT_EQ(desktop.messages.size(), 1u);
        EXPECT_EQ(desktop.messages[0].text, spaceRefusal);
        EXPECT_EQ(desktop.messages[0].title, "Opération abandonnée");
        EXPECT_EQ(desktop.messages[0].icon, MessageRequest::Icon::Critical);
        EXPECT_EQ(desktop.messages[0].buttons, MessageRequest::Buttons::Ok);
    }
}

TEST_F(RunProcedure, CancellingEitherDialog_EndsSilently)
{
    FakeDesktop first;
    vornlog::CommandRun_Click(first, choices(Output::Report));
    EXPECT_EQ(first.calls, Strings{"dialog"});

    FakeDesktop second;
    second.fileAnswers = {path("essai.txt")};
    vornlog::CommandRun_Click(second, choices(Output::StepsCsv));
    EXPECT_EQ(second.calls, (Strings{"dialog", "dialog"}));
}

TEST_F(RunProcedure, Yes_WaitsForTheDecoderThenWritesAndShowsTheSortedCopy)
{
    FakeDesktop desktop;
    const std::string dest = path("tri/essai.txt");
    const std::string sorted = path("tri/essaiTrié.txt");
    writeFile(dest, "half a report\n");
    // The decoder finishes its report while the procedure waits.
    desktop.onWait = [&] { writeFile(dest, report); };
    desktop.fileAnswers = {path("tri/capture.txt"), dest};
    desktop.messageAnswers = {Answer::Yes};
    RunChoices c = choices(Output::Report);
    c.keep[vornlog::instructionBox('D')] = true;
    vornlog::CommandRun_Click(desktop, c);

    EXPECT_EQ(desktop.calls, (Strings{"dialog", "dialog", "start", "message", "wait", "view"}));
    EXPECT_EQ(readFile(sorted), "PC     :  44 01\n   => Inst 0x44=Data\n QMR5V :  44 00\n   => Inst 0x44=Data\n");
    ASSERT_EQ(desktop.viewed.size(), 1u);
    EXPECT_TRUE(sameFile(desktop.viewed[0], sorted));
}

TEST_F(RunProcedure, Errors_GoToTheOneErrorBox)
{
    struct Case {
        const char* what;
        std::string dest;
        std::string decoderPath;
        Fault startResult, viewerResult;
        std::string expected;
        vornlog::ProgramEnd end = {};
    };
    const Fault none = Fault::None;
    const std::string leftCopy = "\r\n\r\nLa copie triée est restée dans le fichier " + path("erreurs/bloqueTrié.txt.");
    const Case cases[] = {
        {"decoder found nowhere", "erreurs/essai.txt", "", none, none, errorLine(53, "Fichier introuvable")},
        {"decoder may not be started", "erreurs/essai.txt", decoder, Fault::PermissionDenied, none,
         errorLine(70, "Permission refusée")},
        {"no report to sort", "erreurs/absent.txt", decoder, none, none, errorLine(53, "Fichier introuvable")},
        {"dest name under four characters", "erreurs/abc", decoder, none, none,
         errorLine(5, "Appel de procédure ou argument incorrect")},
        // The copy is written, but a folder holds its name.
        {"sorted copy cannot take its name", "erreurs/bloque.txt", decoder, none, none,
         errorLine(75, "Erreur d'accès chemin/fichier") + leftCopy},
        {"viewer cannot be started", "erreurs/essai.txt", decoder, none, Fault::NotFound,
         errorLine(53, "Fichier introuvable")},
        // The decoder's own message, or none.
        {"decoder failed", "erreurs/essai.txt", decoder, none, none,
         errorLine(1, "No USB interface (usbmon or USBPcap) in the capture file: capture.txt"),
         {1, "No USB interface (usbmon or USBPcap) in the capture file: capture.txt\r\n"}},
        {"decoder stopped", "erreurs/essai.txt", decoder, none, none,
         errorLine(-1, "Vornlog s'est arrêté sur une erreur"), {-1, ""}},
    };
    writeFile(path("erreurs/essai.txt"), report);
    writeFile(path("erreurs/abc"), report);
    writeFile(path("erreurs/bloque.txt"), report);
    std::filesystem::create_directories(vornlog::pathOf(path("erreurs/bloqueTrié.txt")));

    for (const Case& c : cases) {
        FakeDesktop desktop;
        desktop.fileAnswers = {path("erreurs/capture.txt"), path(c.dest)};
        desktop.messageAnswers = {Answer::Yes};
        desktop.startResult = c.startResult;
        desktop.viewerResult = c.viewerResult;
        desktop.programEnd = c.end;
        RunChoices run = choices(Output::Report);
        run.decoder = c.decoderPath;
        vornlog::CommandRun_Click(desktop, run);

        // The error box is the last thing shown; it may follow the question.
        // A copy left aside is named in full: its name ends in ".part".
        ASSERT_FALSE(desktop.messages.empty()) << c.what;
        const std::string& text = desktop.messages.back().text;
        EXPECT_EQ(text.substr(0, c.expected.size()), c.expected) << c.what;
        if (c.expected.ends_with(leftCopy)) {
            EXPECT_TRUE(text.ends_with(".part")) << text;
            // The copy with no box ticked: nothing comes before the first PC line.
            EXPECT_EQ(readFile(text.substr(text.find(path("erreurs/")))), "");
        } else {
            EXPECT_EQ(text, c.expected) << c.what;
        }
        EXPECT_EQ(desktop.messages.back().title, vornlog::settings::applicationTitle) << c.what;
        EXPECT_EQ(desktop.messages.back().icon, MessageRequest::Icon::None) << c.what;
        EXPECT_EQ(desktop.messages.back().buttons, MessageRequest::Buttons::Ok) << c.what;
        EXPECT_EQ(desktop.calls.back(), "message") << c.what;
        if (c.viewerResult == none) {
            EXPECT_TRUE(desktop.viewed.empty()) << c.what;
        }
    }
}

TEST_F(RunProcedure, AFailedDecoder_LeavesTheEarlierReportUnsortedAndShowsNothing)
{
    // Last session's report and its sorted copy are still there.
    FakeDesktop desktop;
    const std::string dest = path("echec/essai.txt");
    writeFile(dest, report);
    writeFile(path("echec/essaiTrié.txt"), "last session's copy\n");
    desktop.fileAnswers = {path("echec/capture.pcapng"), dest};
    desktop.messageAnswers = {Answer::Yes};
    desktop.programEnd = {1, "Damaged capture file, record cut short at byte offset 24: capture.pcapng\n"};
    RunChoices c = choices(Output::Report);
    c.keep.fill(true);
    vornlog::CommandRun_Click(desktop, c);

    EXPECT_EQ(desktop.calls, (Strings{"dialog", "dialog", "start", "message", "wait", "message"}));
    EXPECT_EQ(desktop.messages.back().text,
              errorLine(1, "Damaged capture file, record cut short at byte offset 24: capture.pcapng"));
    EXPECT_EQ(readFile(path("echec/essaiTrié.txt")), "last session's copy\n");
    EXPECT_TRUE(desktop.viewed.empty());
}

TEST_F(RunProcedure, LiveViewer_FollowsUntilOkThenStopsTheDecoderAndSaysWhyItFailed)
{
    FakeDesktop desktop;
    desktop.fileAnswers = {path("direct/essai.pcapng"), path("direct/session.html")};
    vornlog::CommandRun_Click(desktop, choices(Output::Live));

    ASSERT_EQ(desktop.started.size(), 1u);
    EXPECT_EQ(desktop.started[0].arguments, (Strings{"-l", "-f", "essai.pcapng", "session.html"}));
    EXPECT_EQ(desktop.dialogs[1].filter, "Pages HTML (*.html)|*.html|");
    // The box stays until the person is done watching; then the decoder
    // is stopped, saves the page and is waited for.
    EXPECT_EQ(desktop.calls, (Strings{"dialog", "dialog", "start", "message", "stop", "wait"}));
    EXPECT_NE(desktop.messages[0].text.find("session.html"), std::string::npos);

    FakeDesktop failed;
    failed.fileAnswers = {path("direct/essai.pcapng"), path("direct/session.html")};
    failed.programEnd = {1, "Can't listen on port 8080\n"};
    vornlog::CommandRun_Click(failed, choices(Output::Live));
    EXPECT_EQ(failed.messages.back().text, errorLine(1, "Can't listen on port 8080"));
}

TEST_F(RunProcedure, AFileNamedDash_ReachesTheDecoderAsAFile)
{
    // "-" alone would be standard input or output.
    FakeDesktop desktop;
    desktop.fileAnswers = {path("-"), path("-")};
    vornlog::CommandRun_Click(desktop, choices(Output::StepsCsv));
    ASSERT_EQ(desktop.started.size(), 1u);
    const std::string dash = vornlog::utf8Of(std::filesystem::path(".") / "-");
    EXPECT_EQ(desktop.started[0].arguments, (Strings{"-s", dash, dash}));
}

TEST_F(RunProcedure, Decoder_IsLookedForBesideTheLauncherFirst)
{
#ifdef _WIN32
    const std::string name = "vornlog.exe";
    const char separator = ';';
#else
    const std::string name = "vornlog";
    const char separator = ':';
#endif
    const std::string beside = path("launcher/" + name);
    const std::string onPath = path("path/" + name);
    for (const std::string& file : {beside, onPath}) {
        writeFile(file, "#!/bin/sh\n");
        std::filesystem::permissions(vornlog::pathOf(file), std::filesystem::perms::owner_exec,
                                     std::filesystem::perm_options::add);
    }
    // A file of that name that may not be run is no decoder.
    writeFile(path("plain/" + name), "#!/bin/sh\n");
    const char* old = std::getenv("PATH");
    const std::string oldPath = old ? old : "";
    const std::string newPath = path("plain") + separator + path("path") + separator + oldPath;
#ifdef _WIN32
    _putenv_s("PATH", newPath.c_str());
#else
    setenv("PATH", newPath.c_str(), 1);
#endif
    const std::string found = vornlog::locateDecoder(path("launcher"));
    const std::string foundOnPath = vornlog::locateDecoder(path("elsewhere"));
#ifdef _WIN32
    _putenv_s("PATH", oldPath.c_str());
#else
    setenv("PATH", oldPath.c_str(), 1);
#endif

    EXPECT_TRUE(sameFile(found, beside)) << found;
#ifndef _WIN32
    EXPECT_TRUE(sameFile(foundOnPath, onPath)) << foundOnPath;
#endif
}

TEST(DialogFilter, SplitsIntoDescriptionsAndPatterns)
{
    const std::vector<vornlog::FilterPair> pairs = vornlog::filterPairs(dumpFilter);
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].description, "Fichiers TXT (*.txt)");
    EXPECT_EQ(pairs[0].patterns, "*.txt");
    EXPECT_EQ(pairs[1].description, "Captures USB (*.pcap *.pcapng)");
    EXPECT_EQ(pairs[1].patterns, "*.pcap;*.pcapng");
    EXPECT_EQ(vornlog::filterPairs("Seul|").size(), 0u);
}
