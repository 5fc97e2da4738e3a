// The platform calls that are the same on every system, made of those that
// differ (platform_posix.cpp, platform_windows.cpp).
#include "platform.h"

#include <cstdlib>
#include <system_error>

#include "platform_shared.h"

namespace vornlog {

namespace platform {

std::atomic<int> interrupted{0};

std::filesystem::path toPath(const std::string& name)
{
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(name.data()), name.size()));
}

std::string utf8Of(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

} // namespace platform

using platform::keyOf;
using platform::toPath;
using platform::utf8Of;

bool sameFile(std::FILE* open, const std::string& name)
{
    const std::optional<FileIdentity> a = keyOf(open);
    return a && a == keyOf(name);
}

bool sameFile(std::FILE* a, std::FILE* b)
{
    const std::optional<FileIdentity> key = keyOf(a);
    return key && key == keyOf(b);
}

bool nameLeadsElsewhere(std::FILE* open, const std::string& name)
{
    const std::optional<FileIdentity> named = keyOf(name);
    const std::optional<FileIdentity> held = keyOf(open);
    return named && held && named != held;
}

std::optional<FileIdentity> fileIdentity(std::FILE* file)
{
    return keyOf(file);
}

std::string temporaryFolder()
{
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    if (ec) {
        // Named as given, so that the message says which.
        const char* given = std::getenv("TMPDIR");
        return given ? given : "";
    }
    return utf8Of(folder);
}

bool interruptRequested() { return platform::interrupted.load() != 0; }

std::string fileNamePart(const std::string& name)
{
    return utf8Of(toPath(name).filename());
}

std::string fullPath(const std::string& name)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(toPath(name), ec);
    return utf8Of(ec ? toPath(".") / toPath(name) : absolute);
}

} // namespace vornlog
