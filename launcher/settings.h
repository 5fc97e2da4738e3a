// The launcher's settings, all in one place: where bug reports go, who
// wrote it, its title and its version (the project's version in CMake).
#pragma once

#include <QString>

namespace vornlog::settings {

inline const QString contactAddress = QStringLiteral("bugs@vornlog.example");
inline const QString authorName = QStringLiteral("L'équipe Vornlog");
// The title of the error box and the name of the application.
inline const QString applicationTitle = QStringLiteral("VornlogRun");

inline constexpr int versionMajor = VORNLOG_VERSION_MAJOR;
inline constexpr int versionMinor = VORNLOG_VERSION_MINOR;
inline constexpr int versionRevision = VORNLOG_VERSION_PATCH;

// "1.0.0": the three parts as plain decimals.
inline QString versionText()
{
    return QStringLiteral("%1.%2.%3").arg(versionMajor).arg(versionMinor).arg(versionRevision);
}

} // namespace vornlog::settings
