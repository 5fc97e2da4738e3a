// Files and folders for the launcher's tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

#include "files.h"

// A fresh folder under the system's temporary folder, removed at the end.
class TemporaryFolder {
public:
    TemporaryFolder()
    {
        namespace fs = std::filesystem;
        static int count = 0;
        path_ = fs::temp_directory_path() /
                ("vornlog-launcher-" + std::to_string(std::random_device{}()) + "-" + std::to_string(++count));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TemporaryFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    // A path inside, UTF-8, written the platform's way.
    std::string path(std::string_view relative = {}) const
    {
        return vornlog::utf8Of((path_ / vornlog::pathOf(relative)).make_preferred());
    }

private:
    std::filesystem::path path_;
};

inline void writeFile(const std::string& path, std::string_view bytes)
{
    const std::filesystem::path file = vornlog::pathOf(path);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(vornlog::pathOf(path), std::ios::binary);
    if (!in) return "<unreadable>";
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code error;
    return std::filesystem::equivalent(vornlog::pathOf(a), vornlog::pathOf(b), error);
}
