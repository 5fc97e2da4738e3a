#include "sorted_copy.h"

#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

#include "files.h"

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

Fault writeSortedCopy(const std::string& destPath, const std::string& sortedPath, const KeptInstructions& keep)
{
    namespace fs = std::filesystem;
    const fs::path dest = pathOf(destPath);
    const fs::path sorted = pathOf(sortedPath);
    std::error_code error;
    if (!fs::exists(dest, error)) return Fault::NotFound;
    if (fs::is_directory(dest, error)) return Fault::PathAccess;

    errno = 0;
    std::ifstream in(dest, std::ios::binary);
    if (!in) return openFault(errno);

    // Written aside and put in place at the end, so that a failed write
    // never leaves half a copy behind.
    fs::path part = sorted;
    part += u8".part";
    errno = 0;
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    if (!out) return openFault(errno);
    sortReport(in, out, keep);
    out.close();
    const bool readFailed = in.bad();
    if (readFailed || !out) {
        fs::remove(part, error);
        return Fault::PathAccess;
    }
    fs::rename(part, sorted, error);
    // Where a rename does not replace a file, the earlier copy goes first.
    if (error && fs::is_regular_file(sorted)) {
        std::error_code removed;
        fs::remove(sorted, removed);
        fs::rename(part, sorted, error);
    }
    if (error) {
        fs::remove(part, error);
        return Fault::PathAccess;
    }
    return Fault::None;
}

} // namespace vornlog
