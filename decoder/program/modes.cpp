#include "modes.h"

#include <string>

#include "output/findings_lines.h"
#include "output/json_lines.h"
#include "output/picture.h"
#include "output/report.h"
#include "output/steps_csv.h"
#include "output/summary.h"
#include "mode_runs.h"

namespace vornlog {

namespace {

std::string captureName(std::string_view dump) { return dump == "-" ? "standard input" : std::string(dump); }

constexpr RunMode kRunModes[] = {
    {'v', runDecoder, [](const ModeOutput& o) { writeReport(o.messages, o.dest, o.progress); }, true,
     DestOpening::BeforeDecoding, Viewer::Text,
     "   -v  full-details report: every message decoded field by field (default)\n"
     "         vornlog -v session.txt report.txt\n"},
    {'s', runDecoder,
     [](const ModeOutput& o) { writeStepsCsv(o.messages, o.dest, o.console, o.progress); }, false,
     DestOpening::BeforeDecoding, Viewer::ByType,
     "   -s  steps CSV: every motion segment the controller stored\n"
     "         vornlog -s session.txt steps.csv\n"},
    {'p', runDecoder,
     [](const ModeOutput& o) {
         writePicture(o.messages, o.dest, o.progress,
                      o.dump == "-" ? "standard input" : fileNamePart(std::string(o.dump)));
     },
     false, DestOpening::BeforeDecoding, Viewer::ByType,
     "   -p  SVG picture of the motion: tool path, PWM and buffer fill\n"
     "         vornlog -p session.txt motion.svg\n"},
    {'t', runDecoder,
     [](const ModeOutput& o) { writeSummary(o.messages, captureName(o.dump), o.dest, o.progress); }, true,
     DestOpening::BeforeDecoding, Viewer::Text,
     "   -t  session summary: messages, errors, the stream's health, reply times\n"
     "         vornlog -t session.txt summary.txt\n"},
    {'j', runDecoder, [](const ModeOutput& o) { writeJsonLines(o.messages, o.dest, o.progress); }, true,
     DestOpening::BeforeDecoding, Viewer::Text,
     "   -j  JSON Lines: one JSON object per message, one line each, with its\n"
     "       number, sender, time, bytes, instruction, fields (name, raw value,\n"
     "       meaning, bit rows) and errors, for jq, Python or pandas\n"
     "         vornlog -j session.txt session.jsonl\n"},
    {'e', runDecoder, [](const ModeOutput& o) { readAll(o.messages, o.progress); }, false,
     DestOpening::BeforeDecoding, Viewer::Text,
     "   -e  findings: why the machine stuttered or stopped (the buffer running\n"
     "       dry and why, stops, unanswered and refused messages, slow replies),\n"
     "       one JSON object per line, each written when it is complete; made\n"
     "       from every message, whatever -i says\n"
     "         vornlog -e -f session.pcapng - | jq\n", true},
    {'w', runViewerPage, nullptr, false, DestOpening::AfterReading, Viewer::ByType,
     "   -w  viewer page: one HTML file with the capture in it that decodes and\n"
     "       shows the session in the browser (timeline, tool path, messages,\n"
     "       summary); opened in the default browser unless -n\n"
     "         vornlog -w session.pcapng session.html\n"},
    {'l', runLiveViewer, nullptr, false, DestOpening::Served, Viewer::ByType,
     "   -l  live viewer: while the capture is read (with -f, -F or a pipe, as\n"
     "       it grows), vornlog serves the viewer page on this computer only\n"
     "       (127.0.0.1 and ::1) and prints \"Live viewer: \" and its address,\n"
     "       which holds a secret token; opened in the default browser unless\n"
     "       -n. At the end of the input (the end of a file without -f, the end\n"
     "       of a pipe, Ctrl-C) the dest file is written as -w writes it; it\n"
     "       serves until Ctrl-C. The capture is kept compressed in a file\n"
     "       under TMPDIR (else /tmp); one that cannot be written (a full\n"
     "       disk) is said on the console and the page, and ends with status 1\n"
     "         vornlog -l -f session.pcapng session.html\n"},
};

} // namespace

std::span<const RunMode> runModes() { return kRunModes; }

const RunMode* findRunMode(char letter)
{
    for (const RunMode& mode : kRunModes)
        if (mode.letter == letter) return &mode;
    return nullptr;
}

} // namespace vornlog
