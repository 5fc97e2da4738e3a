// UTF-8 texts as file system paths and back, the same on every system
// (on Windows a narrow path would otherwise be read in the ANSI code page).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vornlog {

inline std::filesystem::path pathOf(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string utf8Of(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace vornlog
