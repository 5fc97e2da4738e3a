#include "qt_desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>
#include <QUrl>

#include "text.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace vornlog {

namespace {

// The part of a program's standard error that is kept: its message.
constexpr qsizetype kMaxErrorText = 4096;

// "Fichiers TXT (*.txt)|*.txt|" as Qt's name filters: "Fichiers TXT (*.txt)";
// Qt reads the patterns between the parentheses, separated by spaces.
QStringList nameFilters(const std::string& filter)
{
    QStringList filters;
    for (const FilterPair& pair : filterPairs(filter)) {
        const QString description = qt(pair.description);
        const QString patterns = qt(pair.patterns).replace(u';', u' ');
        const QString listed = QStringLiteral("(") + patterns + u')';
        filters << (description.contains(listed) ? description : description + u' ' + listed);
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

std::string QtDesktop::chooseFile(const FileDialogRequest& request)
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
    dialog.selectFile(qt(request.initialName));
    if (dialog.exec() != QDialog::Accepted) return {};
    return utf8(QDir::toNativeSeparators(dialog.selectedFiles().value(0)));
}

Answer QtDesktop::showMessage(const MessageRequest& request)
{
    const bool yesNo = request.buttons == MessageRequest::Buttons::YesNo;
    QString text = qt(request.text);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(iconOf(request.icon), qt(request.title), text,
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, QApplication::activeWindow());
    switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    default: return yesNo ? Answer::No : Answer::Ok;
    }
}

Fault QtDesktop::startProgram(const std::string& program, const std::vector<std::string>& arguments,
                              const std::string& folder)
{
    // No command interpreter: the arguments reach the program exactly as
    // given, spaces and all. Its console output is thrown away; its
    // standard error is read as it comes, and kept for the program started
    // last.
    QStringList list;
    for (const std::string& argument : arguments) list << qt(argument);
    auto* process = new QProcess(&programs_);
    process->setProgram(qt(program));
    process->setArguments(list);
    process->setWorkingDirectory(qt(folder));
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start();
    if (!process->waitForStarted(-1)) {
        delete process;
        return startFault(qt(program), qt(folder));
    }
    last_ = process;
    lastErrors_.clear();
    lastEnd_.reset();
    const auto readErrors = [this, process] {
        const QByteArray bytes = process->readAllStandardError();
        if (process == last_) lastErrors_ += bytes.left(kMaxErrorText - lastErrors_.size());
    };
    QObject::connect(process, &QProcess::readyReadStandardError, process, readErrors);
    QObject::connect(process, &QProcess::finished, process,
                     [this, process, readErrors](int code, QProcess::ExitStatus status) {
                         readErrors();
                         if (process == last_)
                             lastEnd_ = ProgramEnd{status == QProcess::NormalExit ? code : -1,
                                                   lastErrors_.toStdString()};
                         process->deleteLater();
                     });
    return Fault::None;
}

ProgramEnd QtDesktop::waitForProgram()
{
    if (last_ && last_->state() != QProcess::NotRunning) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        last_->waitForFinished(-1);
        QApplication::restoreOverrideCursor();
    }
    return lastEnd_.value_or(ProgramEnd{});
}

// SIGTERM, which the decoder takes as Ctrl-C (on Windows the decoder has
// no live viewer and has ended already).
void QtDesktop::stopProgram()
{
    if (last_ && last_->state() != QProcess::NotRunning) last_->terminate();
}

// The one platform-specific choice: Notepad on Windows, elsewhere whatever
// the desktop opens text files with.
Fault QtDesktop::showInTextViewer(const std::string& file)
{
#ifdef Q_OS_WIN
    // Notepad by its full path in the system folder: a program given by its
    // bare name is looked for in the launcher's folder and in the current
    // folder first, and a notepad.exe could lie there beside a capture.
    wchar_t system[MAX_PATH + 1];
    const UINT n = GetSystemDirectoryW(system, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return Fault::NotFound;
    const QString notepad = QString::fromWCharArray(system, static_cast<qsizetype>(n)) + QStringLiteral("\\notepad.exe");
    const bool started = QProcess::startDetached(notepad, {QDir::toNativeSeparators(qt(file))});
#else
    const bool started = QDesktopServices::openUrl(QUrl::fromLocalFile(qt(file)));
#endif
    return started ? Fault::None : Fault::NotFound;
}

bool loadFrenchTranslations()
{
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

} // namespace vornlog
