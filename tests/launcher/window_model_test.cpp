// The window without a toolkit: its controls as they open, the information
// line, the about box, checking all the boxes and the choice of output.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "fake_desktop.h"
#include "settings.h"
#include "test_files.h"
#include "window_model.h"

using vornlog::Control;
using vornlog::ControlKind;
using vornlog::LauncherWindow;
using vornlog::MessageRequest;
using vornlog::Role;

namespace {

const char* const captions[] = {
    "Version", "Buffer", "Data",      "Informations", "Stop",        "Table",
    "PWM",     "Motors", "Géneral input/output",      "Override",    "LCD",
    "Reset",   "Flash Model", "Flash Read", "Flash Block Erase", "Flash Write", "ZQ3107 Programmig", "Flash Content",
};

const char* const optionCaptions[] = {
    "Fichier de sortie  en format .txt",
    ("Fichier de sortie en format CVS qui permet d'extraire les informations des pas, accélération, PWM, % du "
     "buffer, ..."),
    "Fichier de sortie en image SVG : trajectoire, PWM, % du buffer",
    "Fichier de sortie résumé de la session (.txt)",
    "Fichier de sortie page HTML : la session dans le navigateur",
    "Visualiseur en direct : la session dans le navigateur pendant la capture",
};

const Control& control(Role role, int index = 0)
{
    return vornlog::windowControls()[LauncherWindow::find(role, index)];
}

class Window : public ::testing::Test {
protected:
    FakeDesktop desktop_;
    LauncherWindow window_{desktop_, ""};

    const vornlog::ControlState& state(Role role, int index = 0) const
    {
        return window_.state(LauncherWindow::find(role, index));
    }
    void expectBoxes(bool enabled, std::set<int> checked)
    {
        for (int i = 0; i < 18; ++i) {
            EXPECT_EQ(state(Role::CheckAGarder, i).enabled, enabled) << captions[i];
            EXPECT_EQ(state(Role::CheckAGarder, i).checked, checked.count(i) == 1) << captions[i];
        }
        EXPECT_EQ(state(Role::CheckToutes).enabled, enabled);
    }
};

} // namespace

TEST_F(Window, OpensWithEveryControlInItsInitialState)
{
    EXPECT_EQ(vornlog::windowFrame().caption, "Vornlog launcher");
    EXPECT_EQ(vornlog::windowFrame().width, 8685);

    const Control& titre = control(Role::LabelTitre);
    EXPECT_EQ(titre.text, "Lancement du programme DOS VORNLOG");
    EXPECT_EQ(titre.tooltip, "Version 1.0.0");
    EXPECT_TRUE(titre.bold);
    EXPECT_EQ(titre.points, 12);
    EXPECT_EQ(*titre.colour, vornlog::blue);
    EXPECT_EQ(titre.place.left, 1560);
    EXPECT_EQ(titre.place.top, 360);

    EXPECT_FALSE(state(Role::LabelInfo).visible);
    EXPECT_EQ(state(Role::LabelInfo).text, "Bug Repport : " + std::string(vornlog::settings::contactAddress) +
                                               " - Vesion " VORNLOG_PROJECT_VERSION " du 6 juin 2012");
    EXPECT_EQ(*control(Role::LabelInfo).colour, vornlog::blue);

    EXPECT_EQ(control(Role::LabelDirective, 0).text, "Le programme Vornlog.exe ainsi que les fichiers lus et "
                                                     "enregistrés doivent être dans un même répertoire");
    EXPECT_EQ(control(Role::LabelDirective, 1).text, "Les noms des fichiers ne doivent pas comporter d'espaces");
    EXPECT_EQ(*control(Role::LabelDirective, 0).colour, vornlog::red);
    EXPECT_EQ(*control(Role::LabelDirective, 1).colour, vornlog::red);

    // The output options, the report selected; the CSV option's caption
    // takes two lines; the two first keep their places.
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(control(Role::OptionParam, i).kind, ControlKind::OptionButton);
        EXPECT_EQ(state(Role::OptionParam, i).text, optionCaptions[i]);
        EXPECT_EQ(state(Role::OptionParam, i).checked, i == 0);
    }
    EXPECT_EQ(control(Role::OptionParam, 1).tooltip, "Le fichier sera ouvert sous Excel");
    EXPECT_EQ(control(Role::OptionParam, 0).place.top, 2400);
    EXPECT_EQ(control(Role::OptionParam, 1).place.top, 3000);
    EXPECT_GE(control(Role::OptionParam, 1).place.height, 2 * control(Role::OptionParam, 0).place.height - 30);

    // Three columns of six rows, in the order of "VBDISTPMGOLZFREWCY",
    // with Flash Content above ZQ3107 Programmig.
    expectBoxes(true, {});
    for (int i = 0; i < 18; ++i) EXPECT_EQ(state(Role::CheckAGarder, i).text, captions[i]);
    const auto at = [](int index) {
        const Control& box = control(Role::CheckAGarder, index);
        return std::pair(box.place.left, box.place.top);
    };
    const int top = at(0).second;
    EXPECT_EQ(at(0).first, 480);
    EXPECT_EQ(at(11), std::pair(3240, top + 1800));
    EXPECT_EQ(at(16), std::pair(6000, top + 1800));
    EXPECT_EQ(at(17), std::pair(6000, top + 1440));

    EXPECT_EQ(control(Role::LabelTri).text, "Cochez les instructions que vous voulez conserver dans le fichier trié");
    EXPECT_EQ(control(Role::CheckToutes).text, "Garder toutes les instructions");
    EXPECT_FALSE(state(Role::CheckToutes).checked);
    EXPECT_EQ(control(Role::CommandRun).text, "Lancer Vornlog");
    EXPECT_EQ(control(Role::CommandEnd).text, "Fin");
    // First and second in the tab order.
    EXPECT_EQ(control(Role::CommandRun).tabIndex, 0);
    EXPECT_EQ(control(Role::CommandEnd).tabIndex, 1);
}

