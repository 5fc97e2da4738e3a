// The Qt desktop: Qt's file dialogs and message boxes, the decoder started
// with QProcess (its exit status and standard error read back), the sorted
// copy shown in the text viewer.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QProcess>

#include <optional>

#include "desktop.h"

namespace vornlog {

class QtDesktop : public Desktop {
public:
    QtDesktop() = default;
    // Waits for the decoders still running: ending the launcher must not
    // cut a report short.
    ~QtDesktop() override;
    QtDesktop(const QtDesktop&) = delete;
    QtDesktop& operator=(const QtDesktop&) = delete;

    std::string chooseFile(const FileDialogRequest& request) override;
    Answer showMessage(const MessageRequest& request) override;
    Fault startProgram(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& folder) override;
    ProgramEnd waitForProgram() override;
    void stopProgram() override;
    Fault showInTextViewer(const std::string& file) override;

private:
    QObject programs_; // owns every started program until it has ended
    // The program started last, its standard error so far, and how it
    // ended once it has.
    QPointer<QProcess> last_;
    QByteArray lastErrors_;
    std::optional<ProgramEnd> lastEnd_;
};

// Qt's own texts (dialog labels, standard buttons) in French, whatever the
// system's language: the whole window is French. False when Qt's French
// translations are not installed.
bool loadFrenchTranslations();

} // namespace vornlog
