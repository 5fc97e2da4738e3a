// What a click on CommandRun ("Lancer Vornlog") does: ask for the dump file
// and the dest file, start the decoder for the chosen output and, for a
// report, offer the sorted copy and show it in the text viewer.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "desktop.h"
#include "sorted_copy.h"

namespace vornlog {

// The outputs, each keyed by the letter of the decoder's run mode that
// makes it (the mode option "-v" and so on).
enum class Output : char { Report = 'v', StepsCsv = 's', Picture = 'p', Summary = 't', Viewer = 'w', Live = 'l' };

// The letter of the decoder's run mode that makes `output`.
constexpr char modeLetter(Output output) { return static_cast<char>(output); }

// One output of the decoder as the window offers it, in the order of the
// OptionParam buttons: the caption of its button, the decoder's options (the
// last mode option among them is its own), the save dialog of the dest
// file, whether the sorted copy is offered afterwards and whether the
// decoder serves the session until it is stopped. A test holds these rows
// against the decoder's own table of run modes.
struct OutputOption {
    Output output;
    std::string_view caption; // UTF-8
    std::string_view tooltip;
    int lines;                // the caption's height in lines of text
    std::string_view options; // given to the decoder before the two names, separated by spaces
    std::string_view saveFilter;
    std::string_view saveName;
    bool sortedCopy;
    bool servesUntilStopped = false;
};

std::span<const OutputOption> outputOptions();
const OutputOption& outputOption(Output output);
// The decoder's arguments that an output's options make ("-s -v": two).
std::vector<std::string> optionArguments(const OutputOption& option);

// The dialog filter of text files: the report, the summary, and the text
// dumps in the capture dialog, where USB capture files follow them.
inline constexpr std::string_view textFilter = "Fichiers TXT (*.txt)|*.txt|";
inline constexpr std::string_view usbCaptureFilter = "Captures USB (*.pcap *.pcapng)|*.pcap;*.pcapng|";
inline constexpr std::string_view dumpName = "*.txt";

struct RunChoices {
    Output output = Output::Report;
    KeptInstructions keep{};
    // The decoder program, empty when it was found nowhere.
    std::string decoder;
};

// The run procedure. Every failure ends in the one error box; cancelling a
// file dialog ends it silently.
void CommandRun_Click(Desktop& desktop, const RunChoices& choices);

// The decoder program: next to the launcher's own executable (in
// `launcherFolder`) first, then on PATH; empty when it is in neither.
std::string locateDecoder(const std::string& launcherFolder);

// "Error 53 (Fichier introuvable) in procedure ..." for a fault.
std::string errorText(Fault fault);

} // namespace vornlog
