// The launcher's run procedure with the real decoder, started through the
// real process starter, on a small capture.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "fake_desktop.h"
#include "qt_desktop.h"
#include "run_procedure.h"
#include "text.h"

using vornlog::Answer;
using vornlog::Output;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QByteArray oldPath_;

    // The capture, copied into a folder whose name holds a space.
    QString capture() const { return dir_.filePath(QStringLiteral("mes captures/essai.txt")); }

private slots:
    void initTestCase()
    {
#ifdef Q_OS_WIN
        QSKIP("the decoder shows its output in Notepad here");
#endif
        QVERIFY(dir_.isValid());
        QDir folder(dir_.path());
        QVERIFY(folder.mkpath(QStringLiteral("mes captures")) && folder.mkpath(QStringLiteral("sortie")) &&
                folder.mkpath(QStringLiteral("bin")));
        QVERIFY(QFile::copy(QStringLiteral(LAUNCHER_TEST_DATA "/capture.txt"), capture()));

        // The decoder asks the desktop to show what it wrote when it ends;
        // here the desktop's openers do nothing.
        for (const char* opener : {"xdg-open", "open"}) {
            QFile script(folder.filePath(QStringLiteral("bin/") + QLatin1String(opener)));
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\nexit 0\n");
            script.close();
            QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));
        }
        oldPath_ = qgetenv("PATH");
        qputenv("PATH", folder.filePath(QStringLiteral("bin")).toLocal8Bit() + ':' + oldPath_);
    }

    void cleanupTestCase() { qputenv("PATH", oldPath_); }

    void report_sortedCopyKeepsTheTickedInstructions()
    {
        vornlog::QtDesktop real;
        FakeDesktop desktop;
        desktop.realStarter = &real;
        const QString dest = dir_.filePath(QStringLiteral("sortie/rapport.txt"));
        desktop.fileAnswers = {vornlog::utf8(QDir::toNativeSeparators(capture())),
                               vornlog::utf8(QDir::toNativeSeparators(dest))};
        desktop.messageAnswers = {Answer::Yes};
        vornlog::RunChoices choices;
        choices.output = Output::Report;
        choices.decoder = VORNLOG_EXE;
        for (char letter : {'V', 'D'}) choices.keep[vornlog::instructionLetters.find(letter)] = true;
        vornlog::CommandRun_Click(desktop, choices);

        QCOMPARE(desktop.calls, (std::vector<std::string>{"dialog", "dialog", "start", "message", "wait", "view"}));
        const QString sorted = dir_.filePath(QStringLiteral("sortie/rapportTrié.txt"));
        QCOMPARE(desktop.viewed.size(), 1u);
        QCOMPARE(QFileInfo(vornlog::qt(desktop.viewed[0])), QFileInfo(sorted));

        // The report holds every message; the copy is the report without
        // the Stop block and the block of the unknown X, which lie together.
        const QByteArray report = readFile(dest);
        QVERIFY2(report.startsWith("PC     :  56 00 00 00 00 00 00 00\n"), report.constData());
        const qsizetype stop = report.indexOf("\nPC     :  53 02") + 1;
        const qsizetype afterX = report.indexOf("\nPC     :  44 01 20 00 30") + 1;
        QVERIFY(stop > 0 && afterX > stop);
        QVERIFY(report.indexOf("PC     :  58 01") > stop);
        const QByteArray expected = report.left(stop) + report.mid(afterX);
        const QByteArray copy = readFile(sorted);
        QCOMPARE(copy, expected);

        QStringList echoLines;
        for (const QByteArray& line : copy.split('\n'))
            if (line.startsWith("PC") || line.startsWith(" QMR5V")) echoLines << QString::fromLatin1(line);
        QCOMPARE(echoLines, (QStringList{
                                "PC     :  56 00 00 00 00 00 00 00",
                                " QMR5V :  56 31 2E 30 00 00 00 00",
                                "PC     :  44 01 10 00 20 00 00 00",
                                " QMR5V :  44 00 01 00 00 00 00 00",
                                "PC     :  44 01 20 00 30 00 00 00",
                                " QMR5V :  44 00 02 00 00 00 00 00",
                            }));
    }

    void stepsCsv_isWrittenByTheDecoder()
    {
        vornlog::QtDesktop real;
        FakeDesktop desktop;
        desktop.realStarter = &real;
        const QString dest = dir_.filePath(QStringLiteral("sortie/pas.csv"));
        desktop.fileAnswers = {vornlog::utf8(capture()), vornlog::utf8(dest)};
        vornlog::RunChoices choices;
        choices.output = Output::StepsCsv;
        choices.decoder = VORNLOG_EXE;
        vornlog::CommandRun_Click(desktop, choices);
        QCOMPARE(desktop.calls, (std::vector<std::string>{"dialog", "dialog", "start"}));

        real.waitForProgram();
        const QByteArray csv = readFile(dest);
        QVERIFY2(csv.contains(';'), csv.constData());
        QVERIFY(!csv.contains("PC     :"));
    }

    // The options the launcher gives for the picture and the summary are
    // the decoder's.
    void pictureAndSummary_areWrittenByTheDecoder()
    {
        const struct {
            Output output;
            const char* name;
            QByteArray start, end;
        } runs[] = {
            {Output::Picture, "trajet.svg", "<?xml", "</svg>\n"},
            {Output::Summary, "resume.txt", "Vornlog session summary\n", "\n"},
        };
        for (const auto& run : runs) {
            vornlog::QtDesktop real;
            FakeDesktop desktop;
            desktop.realStarter = &real;
            const QString dest = dir_.filePath(QStringLiteral("sortie/") + QLatin1String(run.name));
            desktop.fileAnswers = {vornlog::utf8(capture()), vornlog::utf8(dest)};
            vornlog::RunChoices choices;
            choices.output = run.output;
            choices.decoder = VORNLOG_EXE;
            vornlog::CommandRun_Click(desktop, choices);
            QCOMPARE(desktop.calls, (std::vector<std::string>{"dialog", "dialog", "start"}));

            real.waitForProgram();
            const QByteArray written = readFile(dest);
            QVERIFY2(written.startsWith(run.start) && written.endsWith(run.end), written.left(200).constData());
        }
    }

    // How the decoder ended comes back: its exit status and its message.
    void decoderEnd_isReadBack()
    {
        vornlog::QtDesktop real;
        const std::string folder = vornlog::utf8(dir_.path());
        QCOMPARE(real.startProgram(VORNLOG_EXE, {"-n", "absent é.txt", "out.txt"}, folder), vornlog::Fault::None);
        const vornlog::ProgramEnd failed = real.waitForProgram();
        QCOMPARE(failed.status, 1);
        QCOMPARE(failed.errorText, std::string("Can't read the file: absent é.txt\n"));
        QCOMPARE(real.startProgram(VORNLOG_EXE, {"-n", vornlog::utf8(capture()), "ok.txt"}, folder),
                 vornlog::Fault::None);
        const vornlog::ProgramEnd succeeded = real.waitForProgram();
        QCOMPARE(succeeded.status, 0);
        QCOMPARE(succeeded.errorText, std::string());
    }

    void startFailures_areTold()
    {
        vornlog::QtDesktop real;
        const std::string folder = vornlog::utf8(dir_.path());
        QCOMPARE(real.startProgram(vornlog::utf8(dir_.filePath(QStringLiteral("absent"))), {}, folder),
                 vornlog::Fault::NotFound);
        QCOMPARE(real.startProgram(vornlog::utf8(capture()), {}, folder), vornlog::Fault::PermissionDenied);
        QCOMPARE(real.startProgram(VORNLOG_EXE, {}, vornlog::utf8(dir_.filePath(QStringLiteral("absent")))),
                 vornlog::Fault::PathAccess);
    }
};

QTEST_MAIN(EndToEndTest)
#include "end_to_end_test.moc"
