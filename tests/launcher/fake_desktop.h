// A desktop for the tests: it answers file dialogs and message boxes from a
// script and records everything it was asked, in order.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

#include "desktop.h"

struct StartedProgram {
    QString program;
    QStringList arguments;
    QString folder;
};

class FakeDesktop : public vornlog::Desktop {
public:
    // Answers, taken in order. A file dialog with no answer left counts as
    // cancelled; a message box with no answer left gets OK (or No).
    QStringList fileAnswers;
    QList<vornlog::Answer> messageAnswers;
    // What startProgram and showInTextViewer report.
    vornlog::Fault startResult = vornlog::Fault::None;
    vornlog::Fault viewerResult = vornlog::Fault::None;
    // Run when the procedure waits for the decoder, as the decoder ending.
    std::function<void()> onWait;
    // When set, programs are really started and waited for through it.
    vornlog::Desktop* realStarter = nullptr;

    QList<vornlog::FileDialogRequest> dialogs;
    QList<vornlog::MessageRequest> messages;
    QList<StartedProgram> started;
    QStringList viewed;
    // One word for each call, in order: "dialog", "message", "start",
    // "wait", "view".
    QStringList calls;

    QString chooseFile(const vornlog::FileDialogRequest& request) override;
    vornlog::Answer showMessage(const vornlog::MessageRequest& request) override;
    vornlog::Fault startProgram(const QString& program, const QStringList& arguments, const QString& folder) override;
    void waitForProgram() override;
    vornlog::Fault showInTextViewer(const QString& file) override;
};
