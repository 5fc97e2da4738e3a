#include "qt_desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace vornlog {

namespace {

// "Fichiers TXT (*.txt)|*.txt|" as Qt's name filters: "Fichiers TXT (*.txt)".
QStringList nameFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString& pattern = parts[i + 1];
        filters << (description.contains(pattern) ? description : description + QStringLiteral(" (") + pattern + u')');
    }
    return filters;
}

QMessageBox::Icon iconOf(MessageRequest::Icon icon)
{
    switch (icon) {
    case MessageRequest::Icon::Information: return QMessageBox::Information;
    case MessageRequest::Icon::Critical: return QMessageBox::Critical;
    case MessageRequest::Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

// Why a program could not be started.
Fault startFault(const QString& program, const QString& folder)
{
    if (!QDir(folder).exists()) return Fault::PathAccess;
    const QFileInfo info(program);
    if (!info.exists()) return Fault::NotFound;
    if (info.isDir() || !info.isExecutable()) return Fault::PermissionDenied;
    return Fault::PathAccess;
}

} // namespace

QtDesktop::~QtDesktop()
{
    for (QProcess* program : programs_.findChildren<QProcess*>()) program->waitForFinished(-1);
}

QString QtDesktop::chooseFile(const FileDialogRequest& request)
{
    const bool open = request.kind == FileDialogRequest::Kind::Open;
    QFileDialog dialog(QApplication::activeWindow());
    dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    const QStringList filters = nameFilters(request.filter);
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles().value(0);
}

Answer QtDesktop::showMessage(const MessageRequest& request)
{
    const bool yesNo = request.buttons == MessageRequest::Buttons::YesNo;
    QString text = request.text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(iconOf(request.icon), request.title, text,
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, QApplication::activeWindow());
    switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    default: return yesNo ? Answer::No : Answer::Ok;
    }
}

Fault QtDesktop::startProgram(const QString& program, const QStringList& arguments, const QString& folder)
{
    // No command interpreter: the arguments reach the program exactly as
    // given, spaces and all. A console program started from this window
    // gets no console window on Windows (QProcess's default there), and its
    // console output is thrown away.
    auto* process = new QProcess(&programs_);
    process->setProgram(program);
    process->setArguments(arguments);
    process->setWorkingDirectory(folder);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start();
    if (!process->waitForStarted(-1)) {
        delete process;
        return startFault(program, folder);
    }
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    last_ = process;
    return Fault::None;
}

void QtDesktop::waitForProgram()
{
    if (!last_ || last_->state() == QProcess::NotRunning) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    last_->waitForFinished(-1);
    QApplication::restoreOverrideCursor();
}

// The one platform-specific choice: Notepad on Windows, elsewhere whatever
// the desktop opens text files with.
Fault QtDesktop::showInTextViewer(const QString& file)
{
#ifdef Q_OS_WIN
    const bool started = QProcess::startDetached(QStringLiteral("notepad.exe"), {QDir::toNativeSeparators(file)});
#else
    const bool started = QDesktopServices::openUrl(QUrl::fromLocalFile(file));
#endif
    return started ? Fault::None : Fault::NotFound;
}

} // namespace vornlog
