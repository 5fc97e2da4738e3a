// The launcher's settings, all in one place: where bug reports go, who
// wrote it, its title and its version (the project's version in CMake).
#pragma once

#include <string>
#include <string_view>

namespace vornlog::settings {

inline constexpr std::string_view contactAddress = "bugs@vornlog.example";
inline constexpr std::string_view authorName = "L'équipe Vornlog";
// The title of the error box and the name of the application.
inline constexpr std::string_view applicationTitle = "VornlogRun";

inline constexpr int versionMajor = VORNLOG_VERSION_MAJOR;
inline constexpr int versionMinor = VORNLOG_VERSION_MINOR;
inline constexpr int versionRevision = VORNLOG_VERSION_PATCH;

// "1.0.0": the three parts as plain decimals.
inline std::string versionText()
{
    return std::to_string(versionMajor) + '.' + std::to_string(versionMinor) + '.' + std::to_string(versionRevision);
}

} // namespace vornlog::settings
