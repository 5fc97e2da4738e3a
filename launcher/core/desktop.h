// The desktop as the run procedure and the sorted copy use it: file dialogs,
// message boxes, starting a program, showing a file in the text viewer and
// waiting for a program with a busy cursor, then learning how it ended. Each front end hands over its
// own (the Qt one, the Win32 one); the tests hand over a fake that answers
// from a script. Every text and path is UTF-8.
#pragma once

#include <string>
#include <vector>

#include "fault.h"

namespace vornlog {

struct FileDialogRequest {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    // Description and pattern pairs, each followed by "|"; several patterns
    // of one pair are separated by ";":
    // "Fichiers TXT (*.txt)|*.txt|Captures USB (*.pcap *.pcapng)|*.pcap;*.pcapng|".
    std::string filter;
    int filterIndex = 1; // the pair shown first, counted from 1
    std::string initialName;
    bool confirmOverwrite = false; // the save dialog asks before replacing a file
};

struct MessageRequest {
    enum class Icon { None, Information, Critical };
    enum class Buttons { Ok, YesNo };
    std::string text; // line ends written "\r\n"
    std::string title;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
};

enum class Answer { Ok, Yes, No };

// How a program ended.
struct ProgramEnd {
    // Its exit status: 0 when it succeeded; not 0 when it failed or was
    // stopped.
    int status = 0;
    // What it wrote on its standard error (UTF-8).
    std::string errorText;
};

// One description and its patterns of a dialog filter.
struct FilterPair {
    std::string description;
    std::string patterns; // "*.pcap;*.pcapng"
};

// "A|a|B|b|" as its pairs; a description without its pattern is dropped.
std::vector<FilterPair> filterPairs(const std::string& filter);

class Desktop {
public:
    virtual ~Desktop() = default;

    // The full path of the chosen file, empty when the user cancelled.
    virtual std::string chooseFile(const FileDialogRequest& request) = 0;
    virtual Answer showMessage(const MessageRequest& request) = 0;
    // Starts `program` with exactly `arguments`, in `folder`, without a
    // window and without waiting for it. What it writes on its standard
    // error is kept (its first few kilobytes); its standard output is
    // thrown away.
    virtual Fault startProgram(const std::string& program, const std::vector<std::string>& arguments,
                               const std::string& folder) = 0;
    // Waits, with a busy cursor, until the program that startProgram
    // started last has ended (returns at once when it already has), and
    // tells how it ended.
    virtual ProgramEnd waitForProgram() = 0;
    // Asks the program that startProgram started last to end as Ctrl-C
    // ends it (it finishes what it writes); nothing when it has ended.
    virtual void stopProgram() = 0;
    // Shows a text file in the text viewer, without waiting for it.
    virtual Fault showInTextViewer(const std::string& file) = 0;
};

} // namespace vornlog
