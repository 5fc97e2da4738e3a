// The desktop as the run procedure and the sorted copy use it: file dialogs,
// message boxes, starting a program, showing a file in the text viewer and
// waiting for a program with a busy cursor. The window hands over the Qt
// one (QtDesktop); the tests hand over a fake that answers from a script.
#pragma once

#include <QString>
#include <QStringList>

#include "fault.h"

namespace vornlog {

struct FileDialogRequest {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    // Description and pattern pairs, each followed by "|":
    // "Fichiers TXT (*.txt)|*.txt|".
    QString filter;
    int filterIndex = 1; // the pair shown first, counted from 1
    QString initialName;
    bool confirmOverwrite = false; // the save dialog asks before replacing a file
};

struct MessageRequest {
    enum class Icon { None, Information, Critical };
    enum class Buttons { Ok, YesNo };
    QString text; // line ends written "\r\n"
    QString title;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
};

enum class Answer { Ok, Yes, No };

class Desktop {
public:
    virtual ~Desktop() = default;

    // The full path of the chosen file, empty when the user cancelled.
    virtual QString chooseFile(const FileDialogRequest& request) = 0;
    virtual Answer showMessage(const MessageRequest& request) = 0;
    // Starts `program` with exactly `arguments`, in `folder`, without a
    // window and without waiting for it.
    virtual Fault startProgram(const QString& program, const QStringList& arguments, const QString& folder) = 0;
    // Waits, with a busy cursor, until the program that startProgram
    // started last has ended; returns at once when it already has.
    virtual void waitForProgram() = 0;
    // Shows a text file in the text viewer, without waiting for it.
    virtual Fault showInTextViewer(const QString& file) = 0;
};

} // namespace vornlog
