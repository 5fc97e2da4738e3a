// What the POSIX and the Windows platform files share with the code that
// is the same on both (platform.cpp): each file answers these calls in its
// system's way. Seen by the three platform files only.
#pragma once

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "platform.h"

namespace vornlog::platform {

// Which regular file a stream or a name leads to (device and file number);
// nothing for a pipe, a terminal, a folder or a name that leads nowhere.
std::optional<FileIdentity> keyOf(std::FILE* file);
std::optional<FileIdentity> keyOf(const std::string& name);

// A UTF-8 name as a path, and a path as UTF-8.
std::filesystem::path toPath(const std::string& name);
std::string utf8Of(const std::filesystem::path& path);

// Set by Ctrl-C or a request to end, read by the reading loop.
extern std::atomic<int> interrupted;

} // namespace vornlog::platform
