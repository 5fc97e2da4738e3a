// The sorted copy over hand-written reports.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "sorted_copy.h"

using vornlog::Fault;
using vornlog::KeptInstructions;

namespace {

KeptInstructions keepOnly(std::string_view letters)
{
    KeptInstructions keep{};
    for (char letter : letters) keep[vornlog::instructionLetters.find(letter)] = true;
    return keep;
}

KeptInstructions keepAll()
{
    KeptInstructions keep;
    keep.fill(true);
    return keep;
}

// A report as the decoder writes it: each echo line is followed by the
// line end of its data field, which leaves an empty line.
const QByteArray preamble = " QMR5V :  49 00 05\n\n   => Inst 0x49=Information\n";
const QByteArray versionBlock = "PC     :  56\n\n   => Inst 0x56=Version\n"
                                " QMR5V :  56 31 2E 30\n\n   => Inst 0x56=Version\n     V=1.0\n";
const QByteArray dataBlock = "PC     :  44 01 10 00\n\n   => Inst 0x44=Data\n     CMD=0x01\t-> Segment\n"
                             " QMR5V :  44 00\n\n   => Inst 0x44=Data\n";
const QByteArray stopBlock = "PC     :  53 02\n\n   => Inst 0x53=Stop\n QMR5V :  53 00\n\n   => Inst 0x53=Stop\n";
const QByteArray secondDataBlock = "PC     :  44 02 20 00\n\n   => Inst 0x44=Data\n QMR5V :  44 01\n\n";

const QByteArray report = preamble + versionBlock + dataBlock + stopBlock + secondDataBlock;

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class SortedCopyTest : public QObject {
    Q_OBJECT

private slots:
    void keepsTheTickedInstructionsWithTheirReplies_data()
    {
        QTest::addColumn<QByteArray>("letters");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("no box ticked: only the lines before the first PC line") << QByteArray() << preamble;
        QTest::newRow("only Data: both Data blocks, no reply to another instruction")
            << QByteArray("D") << preamble + dataBlock + secondDataBlock;
        QTest::newRow("Version and Stop") << QByteArray("VS") << preamble + versionBlock + stopBlock;
        QTest::newRow("boxes of instructions absent from the report") << QByteArray("RWCY") << preamble;
        QTest::newRow("every box") << QByteArray("VBDISTPMGOLZFREWCY") << report;
    }

    void keepsTheTickedInstructionsWithTheirReplies()
    {
        QFETCH(QByteArray, letters);
        QFETCH(QByteArray, expected);
        QCOMPARE(vornlog::sortReport(report, keepOnly(letters.toStdString())), expected);
    }

    void keepsTheBytesOfKeptLines()
    {
        // Windows line ends, a lone "\r", a NUL and a byte of LCD text inside
        // a kept block, and a last line without a line end.
        const QByteArray kept = "PC     :  4C 41\r\n\r\n   => Inst 0x4C=LCD\r\n     T=\rA" + QByteArray(1, '\0') +
                                "\xE9\r\nPC     :  4C 42";
        const QByteArray dropped = "PC     :  50 10\r\n   => Inst 0x50=PWM\r\n";
        const QByteArray crlfReport = "head\r\n" + dropped + kept;
        QCOMPARE(vornlog::sortReport(crlfReport, keepOnly("L")), "head\r\n" + kept);
        QCOMPARE(vornlog::sortReport(crlfReport, keepOnly("P")), "head\r\n" + dropped);
    }

    void dropsTheBlocksOfUnknownLetters()
    {
        // 0x58 is X, 0x00 has no letter; 0x5A (Z) is one of the 18.
        const QByteArray unknown = "PC     :  58 01\n   => ERROR: Unknown instruction...\n QMR5V :  58\n";
        const QByteArray noCode = "PC     :  \n   => ERROR: Unknown instruction...\n";
        const QByteArray reset = "PC     :  5A\n   => Inst 0x5A=Reset\n";
        QCOMPARE(vornlog::sortReport(unknown + reset + noCode, keepAll()), reset);
    }

    void onlyLinesStartingWithPcStartABlock()
    {
        const QByteArray text = "PC     :  44 01\n pc :  53\n PC     :  53\npc     :  53\n";
        QCOMPARE(vornlog::sortReport(text, keepOnly("D")), text);
        QCOMPARE(vornlog::sortReport(text, keepOnly("S")), QByteArray());
    }

    void readsTheInstructionCodeAtCharacters11And12_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("code");
        QTest::newRow("upper case") << QByteArray("PC     :  4D 01\n") << 0x4D;
        QTest::newRow("lower case") << QByteArray("PC     :  4d 01\n") << 0x4D;
        QTest::newRow("second character not hex") << QByteArray("PC     :  4 01\n") << 4;
        QTest::newRow("first character not hex") << QByteArray("PC     :  G1\n") << 0;
        QTest::newRow("one digit before the line end") << QByteArray("PC     :  4\r\n") << 4;
        QTest::newRow("line too short") << QByteArray("PC\n") << 0;
        QTest::newRow("fixed place, whatever the label") << QByteArray("PC :  44 01\n") << 1;
    }

    void readsTheInstructionCodeAtCharacters11And12()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, code);
        QCOMPARE(vornlog::echoInstructionCode(line), code);
    }

    void namesTheCopyAfterTheDestFile()
    {
        QCOMPARE(vornlog::sortedFileName(QStringLiteral("essai.txt")), QStringLiteral("essaiTrié.txt"));
        QCOMPARE(vornlog::sortedFileName(QStringLiteral("abcd")), QStringLiteral("Trié.txt"));
        QCOMPARE(vornlog::sortedFileName(QStringLiteral("abc")), QString());
    }

    void writesTheCopyFromFileToFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString dest = dir.filePath(QStringLiteral("essai.txt"));
        const QString sorted = dir.filePath(QStringLiteral("essaiTrié.txt"));
        writeFile(dest, report);
        // An earlier copy is replaced, not added to.
        writeFile(sorted, QByteArray("earlier copy\n").repeated(100));

        QCOMPARE(vornlog::writeSortedCopy(dest, sorted, keepOnly("S")), Fault::None);
        QCOMPARE(readFile(sorted), preamble + stopBlock);
        QCOMPARE(readFile(dest), report);
    }

    void reportsWhatKeepsTheCopyFromBeingWritten()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString dest = dir.filePath(QStringLiteral("essai.txt"));
        const QString sorted = dir.filePath(QStringLiteral("essaiTrié.txt"));

        QCOMPARE(vornlog::writeSortedCopy(dest, sorted, keepAll()), Fault::NotFound);
        QVERIFY(!QFile::exists(sorted));

        writeFile(dest, report);
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("essaiTrié.txt")));
        QCOMPARE(vornlog::writeSortedCopy(dest, sorted, keepAll()), Fault::PathAccess);

        QCOMPARE(vornlog::writeSortedCopy(dir.path(), dir.filePath(QStringLiteral("x.txt")), keepAll()),
                 Fault::PathAccess);
    }
};

QTEST_GUILESS_MAIN(SortedCopyTest)
#include "sorted_copy_test.moc"
