// The launcher's window, "Feuille VornlogRun", without a toolkit: every
// control with its text, tooltip, colour, font, place, initial state and
// tab order, and what each user action does to the controls. The Qt and the
// Win32 front ends draw the controls of this one table, hand every user
// action to LauncherWindow and then show its control states.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "run_procedure.h"

namespace vornlog {

class Desktop;

enum class ControlKind { Label, CheckBox, OptionButton, PushButton };

// The part a control plays; the arrays (LabelDirective, OptionParam,
// CheckAGarder) tell their members apart by index.
enum class Role { LabelTitre, LabelInfo, LabelDirective, OptionParam, CheckAGarder, LabelTri, CheckToutes, CommandRun, CommandEnd };

// Twips: 15 to a pixel at 96 dpi.
inline constexpr int twipsPerPixel = 15;

struct Place {
    int left, top, width, height; // twips
};

struct Colour {
    std::uint8_t red, green, blue;
    bool operator==(const Colour&) const = default;
};
inline constexpr Colour blue{0, 0, 255};
inline constexpr Colour red{255, 0, 0};

// The window's font; the systems without it take the nearest sans serif.
inline constexpr std::string_view fontFace = "MS Sans Serif";
inline constexpr int fontPoints = 8;
// The fonts of about the same widths, in order, for the systems without it
// (the layout is made for its narrow letters).
inline constexpr std::string_view fontSubstitutes[] = {"Microsoft Sans Serif", "Arial", "Liberation Sans",
                                                        "DejaVu Sans Condensed"};

struct Control {
    Role role;
    int index;           // in its array; 0 for a single control
    ControlKind kind;
    std::string_view name; // "LabelTitre", "CheckAGarder" (the index follows for an array)
    std::string_view text; // UTF-8; LabelInfo's is set when the window opens
    std::string_view tooltip;
    const Colour* colour; // null: the system's text colour
    int points;           // font size
    bool bold;
    bool centred;         // labels: centred text, else left-aligned
    Place place;
    bool visible;         // initially
    bool checked;         // initially (check boxes and option buttons)
    int tabIndex;         // place in the tab order from 0; -1 for labels

    // "CheckAGarder3", "LabelTitre".
    std::string objectName() const;
};

struct WindowFrame {
    std::string_view caption;
    int width, height; // client area, twips
};

// The window's caption and client size, and its controls from top to
// bottom, in the order they are drawn.
const WindowFrame& windowFrame();
const std::vector<Control>& windowControls();

// What the window shows of a control at a moment.
struct ControlState {
    std::string text;
    bool visible;
    bool enabled;
    bool checked;
};

// The window's behaviour: one routine per control event. A front end calls
// the routine of each user action, then shows state() of every control.
class LauncherWindow {
public:
    // `launcherFolder`: where the launcher's own program lies, the first
    // place the decoder is looked for.
    LauncherWindow(Desktop& desktop, std::string launcherFolder);

    // The state of windowControls()[i].
    const ControlState& state(std::size_t i) const { return states_[i]; }
    // The position in windowControls() of a control.
    static std::size_t find(Role role, int index = 0);

    void LabelTitre_MouseMove();
    void Form_MouseMove();
    void LabelTitre_Click();
    void CheckToutes_Click(bool checked);
    void CheckAGarder_Click(int index, bool checked);
    void OptionParam_Click(int index);
    void CommandRun_Click();

    // What the run procedure is given when CommandRun is clicked.
    RunChoices runChoices() const;

private:
    void Form_Load();
    ControlState& at(Role role, int index = 0) { return states_[find(role, index)]; }
    const ControlState& at(Role role, int index = 0) const { return states_[find(role, index)]; }

    Desktop& desktop_;
    std::string launcherFolder_;
    std::vector<ControlState> states_;
};

} // namespace vornlog
