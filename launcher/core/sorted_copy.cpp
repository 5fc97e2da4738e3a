#include "sorted_copy.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <streambuf>
#include <system_error>

#include "files.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vornlog {

namespace {

// Characters 11 and 12 of an echo line: "PC     :  " takes the first ten.
constexpr std::size_t codeOffset = 10;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool isPcEchoLine(std::string_view line)
{
    return line.starts_with("PC");
}

bool isKept(int code, const KeptInstructions& keep)
{
    const std::size_t index = instructionLetters.find(static_cast<char>(code));
    return index != std::string_view::npos && keep[index];
}

Fault openFault(int error)
{
    return error == EACCES || error == EPERM ? Fault::PermissionDenied : Fault::PathAccess;
}

namespace fs = std::filesystem;

// A file created for writing beside `target`, under a new name of its own
// ("essaiTrié.txt.k3Xq9a.part"): never a file that exists, nor one that a
// link planted in a shared folder leads to.
struct PartFile {
    std::FILE* file = nullptr;
    fs::path path;
    int error = 0; // when no file was made
};

PartFile createPart(const fs::path& target)
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::mt19937_64 generator(std::random_device{}() ^
                           static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix = ".";
        for (int i = 0; i < 6; ++i) suffix += letters[generator() % (sizeof letters - 1)];
        suffix += ".part";
        fs::path path = target;
        path += pathOf(suffix);
#ifdef _WIN32
        const HANDLE handle =
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return {nullptr, {}, error == ERROR_ACCESS_DENIED ? EACCES : EIO};
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
        if (fd < 0) CloseHandle(handle);
        std::FILE* file = fd < 0 ? nullptr : _fdopen(fd, "wb");
        if (!file && fd >= 0) _close(fd);
#else
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return {nullptr, {}, errno};
        }
        std::FILE* file = fdopen(fd, "wb");
        if (!file) ::close(fd);
#endif
        if (!file) {
            std::error_code error;
            fs::remove(path, error);
            return {nullptr, {}, EIO};
        }
        return {file, path, 0};
    }
    return {nullptr, {}, EEXIST};
}

// The sorted lines, written straight into the part file.
class FileOutput : public std::streambuf {
public:
    explicit FileOutput(std::FILE* file) : file_(file) {}

private:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        return std::fputc(c, file_) == EOF ? traits_type::eof() : c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        return static_cast<std::streamsize>(std::fwrite(s, 1, static_cast<std::size_t>(n), file_));
    }

    std::FILE* file_;
};

// Gives `from` the name `to`, replacing a file of that name in one step.
bool replaceFile(const fs::path& from, const fs::path& to)
{
#ifdef _WIN32
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

} // namespace

int echoInstructionCode(std::string_view line)
{
    if (line.ends_with('\n')) line.remove_suffix(1);
    if (line.ends_with('\r')) line.remove_suffix(1);

    int code = 0;
    for (std::size_t i = codeOffset; i < codeOffset + 2 && i < line.size(); ++i) {
        const int digit = hexDigit(line[i]);
        if (digit < 0) break;
        code = code * 16 + digit;
    }
    return code;
}

void sortReport(std::istream& report, std::ostream& sorted, const KeptInstructions& keep)
{
    bool keeping = true; // the lines before the first PC echo line are copied
    std::string line;
    while (std::getline(report, line)) {
        // getline drops the "\n"; the last line may have none.
        if (!report.eof()) line += '\n';
        if (isPcEchoLine(line)) keeping = isKept(echoInstructionCode(line), keep);
        if (keeping) sorted.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
}

std::string sortReport(std::string_view report, const KeptInstructions& keep)
{
    std::istringstream in{std::string(report)};
    std::ostringstream out;
    sortReport(in, out, keep);
    return std::move(out).str();
}

std::string sortedFileName(const std::string& destName)
{
    // Four characters, not bytes: a UTF-8 character is one lead byte and
    // its continuation bytes.
    std::size_t end = destName.size();
    for (int characters = 0; characters < 4; ++characters) {
        if (end == 0) return {};
        --end;
        while (end > 0 && (static_cast<unsigned char>(destName[end]) & 0xC0) == 0x80) --end;
    }
    return destName.substr(0, end) + "Trié.txt";
}

SortedCopyResult writeSortedCopy(const std::string& destPath, const std::string& sortedPath,
                                 const KeptInstructions& keep)
{
    const fs::path dest = pathOf(destPath);
    const fs::path sorted = pathOf(sortedPath);
    std::error_code error;
    if (!fs::exists(dest, error)) return {Fault::NotFound, {}};
    if (fs::is_directory(dest, error)) return {Fault::PathAccess, {}};

    errno = 0;
    std::ifstream in(dest, std::ios::binary);
    if (!in) return {openFault(errno), {}};

    // Written aside and put in place at the end, so that a failed write
    // never leaves half a copy behind, and the earlier copy stays until the
    // new one is whole.
    const PartFile part = createPart(sorted);
    if (!part.file) return {openFault(part.error), {}};
    bool written;
    {
        FileOutput buffer(part.file);
        std::ostream out(&buffer);
        sortReport(in, out, keep);
        written = !out.bad() && std::fflush(part.file) == 0 && !std::ferror(part.file);
    }
    written = std::fclose(part.file) == 0 && written;
    if (in.bad() || !written) {
        fs::remove(part.path, error);
        return {Fault::PathAccess, {}};
    }
    if (!replaceFile(part.path, sorted)) return {Fault::PathAccess, utf8Of(part.path)};
    return {};
}

} // namespace vornlog
