#include "window_model.h"

#include <stdexcept>

#include "desktop.h"
#include "settings.h"

namespace vornlog {

namespace {

// One line of 8-point text, and two.
constexpr int lineHeight = 255;
constexpr int lineHeights[] = {0, lineHeight, 495, 735};

// The output options stand one below the other from here; what they take
// beyond the first two moves everything below them down.
constexpr int firstOptionTop = 2400;
constexpr int optionLeft = 2160;
constexpr int optionWidth = 6015;
constexpr int optionGap = 345;
// Where the instruction boxes began below the first two options.
constexpr int firstTwoOptionsBottom = 3000 + 495;

// The CheckAGarder boxes (instruction_boxes.h) in their grid.
constexpr int boxColumns[] = {480, 3240, 6000};
constexpr int boxRows[] = {4200, 4560, 4920, 5280, 5640, 6000};
constexpr int boxWidth = 2655;

constexpr int formWidth = 8685;
constexpr int formHeight = 8505;

// How far the options beyond the first two push the rest down.
int optionsExtent()
{
    int top = firstOptionTop;
    int bottom = top;
    for (const OutputOption& option : outputOptions()) {
        bottom = top + lineHeights[option.lines];
        top = bottom + optionGap;
    }
    return bottom - firstTwoOptionsBottom;
}

Control label(Role role, int index, std::string_view name, std::string_view text, const Colour* colour, Place place,
              bool visible = true)
{
    return {role, index, ControlKind::Label, name, text, "", colour, fontPoints, false, true, place, visible, false, -1};
}

std::vector<Control> makeControls()
{
    const int shift = optionsExtent();
    std::vector<Control> controls;
    Control titre = label(Role::LabelTitre, 0, "LabelTitre", "Lancement du programme DOS VORNLOG", &blue,
                          {1560, 360, 5415, 375});
    titre.tooltip = "Version 1.0.0";
    titre.points = 12;
    titre.bold = true;
    controls.push_back(titre);
    controls.push_back(label(Role::LabelInfo, 0, "LabelInfo", "", &blue, {2760, 840, 3375, 495}, false));
    controls.push_back(label(Role::LabelDirective, 0, "LabelDirective",
                             "Le programme Vornlog.exe ainsi que les fichiers lus et enregistrés doivent être dans un "
                             "même répertoire",
                             &red, {480, 1560, 8055, lineHeight}));
    controls.push_back(label(Role::LabelDirective, 1, "LabelDirective",
                             "Les noms des fichiers ne doivent pas comporter d'espaces", &red,
                             {360, 1800, 8055, lineHeight}));

    // CommandRun and CommandEnd come first in the tab order, then the rest
    // from top to bottom.
    int tab = 2;
    int top = firstOptionTop;
    int index = 0;
    for (const OutputOption& option : outputOptions()) {
        const int height = lineHeights[option.lines];
        controls.push_back({Role::OptionParam, index, ControlKind::OptionButton, "OptionParam", option.caption,
                            option.tooltip, nullptr, fontPoints, false, false,
                            {optionLeft, top, optionWidth, height}, true, index == 0, tab++});
        top += height + optionGap;
        ++index;
    }
    index = 0;
    for (const InstructionBox& box : instructionBoxes) {
        controls.push_back({Role::CheckAGarder, index++, ControlKind::CheckBox, "CheckAGarder", box.caption, "",
                            nullptr, fontPoints, false, false,
                            {boxColumns[box.column - 1], boxRows[box.row - 1] + shift, boxWidth, lineHeight}, true,
                            false, tab++});
    }
    controls.push_back(label(Role::LabelTri, 0, "LabelTri",
                             "Cochez les instructions que vous voulez conserver dans le fichier trié", nullptr,
                             {480, 6600 + shift, 2775, 495}));
    controls.push_back({Role::CheckToutes, 0, ControlKind::CheckBox, "CheckToutes", "Garder toutes les instructions",
                        "", nullptr, fontPoints, false, false, {4800, 6720 + shift, 2655, lineHeight}, true, false,
                        tab++});
    controls.push_back({Role::CommandRun, 0, ControlKind::PushButton, "CommandRun", "Lancer Vornlog", "", nullptr,
                        fontPoints, false, true, {3480, 7680 + shift, 1695, 495}, true, false, 0});
    controls.push_back({Role::CommandEnd, 0, ControlKind::PushButton, "CommandEnd", "Fin", "", nullptr, fontPoints,
                        false, true, {6960, 8040 + shift, 1215, 375}, true, false, 1});
    return controls;
}

} // namespace

std::string Control::objectName() const
{
    const bool array = role == Role::LabelDirective || role == Role::OptionParam || role == Role::CheckAGarder;
    return array ? std::string(name) + std::to_string(index) : std::string(name);
}

const WindowFrame& windowFrame()
{
    static const WindowFrame frame{"Vornlog launcher", formWidth, formHeight + optionsExtent()};
    return frame;
}

const std::vector<Control>& windowControls()
{
    static const std::vector<Control> controls = makeControls();
    return controls;
}

std::size_t LauncherWindow::find(Role role, int index)
{
    const std::vector<Control>& controls = windowControls();
    for (std::size_t i = 0; i < controls.size(); ++i)
        if (controls[i].role == role && controls[i].index == index) return i;
    throw std::out_of_range("no such control");
}

LauncherWindow::LauncherWindow(Desktop& desktop, std::string launcherFolder)
    : desktop_(desktop), launcherFolder_(std::move(launcherFolder))
{
    for (const Control& control : windowControls())
        states_.push_back({std::string(control.text), control.visible, true, control.checked});
    Form_Load();
}

void LauncherWindow::Form_Load()
{
    at(Role::LabelInfo).text = "Bug Repport : " + std::string(settings::contactAddress) + " - Vesion " +
                               settings::versionText() + " du " + "6 juin 2012";
}

void LauncherWindow::LabelTitre_MouseMove()
{
    at(Role::LabelInfo).visible = true;
}

void LauncherWindow::Form_MouseMove()
{
    at(Role::LabelInfo).visible = false;
}

void LauncherWindow::LabelTitre_Click()
{
    desktop_.showMessage({"Programmation : " + std::string(settings::authorName) + "\r\n\r\n" + "Contact : " +
                              std::string(settings::contactAddress),
                          "Bug repport", MessageRequest::Icon::Information, MessageRequest::Buttons::Ok});
}

void LauncherWindow::CheckToutes_Click(bool checked)
{
    at(Role::CheckToutes).checked = checked;
    for (std::size_t i = 0; i < instructionCount; ++i) at(Role::CheckAGarder, static_cast<int>(i)).checked = checked;
}

void LauncherWindow::CheckAGarder_Click(int index, bool checked)
{
    at(Role::CheckAGarder, index).checked = checked;
}

void LauncherWindow::OptionParam_Click(int index)
{
    for (std::size_t i = 0; i < outputOptions().size(); ++i)
        at(Role::OptionParam, static_cast<int>(i)).checked = static_cast<int>(i) == index;
    // The boxes only matter for the sorted copy of a report; they keep
    // their states while greyed.
    const bool report = index == 0;
    for (std::size_t i = 0; i < instructionCount; ++i) at(Role::CheckAGarder, static_cast<int>(i)).enabled = report;
    at(Role::CheckToutes).enabled = report;
}

void LauncherWindow::CommandRun_Click()
{
    vornlog::CommandRun_Click(desktop_, runChoices());
}

RunChoices LauncherWindow::runChoices() const
{
    RunChoices choices;
    const std::span<const OutputOption> options = outputOptions();
    for (std::size_t i = 0; i < options.size(); ++i)
        if (at(Role::OptionParam, static_cast<int>(i)).checked) choices.output = options[i].output;
    for (std::size_t i = 0; i < instructionCount; ++i)
        choices.keep[i] = at(Role::CheckAGarder, static_cast<int>(i)).checked;
    choices.decoder = locateDecoder(launcherFolder_);
    return choices;
}

} // namespace vornlog
