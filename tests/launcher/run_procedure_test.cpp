// The run procedure driven through the fake desktop.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "fake_desktop.h"
#include "run_procedure.h"
#include "settings.h"

using vornlog::Answer;
using vornlog::Fault;
using vornlog::FileDialogRequest;
using vornlog::MessageRequest;
using vornlog::Output;
using vornlog::RunChoices;

namespace {

const QString decoder = QStringLiteral("/opt/vornlog/vornlog");
const QString spaceRefusal =
    QStringLiteral("Il y a des espaces dans le nom du fichier\r\n\r\nVornlog ne pourra pas fonctionner");
const QByteArray report = "PC     :  44 01\n   => Inst 0x44=Data\n QMR5V :  44 00\n   => Inst 0x44=Data\n"
                          "PC     :  56\n   => Inst 0x56=Version\n QMR5V :  56 31\n   => Inst 0x56=Version\n";

RunChoices choices(Output output)
{
    RunChoices c;
    c.output = output;
    c.decoder = decoder;
    return c;
}

QString errorLine(int number, const char* description)
{
    return QStringLiteral("Error %1 (%2) in procedure CommandRun_Click of Feuille VornlogRun")
        .arg(number)
        .arg(QString::fromUtf8(description));
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class RunProcedureTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    // A path in the temporary folder, written the platform's way.
    QString path(const QString& relative) const { return QDir::toNativeSeparators(dir_.filePath(relative)); }

    void checkOneErrorBox(const FakeDesktop& desktop, const QString& text)
    {
        QCOMPARE(desktop.messages.size(), 1);
        QCOMPARE(desktop.messages[0].text, text);
        QCOMPARE(desktop.messages[0].title, vornlog::settings::applicationTitle);
        QCOMPARE(desktop.messages[0].icon, MessageRequest::Icon::None);
        QCOMPARE(desktop.messages[0].buttons, MessageRequest::Buttons::Ok);
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void reportRun_asksForBothFilesAndStartsTheDecoderWithBothOptions()
    {
        FakeDesktop desktop;
        desktop.fileAnswers = {path("mes captures/essai.txt"), path("mes captures/rapport.txt")};
        vornlog::CommandRun_Click(desktop, choices(Output::Report));

        QCOMPARE(desktop.dialogs.size(), 2);
        const FileDialogRequest& open = desktop.dialogs[0];
        QCOMPARE(open.kind, FileDialogRequest::Kind::Open);
        QCOMPARE(open.filter, QStringLiteral("Fichiers TXT (*.txt)|*.txt|"));
        QCOMPARE(open.initialName, QStringLiteral("*.txt"));
        QCOMPARE(open.filterIndex, 1);
        const FileDialogRequest& save = desktop.dialogs[1];
        QCOMPARE(save.kind, FileDialogRequest::Kind::Save);
        QCOMPARE(save.filter, QStringLiteral("Fichiers TXT (*.txt)|*.txt|"));
        QCOMPARE(save.initialName, QStringLiteral("*.txt"));
        QCOMPARE(save.filterIndex, 1);
        QVERIFY(save.confirmOverwrite);

        // A space in the folder only is no reason to refuse; both files lie
        // in the folder the decoder runs in, so it gets their bare names.
        QCOMPARE(desktop.started.size(), 1);
        QCOMPARE(desktop.started[0].program, decoder);
        QCOMPARE(desktop.started[0].arguments,
                 (QStringList{"-s", "-v", QStringLiteral("essai.txt"), QStringLiteral("rapport.txt")}));
        QCOMPARE(QDir(desktop.started[0].folder), QDir(dir_.filePath(QStringLiteral("mes captures"))));

        QCOMPARE(desktop.messages.size(), 1);
        QCOMPARE(desktop.messages[0].title, QStringLiteral("Tri"));
        QCOMPARE(desktop.messages[0].text,
                 QStringLiteral("Si Vornlog a créé le fichier, vous pouvez en faire une version\r\n"
                                "triée avec les exclusions mises en place"));
        QCOMPARE(desktop.messages[0].buttons, MessageRequest::Buttons::YesNo);
        QCOMPARE(desktop.messages[0].icon, MessageRequest::Icon::None);
        // No: only the unsorted report, which the decoder opens itself.
        QCOMPARE(desktop.calls, (QStringList{"dialog", "dialog", "start", "message"}));
        QVERIFY(!QFile::exists(dir_.filePath(QStringLiteral("mes captures/rapportTrié.txt"))));
    }

    void csvRun_startsTheDecoderWithStepsOnlyAndAsksNothing()
    {
        FakeDesktop desktop;
        desktop.fileAnswers = {path("essai.txt"), path("pas.csv")};
        vornlog::CommandRun_Click(desktop, choices(Output::StepsCsv));

        QCOMPARE(desktop.dialogs.size(), 2);
        QCOMPARE(desktop.dialogs[1].filter, QStringLiteral("Fichiers csv (*.csv)|*.csv|"));
        QCOMPARE(desktop.dialogs[1].initialName, QStringLiteral("*.csv"));
        QVERIFY(desktop.dialogs[1].confirmOverwrite);
        QCOMPARE(desktop.started.size(), 1);
        QCOMPARE(desktop.started[0].arguments, (QStringList{"-s", "essai.txt", "pas.csv"}));
        QCOMPARE(desktop.calls, (QStringList{"dialog", "dialog", "start"}));
    }

    void dumpInAnotherFolder_isPassedByItsFullPath()
    {
        FakeDesktop desktop;
        desktop.fileAnswers = {path("captures/essai.txt"), path("sortie/rapport.txt")};
        vornlog::CommandRun_Click(desktop, choices(Output::Report));

        QCOMPARE(desktop.started.size(), 1);
        const QStringList& arguments = desktop.started[0].arguments;
        QCOMPARE(arguments.size(), 4);
        QCOMPARE(QFileInfo(arguments[2]), QFileInfo(dir_.filePath(QStringLiteral("captures/essai.txt"))));
        QVERIFY(QFileInfo(arguments[2]).isAbsolute());
        QCOMPARE(arguments[3], QStringLiteral("rapport.txt"));
        QCOMPARE(QDir(desktop.started[0].folder), QDir(dir_.filePath(QStringLiteral("sortie"))));
    }

    void spaceInABareName_isRefusedAndNothingStarts_data()
    {
        QTest::addColumn<QString>("dump");
        QTest::addColumn<QString>("dest");
        QTest::addColumn<int>("dialogs");
        QTest::newRow("dump") << QStringLiteral("capture/essai 1.txt") << QString() << 1;
        QTest::newRow("dest") << QStringLiteral("essai.txt") << QStringLiteral("mon rapport.txt") << 2;
    }

    void spaceInABareName_isRefusedAndNothingStarts()
    {
        QFETCH(QString, dump);
        QFETCH(QString, dest);
        QFETCH(int, dialogs);
        FakeDesktop desktop;
        desktop.fileAnswers = {path(dump), dest.isEmpty() ? QString() : path(dest)};
        vornlog::CommandRun_Click(desktop, choices(Output::Report));

        QCOMPARE(desktop.dialogs.size(), dialogs);
        QVERIFY(desktop.started.isEmpty());
        QCOMPARE(desktop.messages.size(), 1);
        QCOMPARE(desktop.messages[0].text, spaceRefusal);
        QCOMPARE(desktop.messages[0].title, QStringLiteral("Opération abandonnée"));
        QCOMPARE(desktop.messages[0].icon, MessageRequest::Icon::Critical);
        QCOMPARE(desktop.messages[0].buttons, MessageRequest::Buttons::Ok);
    }

    void cancellingEitherDialog_endsSilently()
    {
        FakeDesktop first;
        vornlog::CommandRun_Click(first, choices(Output::Report));
        QCOMPARE(first.calls, QStringList{"dialog"});

        FakeDesktop second;
        second.fileAnswers = {path("essai.txt")};
        vornlog::CommandRun_Click(second, choices(Output::StepsCsv));
        QCOMPARE(second.calls, (QStringList{"dialog", "dialog"}));
    }

    void yes_waitsForTheDecoderThenWritesAndShowsTheSortedCopy()
    {
        FakeDesktop desktop;
        const QString dest = dir_.filePath(QStringLiteral("tri/essai.txt"));
        const QString sorted = dir_.filePath(QStringLiteral("tri/essaiTrié.txt"));
        writeFile(dest, "half a report\n");
        // The decoder finishes its report while the procedure waits.
        desktop.onWait = [&] { writeFile(dest, report); };
        desktop.fileAnswers = {path("tri/capture.txt"), QDir::toNativeSeparators(dest)};
        desktop.messageAnswers = {Answer::Yes};
        RunChoices c = choices(Output::Report);
        c.keep[vornlog::instructionLetters.find('D')] = true;
        vornlog::CommandRun_Click(desktop, c);

        QCOMPARE(desktop.calls, (QStringList{"dialog", "dialog", "start", "message", "wait", "view"}));
        QCOMPARE(readFile(sorted), QByteArray("PC     :  44 01\n   => Inst 0x44=Data\n QMR5V :  44 00\n"
                                              "   => Inst 0x44=Data\n"));
        QCOMPARE(QFileInfo(desktop.viewed.value(0)), QFileInfo(sorted));
    }

    void errors_goToTheOneErrorBox_data()
    {
        QTest::addColumn<QString>("dest");
        QTest::addColumn<QString>("decoderPath");
        QTest::addColumn<int>("startResult");
        QTest::addColumn<int>("viewerResult");
        QTest::addColumn<QString>("expected");
        const int none = int(Fault::None);
        QTest::newRow("decoder found nowhere")
            << QStringLiteral("erreurs/essai.txt") << QString() << none << none << errorLine(53, "Fichier introuvable");
        QTest::newRow("decoder may not be started") << QStringLiteral("erreurs/essai.txt") << decoder
                                                    << int(Fault::PermissionDenied) << none
                                                    << errorLine(70, "Permission refusée");
        QTest::newRow("no report to sort") << QStringLiteral("erreurs/absent.txt") << decoder << none << none
                                           << errorLine(53, "Fichier introuvable");
        QTest::newRow("dest name under four characters")
            << QStringLiteral("erreurs/abc") << decoder << none << none
            << errorLine(5, "Appel de procédure ou argument incorrect");
        QTest::newRow("sorted copy cannot be written") << QStringLiteral("erreurs/bloque.txt") << decoder << none
                                                       << none << errorLine(75, "Erreur d'accès chemin/fichier");
        QTest::newRow("viewer cannot be started") << QStringLiteral("erreurs/essai.txt") << decoder << none
                                                  << int(Fault::NotFound) << errorLine(53, "Fichier introuvable");
    }

    void errors_goToTheOneErrorBox()
    {
        QFETCH(QString, dest);
        QFETCH(QString, decoderPath);
        QFETCH(int, startResult);
        QFETCH(int, viewerResult);
        QFETCH(QString, expected);
        writeFile(dir_.filePath(QStringLiteral("erreurs/essai.txt")), report);
        writeFile(dir_.filePath(QStringLiteral("erreurs/abc")), report);
        writeFile(dir_.filePath(QStringLiteral("erreurs/bloque.txt")), report);
        QDir(dir_.path()).mkpath(QStringLiteral("erreurs/bloqueTrié.txt"));

        FakeDesktop desktop;
        desktop.fileAnswers = {path("erreurs/capture.txt"), path(dest)};
        desktop.messageAnswers = {Answer::Yes};
        desktop.startResult = Fault(startResult);
        desktop.viewerResult = Fault(viewerResult);
        RunChoices c = choices(Output::Report);
        c.decoder = decoderPath;
        vornlog::CommandRun_Click(desktop, c);

        // The error box is the last thing shown; it may follow the question.
        QVERIFY(!desktop.messages.isEmpty());
        QCOMPARE(desktop.messages.last().text, expected);
        QCOMPARE(desktop.messages.last().title, vornlog::settings::applicationTitle);
        QCOMPARE(desktop.messages.last().icon, MessageRequest::Icon::None);
        QCOMPARE(desktop.messages.last().buttons, MessageRequest::Buttons::Ok);
        QCOMPARE(desktop.calls.last(), QStringLiteral("message"));
        if (QTest::currentDataTag() != QByteArrayLiteral("viewer cannot be started")) QVERIFY(desktop.viewed.isEmpty());
    }

    void decoder_isLookedForBesideTheLauncherFirst()
    {
        const QString suffix =
#ifdef Q_OS_WIN
            QStringLiteral(".exe");
#else
            QString();
#endif
        const QString beside = dir_.filePath(QStringLiteral("launcher/vornlog") + suffix);
        const QString onPath = dir_.filePath(QStringLiteral("path/vornlog") + suffix);
        for (const QString& file : {beside, onPath}) {
            writeFile(file, "#!/bin/sh\n");
            QFile::setPermissions(file, QFile::permissions(file) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
        }
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QDir::toNativeSeparators(dir_.filePath(QStringLiteral("path"))).toLocal8Bit() +
                            QDir::listSeparator().toLatin1() + oldPath);
        const QString found = vornlog::locateDecoder(dir_.filePath(QStringLiteral("launcher")));
        const QString foundOnPath = vornlog::locateDecoder(dir_.filePath(QStringLiteral("elsewhere")));
        qputenv("PATH", oldPath);

        QCOMPARE(QFileInfo(found), QFileInfo(beside));
        QCOMPARE(QFileInfo(foundOnPath), QFileInfo(onPath));
    }
};

QTEST_GUILESS_MAIN(RunProcedureTest)
#include "run_procedure_test.moc"
