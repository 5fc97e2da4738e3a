// What a click on CommandRun ("Lancer Vornlog") does: ask for the dump file
// and the dest file, start the decoder for the chosen output and, for a
// report, offer the sorted copy and show it in the text viewer.
#pragma once

#include <QString>

#include "desktop.h"
#include "sorted_copy.h"

namespace vornlog {

enum class Output { Report, StepsCsv }; // OptionParam 0, OptionParam 1

struct RunChoices {
    Output output = Output::Report;
    KeptInstructions keep{};
    // The decoder program, empty when it was found nowhere.
    QString decoder;
};

// The run procedure. Every failure ends in the one error box; cancelling a
// file dialog ends it silently.
void CommandRun_Click(Desktop& desktop, const RunChoices& choices);

// The decoder program: next to the launcher's own executable (in
// `launcherFolder`) first, then on PATH; empty when it is in neither.
QString locateDecoder(const QString& launcherFolder);

// "Error 53 (Fichier introuvable) in procedure ..." for a fault.
QString errorText(Fault fault);

} // namespace vornlog
