// A desktop for the tests: it answers file dialogs and message boxes from a
// script and records everything it was asked, in order.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "desktop.h"

struct StartedProgram {
    std::string program;
    std::vector<std::string> arguments;
    std::string folder;
};

class FakeDesktop : public vornlog::Desktop {
public:
    // Answers, taken in order. A file dialog with no answer left counts as
    // cancelled; a message box with no answer left gets OK (or No).
    std::deque<std::string> fileAnswers;
    std::deque<vornlog::Answer> messageAnswers;
    // What startProgram and showInTextViewer report.
    vornlog::Fault startResult = vornlog::Fault::None;
    vornlog::Fault viewerResult = vornlog::Fault::None;
    // Run when the procedure waits for the decoder, as the decoder ending;
    // then the end that waitForProgram reports.
    std::function<void()> onWait;
    vornlog::ProgramEnd programEnd;
    // When set, programs are really started and waited for through it.
    vornlog::Desktop* realStarter = nullptr;

    std::vector<vornlog::FileDialogRequest> dialogs;
    std::vector<vornlog::MessageRequest> messages;
    std::vector<StartedProgram> started;
    std::vector<std::string> viewed;
    // One word for each call, in order: "dialog", "message", "start",
    // "wait", "stop", "view".
    std::vector<std::string> calls;

    std::string chooseFile(const vornlog::FileDialogRequest& request) override;
    vornlog::Answer showMessage(const vornlog::MessageRequest& request) override;
    vornlog::Fault startProgram(const std::string& program, const std::vector<std::string>& arguments,
                                const std::string& folder) override;
    vornlog::ProgramEnd waitForProgram() override;
    void stopProgram() override;
    vornlog::Fault showInTextViewer(const std::string& file) override;
};
