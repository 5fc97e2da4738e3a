#include "run_procedure.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "settings.h"

namespace vornlog {

namespace {

const QString decoderName = QStringLiteral("vornlog");

// The error numbers and descriptions of the error box.
struct FaultText {
    Fault fault;
    int number;
    const char* description; // UTF-8
};

constexpr FaultText faultTexts[] = {
    {Fault::BadArgument, 5, "Appel de procédure ou argument incorrect"},
    {Fault::NotFound, 53, "Fichier introuvable"},
    {Fault::PermissionDenied, 70, "Permission refusée"},
    {Fault::PathAccess, 75, "Erreur d'accès chemin/fichier"},
};

// Ends the procedure and goes to the error box.
struct RunFailure {
    Fault fault;
};

void check(Fault fault)
{
    if (fault != Fault::None) throw RunFailure{fault};
}

// The filter and initial name of a dialog for text files and for CSV files.
const QString txtFilter = QStringLiteral("Fichiers TXT (*.txt)|*.txt|");
const QString txtName = QStringLiteral("*.txt");
const QString csvFilter = QStringLiteral("Fichiers csv (*.csv)|*.csv|");
const QString csvName = QStringLiteral("*.csv");

FileDialogRequest dumpDialog()
{
    return {FileDialogRequest::Kind::Open, txtFilter, 1, txtName, false};
}

FileDialogRequest destDialog(Output output)
{
    if (output == Output::StepsCsv) return {FileDialogRequest::Kind::Save, csvFilter, 1, csvName, true};
    return {FileDialogRequest::Kind::Save, txtFilter, 1, txtName, true};
}

void refuseSpaces(Desktop& desktop)
{
    desktop.showMessage({QStringLiteral("Il y a des espaces dans le nom du fichier\r\n\r\nVornlog ne pourra pas fonctionner"),
                         QStringLiteral("Opération abandonnée"), MessageRequest::Icon::Critical,
                         MessageRequest::Buttons::Ok});
}

bool askForSortedCopy(Desktop& desktop)
{
    const Answer answer = desktop.showMessage(
        {QStringLiteral("Si Vornlog a créé le fichier, vous pouvez en faire une version\r\ntriée avec les exclusions mises en place"),
         QStringLiteral("Tri"), MessageRequest::Icon::None, MessageRequest::Buttons::YesNo});
    return answer == Answer::Yes;
}

// A chosen file: its bare name (folders removed as the platform separates
// them) and the folder it lies in.
struct ChosenFile {
    QString name;
    QDir folder;
};

ChosenFile chosen(const QString& path)
{
    const QFileInfo info(path);
    return {info.fileName(), info.absoluteDir()};
}

bool hasSpace(const QString& name)
{
    return name.contains(QLatin1Char(' '));
}

void run(Desktop& desktop, const RunChoices& choices)
{
    const QString dumpPath = desktop.chooseFile(dumpDialog());
    if (dumpPath.isEmpty()) return;
    const ChosenFile dump = chosen(dumpPath);
    if (hasSpace(dump.name)) {
        refuseSpaces(desktop);
        return;
    }

    const QString destPath = desktop.chooseFile(destDialog(choices.output));
    if (destPath.isEmpty()) return;
    const ChosenFile dest = chosen(destPath);
    if (hasSpace(dest.name)) {
        refuseSpaces(desktop);
        return;
    }

    // The decoder runs in the dest file's folder and gets the dest file by
    // its bare name; the dump file too when it lies there, its full path
    // otherwise.
    const QString dumpArgument =
        dump.folder == dest.folder ? dump.name : QDir::toNativeSeparators(dump.folder.absoluteFilePath(dump.name));
    QStringList arguments{QStringLiteral("-s")};
    if (choices.output == Output::Report) arguments << QStringLiteral("-v"); // the last option given counts
    arguments << dumpArgument << dest.name;

    if (choices.decoder.isEmpty()) throw RunFailure{Fault::NotFound};
    check(desktop.startProgram(choices.decoder, arguments, dest.folder.absolutePath()));
    // The decoder opens the CSV or the unsorted report itself when it ends.
    if (choices.output == Output::StepsCsv) return;

    if (!askForSortedCopy(desktop)) return;
    const QString sortedName = sortedFileName(dest.name);
    if (sortedName.isEmpty()) throw RunFailure{Fault::BadArgument};
    // Reading the report while the decoder still writes it would give a
    // copy of half a report.
    desktop.waitForProgram();
    const QString sortedPath = dest.folder.absoluteFilePath(sortedName);
    check(writeSortedCopy(dest.folder.absoluteFilePath(dest.name), sortedPath, choices.keep));
    check(desktop.showInTextViewer(sortedPath));
}

} // namespace

QString errorText(Fault fault)
{
    const FaultText* text = nullptr;
    for (const FaultText& t : faultTexts)
        if (t.fault == fault) text = &t;
    // Anything without a number of its own is a file access error.
    if (!text) return errorText(Fault::PathAccess);
    return QStringLiteral("Error %1 (%2) in procedure CommandRun_Click of Feuille VornlogRun")
        .arg(text->number)
        .arg(QString::fromUtf8(text->description));
}

void CommandRun_Click(Desktop& desktop, const RunChoices& choices)
{
    try {
        run(desktop, choices);
    } catch (const RunFailure& failure) {
        desktop.showMessage(
            {errorText(failure.fault), settings::applicationTitle, MessageRequest::Icon::None, MessageRequest::Buttons::Ok});
    }
}

QString locateDecoder(const QString& launcherFolder)
{
    const QString beside = QStandardPaths::findExecutable(decoderName, {launcherFolder});
    return beside.isEmpty() ? QStandardPaths::findExecutable(decoderName) : beside;
}

} // namespace vornlog
