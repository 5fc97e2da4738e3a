#include "sorted_copy.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace vornlog {

namespace {

// Characters 11 and 12 of an echo line: "PC     :  " takes the first ten.
constexpr qsizetype codeOffset = 10;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool isPcEchoLine(const QByteArray& line)
{
    return line.startsWith("PC");
}

bool isKept(int code, const KeptInstructions& keep)
{
    const std::size_t index = instructionLetters.find(static_cast<char>(code));
    return index != std::string_view::npos && keep[index];
}

Fault faultOf(QFileDevice::FileError error)
{
    return error == QFileDevice::PermissionsError ? Fault::PermissionDenied : Fault::PathAccess;
}

} // namespace

int echoInstructionCode(const QByteArray& line)
{
    qsizetype length = line.size();
    if (length > 0 && line[length - 1] == '\n') --length;
    if (length > 0 && line[length - 1] == '\r') --length;

    int code = 0;
    for (qsizetype i = codeOffset; i < codeOffset + 2 && i < length; ++i) {
        const int digit = hexDigit(line[i]);
        if (digit < 0) break;
        code = code * 16 + digit;
    }
    return code;
}

QByteArray sortReport(const QByteArray& report, const KeptInstructions& keep)
{
    QByteArray sorted;
    sorted.reserve(report.size());
    bool keeping = true; // the lines before the first PC echo line are copied
    qsizetype start = 0;
    while (start < report.size()) {
        const qsizetype newline = report.indexOf('\n', start);
        const qsizetype end = newline < 0 ? report.size() : newline + 1;
        const QByteArray line = report.sliced(start, end - start);
        if (isPcEchoLine(line)) keeping = isKept(echoInstructionCode(line), keep);
        if (keeping) sorted += line;
        start = end;
    }
    return sorted;
}

QString sortedFileName(const QString& destName)
{
    if (destName.size() < 4) return {};
    return destName.chopped(4) + QStringLiteral("Trié.txt");
}

Fault writeSortedCopy(const QString& destPath, const QString& sortedPath, const KeptInstructions& keep)
{
    if (!QFileInfo::exists(destPath)) return Fault::NotFound;
    QFile dest(destPath);
    if (!dest.open(QIODevice::ReadOnly)) return faultOf(dest.error());
    const QByteArray report = dest.readAll();
    if (dest.error() != QFileDevice::NoError) return Fault::PathAccess;
    dest.close();

    // Written aside and put in place at the end, so that a failed write
    // never leaves half a copy behind.
    QSaveFile sorted(sortedPath);
    if (!sorted.open(QIODevice::WriteOnly)) return faultOf(sorted.error());
    sorted.write(sortReport(report, keep));
    if (!sorted.commit()) return faultOf(sorted.error());
    return Fault::None;
}

} // namespace vornlog