TEST_F(Window, ControlsLieInsideTheWindowWithoutOverlapping)
{
    const std::vector<Control>& controls = vornlog::windowControls();
    const vornlog::WindowFrame& frame = vornlog::windowFrame();
    std::set<int> tabs;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const vornlog::Place& a = controls[i].place;
        EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.left + a.width <= frame.width && a.top + a.height <= frame.height)
            << controls[i].objectName();
        if (controls[i].tabIndex >= 0) {
            EXPECT_TRUE(tabs.insert(controls[i].tabIndex).second) << controls[i].objectName();
        }
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            const vornlog::Place& b = controls[j].place;
            // The information line is shown over the space under the title.
            if (controls[i].role == Role::LabelInfo || controls[j].role == Role::LabelInfo) continue;
            // One pixel is allowed: the two directives always touched.
            const int pixel = vornlog::twipsPerPixel;
            const bool apart = a.left + a.width <= b.left + pixel || b.left + b.width <= a.left + pixel ||
                               a.top + a.height <= b.top + pixel || b.top + b.height <= a.top + pixel;
            EXPECT_TRUE(apart) << controls[i].objectName() << " and " << controls[j].objectName();
        }
    }
    // Every control but the labels takes its turn.
    EXPECT_EQ(tabs.size(), 2u + 6u + 18u + 1u);
    EXPECT_EQ(*tabs.rbegin(), static_cast<int>(tabs.size()) - 1);
}

TEST_F(Window, InformationLine_FollowsTheMouseOverTitleAndBackground)
{
    window_.LabelTitre_MouseMove();
    EXPECT_TRUE(state(Role::LabelInfo).visible);
    window_.Form_MouseMove();
    EXPECT_FALSE(state(Role::LabelInfo).visible);
}

TEST_F(Window, ClickOnTitle_ShowsTheAboutBox)
{
    window_.LabelTitre_Click();
    ASSERT_EQ(desktop_.messages.size(), 1u);
    const MessageRequest& about = desktop_.messages[0];
    EXPECT_EQ(about.title, "Bug repport");
    EXPECT_EQ(about.text, "Programmation : " + std::string(vornlog::settings::authorName) + "\r\n\r\nContact : " +
                              std::string(vornlog::settings::contactAddress));
    EXPECT_EQ(about.icon, MessageRequest::Icon::Information);
    EXPECT_EQ(about.buttons, MessageRequest::Buttons::Ok);
}

TEST_F(Window, CheckToutes_SetsEveryBoxToItsOwnState)
{
    window_.CheckAGarder_Click(2, true);
    window_.CheckAGarder_Click(17, true);
    expectBoxes(true, {2, 17});

    window_.CheckToutes_Click(true);
    expectBoxes(true, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17});
    // A single box afterwards leaves CheckToutes alone.
    window_.CheckAGarder_Click(5, false);
    EXPECT_TRUE(state(Role::CheckToutes).checked);

    window_.CheckToutes_Click(false);
    EXPECT_FALSE(state(Role::CheckToutes).checked);
    expectBoxes(true, {});
}

TEST_F(Window, OutputChoice_GreysTheBoxesAndKeepsTheirStates)
{
    window_.CheckAGarder_Click(3, true);
    window_.CheckAGarder_Click(10, true);

    const vornlog::Output outputs[] = {vornlog::Output::Report, vornlog::Output::StepsCsv, vornlog::Output::Picture,
                                       vornlog::Output::Summary, vornlog::Output::Viewer, vornlog::Output::Live};
    for (int chosen : {1, 2, 3, 4, 5, 0}) {
        window_.OptionParam_Click(chosen);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(state(Role::OptionParam, i).checked, i == chosen);
        // Only the report has a sorted copy.
        expectBoxes(chosen == 0, {3, 10});
        EXPECT_EQ(window_.runChoices().output, outputs[chosen]);
    }
    const vornlog::RunChoices choices = window_.runChoices();
    for (int i = 0; i < 18; ++i) EXPECT_EQ(choices.keep[i], i == 3 || i == 10);
}

TEST_F(Window, CommandRun_RunsTheProcedureWithTheWindowsChoices)
{
    // The decoder beside the launcher.
    TemporaryFolder dir;
#ifdef _WIN32
    const std::string decoder = dir.path("vornlog.exe");
#else
    const std::string decoder = dir.path("vornlog");
#endif
    writeFile(decoder, "");
    std::filesystem::permissions(vornlog::pathOf(decoder), std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    LauncherWindow window(desktop_, dir.path());

    window.OptionParam_Click(1);
    desktop_.fileAnswers = {dir.path("essai.txt"), dir.path("pas.csv")};
    window.CommandRun_Click();

    ASSERT_EQ(desktop_.dialogs.size(), 2u);
    EXPECT_EQ(desktop_.dialogs[1].initialName, "*.csv");
    ASSERT_EQ(desktop_.started.size(), 1u);
    EXPECT_TRUE(sameFile(desktop_.started[0].program, decoder));
    EXPECT_EQ(desktop_.started[0].arguments, (std::vector<std::string>{"-s", "essai.txt", "pas.csv"}));
}
