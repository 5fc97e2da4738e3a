// The platform calls on Windows.
// rand_s: the C runtime's random numbers from the system's generator, with
// no DLL beyond msvcrt.dll that the program already needs.
#define _CRT_RAND_S
#include "platform.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform_shared.h"

namespace vornlog {

namespace {

std::wstring wide(const std::string& s)
{
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// One argument of a Windows command line, quoted so that the program's
// start-up code gives it back unchanged.
std::wstring quoteArgument(const std::wstring& arg)
{
    std::wstring q = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        q.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        q.push_back(c);
    }
    q.append(backslashes * 2, L'\\');
    q.push_back(L'"');
    return q;
}

std::optional<FileIdentity> keyOf(HANDLE handle)
{
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || GetFileType(handle) != FILE_TYPE_DISK) return {};
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    return FileIdentity{info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

} // namespace

namespace platform {

std::optional<FileIdentity> keyOf(std::FILE* file)
{
    return vornlog::keyOf(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
}

std::optional<FileIdentity> keyOf(const std::string& name)
{
    const HANDLE handle = CreateFileW(wide(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    const std::optional<FileIdentity> key = vornlog::keyOf(handle);
    CloseHandle(handle);
    return key;
}

} // namespace platform

using platform::keyOf;
using platform::utf8Of;

std::FILE* standardInput()
{
    _setmode(_fileno(stdin), _O_BINARY);
    return stdin;
}

std::FILE* standardOutput()
{
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    return stdout;
}

std::optional<std::uint64_t> fileSize(std::FILE* file)
{
    struct _stati64 st;
    if (_fstati64(_fileno(file), &st) != 0) return {};
    return static_cast<std::uint64_t>(st.st_size);
}

bool seekToStart(std::FILE* file)
{
    return _lseeki64(_fileno(file), 0, SEEK_SET) == 0;
}

void holdStandardStreams()
{
    // A process started without a standard handle (closed, or never given)
    // has a C descriptor 0, 1 or 2 that leads to no handle. The null device
    // goes there, opened for the other direction: every read (standard
    // input) or write (output, error) fails, as on the missing handle, and
    // the stand-in holds the place so that no file the program opens is
    // taken for it.
    for (int fd = 0; fd <= 2; ++fd) {
        const intptr_t osf = _get_osfhandle(fd);
        const HANDLE handle = reinterpret_cast<HANDLE>(osf);
        bool closed = osf == -1 || osf == -2 || handle == nullptr;
        if (!closed) {
            SetLastError(NO_ERROR);
            closed = GetFileType(handle) == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR;
        }
        if (!closed) continue;
        const HANDLE null = CreateFileW(L"NUL", fd == 0 ? GENERIC_WRITE : GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (null == INVALID_HANDLE_VALUE) continue;
        const int held = _open_osfhandle(reinterpret_cast<intptr_t>(null), (fd == 0 ? _O_WRONLY : _O_RDONLY) | _O_BINARY);
        if (held == -1) {
            CloseHandle(null);
            continue;
        }
        if (held != fd) {
            _dup2(held, fd);
            _close(held);
        }
        // The Windows standard handle too: what is written to it (an error
        // message on the console's wide path) fails the same way.
        const DWORD which = fd == 0 ? STD_INPUT_HANDLE : fd == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
        SetStdHandle(which, reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
    }
}

std::FILE* openNullDevice()
{
    return _wfopen(L"NUL", L"wb");
}

std::FILE* openFile(const std::string& name, const char* mode)
{
    if (mode[0] != 'r') return _wfopen(wide(name).c_str(), wide(mode).c_str());
    // Shared for deleting too (_wfopen does not share it): the writer of a
    // followed capture may rename it and start a new one under its name.
    // A folder cannot be opened this way.
    const HANDLE handle = CreateFileW(wide(name).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd == -1) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "rb");
    if (!file) _close(fd);
    return file;
}

std::FILE* createNewFile(const std::string& name, bool& taken)
{
    taken = false;
    const HANDLE handle =
        CreateFileW(wide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd == -1) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) _close(fd);
    return file;
}

bool isWritableFolder(const std::string& name)
{
    if (name.empty()) return false;
    const DWORD attributes = GetFileAttributesW(wide(name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool removeFileIf(const std::string& name, const FileIdentity& identity)
{
    if (keyOf(name) != std::optional<FileIdentity>(identity)) return false;
    return DeleteFileW(wide(name).c_str()) != 0;
}

std::FILE* openTemporaryFile()
{
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::temp_directory_path(ec);
    const std::string folder = temporaryFolder();
    if (ec || path.empty() || folder.empty()) return nullptr;
    wchar_t name[MAX_PATH];
    if (GetTempFileNameW(wide(folder).c_str(), L"vnl", 0, name) == 0) return nullptr;
    // Made empty by GetTempFileNameW; "D": deleted when closed.
    std::FILE* file = _wfopen(name, L"w+bTD");
    if (!file) DeleteFileW(name);
    return file;
}

// The arguments after the program name, in UTF-8.
std::vector<std::string> commandLineArguments(int argc, char** argv)
{
    std::vector<std::string> args;
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide && i < count; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
        args.push_back(arg);
    }
    LocalFree(wide);
    return args;
}

namespace {

HANDLE handleOf(std::FILE* file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

BOOL WINAPI onConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    // The second one ends the program as if there were no handler.
    return platform::interrupted.exchange(1) == 0 ? TRUE : FALSE;
}

} // namespace

InputKind inputKind(std::FILE* file)
{
    switch (GetFileType(handleOf(file))) {
    case FILE_TYPE_PIPE: return InputKind::Pipe;
    case FILE_TYPE_CHAR: return InputKind::Terminal;
    default: return InputKind::File;
    }
}

bool isTerminal(std::FILE* file)
{
    DWORD mode = 0;
    return GetConsoleMode(handleOf(file), &mode) != 0;
}

long long readSome(std::FILE* file, void* dst, std::size_t n)
{
    n = std::min<std::size_t>(n, std::size_t{1} << 30);
    DWORD got = 0;
    if (ReadFile(handleOf(file), dst, static_cast<DWORD>(n), &got, nullptr)) return got;
    switch (GetLastError()) {
    case ERROR_BROKEN_PIPE: // the writer closed its end
    case ERROR_HANDLE_EOF: return 0;
    case ERROR_OPERATION_ABORTED: return kNothingYet; // a console read that Ctrl-C stopped
    default: return kReadFailed;
    }
}

bool waitForInput(std::FILE* file, int ms)
{
    const HANDLE handle = handleOf(file);
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_CHAR) return ms > 0; // a console: the read itself waits for a line
    if (type != FILE_TYPE_PIPE) return true;
    // A pipe has no waitable state: it is looked at every 10 ms.
    const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(ms);
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr)) {
            // The writer closed its end: the read gives the end at once. A
            // pipe that cannot be looked into (Wine's pipes from a Unix
            // program) is treated like a console: the read itself waits.
            return GetLastError() == ERROR_BROKEN_PIPE || ms > 0;
        }
        if (available > 0) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= until || interruptRequested()) return false;
        Sleep(static_cast<DWORD>(std::min<ULONGLONG>(10, until - now)));
    }
}

void pause(int ms)
{
    for (int slept = 0; slept < ms && !interruptRequested(); slept += 10) Sleep(10);
}

void catchInterrupts()
{
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

bool sameFile(const std::string& a, const std::string& b)
{
    // The volume's serial number and the file's index: exact whichever
    // drive letter, share or link leads to the file.
    const std::optional<FileIdentity> key = keyOf(a);
    return key && key == keyOf(b);
}

void writeError(const std::string& text)
{
    std::fflush(stderr);
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    DWORD consoleMode = 0;
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &consoleMode)) {
        // The console turns the line feed into a new line by itself.
        const std::wstring w = wide(text);
        DWORD written = 0;
        if (WriteConsoleW(handle, w.data(), static_cast<DWORD>(w.size()), &written, nullptr)) return;
    }
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

std::string programFolder()
{
    std::error_code ec;
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::filesystem::path exe(path);
    return utf8Of(exe.parent_path());
}

void showInViewer(const std::string& name, Viewer viewer)
{
    // The file by its full path: a name such as "-x.svg" is no option of
    // the viewer then, and "mailto:x.csv" no address.
    const std::string file = fullPath(name);
    if (viewer != Viewer::Text) {
        ShellExecuteW(nullptr, L"open", wide(file).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return;
    }
    // Notepad by its full path in the system folder: a program given by
    // its bare name is looked for in this program's folder and in the
    // current folder before the system folder, and a notepad.exe could lie
    // there beside a capture.
    wchar_t system[MAX_PATH + 1];
    const UINT n = GetSystemDirectoryW(system, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return;
    const std::wstring notepad = std::wstring(system, n) + L"\\notepad.exe";
    std::wstring commandLine = quoteArgument(notepad) + L" " + quoteArgument(wide(file));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(notepad.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

ShownAddress showAddress(const std::string& address)
{
    ShellExecuteW(nullptr, L"open", wide(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return {};
}

ShownAddress::~ShownAddress()
{
}

bool randomBytes(void* dst, std::size_t n)
{
    auto* p = static_cast<unsigned char*>(dst);
    while (n > 0) {
        unsigned int value = 0;
        if (rand_s(&value) != 0) return false;
        const std::size_t take = std::min(n, sizeof value);
        std::memcpy(p, &value, take);
        p += take;
        n -= take;
    }
    return true;
}

void* loadModule(const std::string& path, std::string& why)
{
    HMODULE module = LoadLibraryExW(wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) why = "error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(module);
}

void* moduleFunction(void* module, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

namespace {

// A thread's start: the work it was given.
DWORD WINAPI runWork(void* work)
{
    (*static_cast<const std::function<void()>*>(work))();
    return 0;
}

} // namespace

void runTogether(const std::function<void()>& first, const std::function<void()>& second)
{
    // (The Windows cross-compiler's library has no std::thread.)
    HANDLE thread = CreateThread(nullptr, 0, runWork, const_cast<std::function<void()>*>(&first), 0, nullptr);
    if (!thread) {
        first();
        second();
        return;
    }
    second();
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

} // namespace vornlog
