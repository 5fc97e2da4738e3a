// The one place where the console program talks to the operating system.
#ifdef _WIN32
// rand_s: the C runtime's random numbers from the system's generator, with
// no DLL beyond msvcrt.dll that the program already needs.
#define _CRT_RAND_S
#endif
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

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <cerrno>
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
extern char** environ;
#endif

namespace vornlog {

namespace {

std::filesystem::path toPath(const std::string& name)
{
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(name.data()), name.size()));
}

#ifdef _WIN32
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
#endif

// Which regular file a stream or a name leads to (device and file number);
// nothing for a pipe, a terminal, a folder or a name that leads nowhere.
using FileKey = std::pair<std::uint64_t, std::uint64_t>;

#ifdef _WIN32
std::optional<FileKey> keyOf(HANDLE handle)
{
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || GetFileType(handle) != FILE_TYPE_DISK) return {};
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    return FileKey{info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

std::optional<FileKey> keyOf(std::FILE* file)
{
    return keyOf(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
}

std::optional<FileKey> keyOf(const std::string& name)
{
    const HANDLE handle = CreateFileW(wide(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    const std::optional<FileKey> key = keyOf(handle);
    CloseHandle(handle);
    return key;
}
#else
std::optional<FileKey> keyOf(const struct stat& st)
{
    if (!S_ISREG(st.st_mode)) return {};
    return FileKey{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::optional<FileKey> keyOf(std::FILE* file)
{
    struct stat st;
    if (fstat(fileno(file), &st) != 0) return {};
    return keyOf(st);
}

std::optional<FileKey> keyOf(const std::string& name)
{
    struct stat st;
    if (stat(name.c_str(), &st) != 0) return {};
    return keyOf(st);
}
#endif

#ifndef _WIN32
// Marks a file the program opened as its own: the viewer and whatever it
// starts get no handle on it. (The program has one thread: nothing is
// started between the opening and the marking.)
std::FILE* closeOnExec(std::FILE* file)
{
    if (file) fcntl(fileno(file), F_SETFD, fcntl(fileno(file), F_GETFD) | FD_CLOEXEC);
    return file;
}
#endif

} // namespace

std::FILE* standardInput()
{
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    return stdin;
}

std::FILE* standardOutput()
{
#ifdef _WIN32
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return stdout;
}

std::optional<std::uint64_t> fileSize(std::FILE* file)
{
#ifdef _WIN32
    struct _stati64 st;
    if (_fstati64(_fileno(file), &st) != 0) return {};
#else
    struct stat st;
    if (fstat(fileno(file), &st) != 0) return {};
#endif
    return static_cast<std::uint64_t>(st.st_size);
}

bool seekToStart(std::FILE* file)
{
#ifdef _WIN32
    return _lseeki64(_fileno(file), 0, SEEK_SET) == 0;
#else
    return lseek(fileno(file), 0, SEEK_SET) == 0;
#endif
}

void holdStandardStreams()
{
#ifdef _WIN32
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
#else
    // open() takes the lowest free descriptor: checked from 0 up, each
    // closed one is the one the null device lands on. Opened for the other
    // direction, it fails every read (standard input) or write (output,
    // error) with EBADF, as the closed descriptor would have.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int held = open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
        if (held != fd && held != -1) close(held);
    }
#endif
}

std::FILE* openNullDevice()
{
#ifdef _WIN32
    return _wfopen(L"NUL", L"wb");
#else
    return closeOnExec(std::fopen("/dev/null", "wb"));
#endif
}

bool sameFile(std::FILE* open, const std::string& name)
{
    const std::optional<FileKey> a = keyOf(open);
    return a && a == keyOf(name);
}

bool sameFile(std::FILE* a, std::FILE* b)
{
    const std::optional<FileKey> key = keyOf(a);
    return key && key == keyOf(b);
}

bool nameLeadsElsewhere(std::FILE* open, const std::string& name)
{
    const std::optional<FileKey> named = keyOf(name);
    const std::optional<FileKey> held = keyOf(open);
    return named && held && named != held;
}

std::FILE* openFile(const std::string& name, const char* mode)
{
#ifdef _WIN32
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
#else
    std::FILE* file = closeOnExec(std::fopen(name.c_str(), mode));
    struct stat st;
    if (file && mode[0] == 'r' && fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
#endif
}

std::FILE* createNewFile(const std::string& name, bool& taken)
{
    taken = false;
#ifdef _WIN32
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
#else
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        taken = errno == EEXIST;
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file) ::close(fd);
    return file;
#endif
}

bool isWritableFolder(const std::string& name)
{
    if (name.empty()) return false;
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(wide(name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
#else
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(name.c_str(), W_OK | X_OK) == 0;
#endif
}

std::optional<FileIdentity> fileIdentity(std::FILE* file)
{
    return keyOf(file);
}

bool removeFileIf(const std::string& name, const FileIdentity& identity)
{
    if (keyOf(name) != std::optional<FileKey>(identity)) return false;
#ifdef _WIN32
    return DeleteFileW(wide(name).c_str()) != 0;
#else
    return ::unlink(name.c_str()) == 0;
#endif
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
    const std::u8string text = folder.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

std::FILE* openTemporaryFile()
{
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::temp_directory_path(ec);
    const std::string folder = temporaryFolder();
    if (ec || path.empty() || folder.empty()) return nullptr;
#ifdef _WIN32
    wchar_t name[MAX_PATH];
    if (GetTempFileNameW(wide(folder).c_str(), L"vnl", 0, name) == 0) return nullptr;
    // Made empty by GetTempFileNameW; "D": deleted when closed.
    std::FILE* file = _wfopen(name, L"w+bTD");
    if (!file) DeleteFileW(name);
    return file;
#else
    std::string name = folder + "/vornlog-XXXXXX";
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return nullptr;
    ::unlink(name.c_str());
    std::FILE* file = fdopen(fd, "w+b");
    if (!file) ::close(fd);
    return file;
#endif
}

// The arguments after the program name, in UTF-8.
std::vector<std::string> commandLineArguments(int argc, char** argv)
{
    std::vector<std::string> args;
#ifdef _WIN32
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
#else
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
#endif
    return args;
}

namespace {

// Set by Ctrl-C or a request to end, read by the reading loop.
std::atomic<int> gInterrupted{0};

#ifdef _WIN32
HANDLE handleOf(std::FILE* file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

BOOL WINAPI onConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    // The second one ends the program as if there were no handler.
    return gInterrupted.exchange(1) == 0 ? TRUE : FALSE;
}
#else
extern "C" void onInterruptSignal(int) { gInterrupted.store(1); }
#endif

} // namespace

InputKind inputKind(std::FILE* file)
{
#ifdef _WIN32
    switch (GetFileType(handleOf(file))) {
    case FILE_TYPE_PIPE: return InputKind::Pipe;
    case FILE_TYPE_CHAR: return InputKind::Terminal;
    default: return InputKind::File;
    }
#else
    struct stat st;
    if (fstat(fileno(file), &st) != 0 || S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) return InputKind::File;
    return S_ISCHR(st.st_mode) ? InputKind::Terminal : InputKind::Pipe;
#endif
}

bool isTerminal(std::FILE* file)
{
#ifdef _WIN32
    DWORD mode = 0;
    return GetConsoleMode(handleOf(file), &mode) != 0;
#else
    return isatty(fileno(file)) != 0;
#endif
}

long long readSome(std::FILE* file, void* dst, std::size_t n)
{
    n = std::min<std::size_t>(n, std::size_t{1} << 30);
#ifdef _WIN32
    DWORD got = 0;
    if (ReadFile(handleOf(file), dst, static_cast<DWORD>(n), &got, nullptr)) return got;
    switch (GetLastError()) {
    case ERROR_BROKEN_PIPE: // the writer closed its end
    case ERROR_HANDLE_EOF: return 0;
    case ERROR_OPERATION_ABORTED: return kNothingYet; // a console read that Ctrl-C stopped
    default: return kReadFailed;
    }
#else
    for (;;) {
        const ssize_t got = ::read(fileno(file), dst, n);
        if (got >= 0) return got;
        if (errno == EINTR && !interruptRequested()) continue;
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return kNothingYet;
        return kReadFailed;
    }
#endif
}

bool waitForInput(std::FILE* file, int ms)
{
#ifdef _WIN32
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
#else
    struct pollfd fd = {fileno(file), POLLIN, 0};
    const int ready = ::poll(&fd, 1, ms);
    // A failure of poll itself is left to the read to report.
    return ready > 0 || (ready < 0 && errno != EINTR);
#endif
}

void pause(int ms)
{
#ifdef _WIN32
    for (int slept = 0; slept < ms && !interruptRequested(); slept += 10) Sleep(10);
#else
    ::poll(nullptr, 0, ms); // a signal ends it early
#endif
}

void catchInterrupts()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
#else
    for (const int signal : {SIGINT, SIGTERM}) {
        struct sigaction before{};
        if (sigaction(signal, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) continue;
        struct sigaction action{};
        action.sa_handler = onInterruptSignal;
        sigemptyset(&action.sa_mask);
        // Writes go on where they were (SA_RESTART), a wait for input ends
        // (poll is never restarted); the second signal finds the default.
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        sigaction(signal, &action, nullptr);
    }
#endif
}

bool interruptRequested() { return gInterrupted.load() != 0; }

bool sameFile(const std::string& a, const std::string& b)
{
#ifdef _WIN32
    // The volume's serial number and the file's index: exact whichever
    // drive letter, share or link leads to the file.
    const std::optional<FileKey> key = keyOf(a);
    return key && key == keyOf(b);
#else
    // Any kind of file: two names of one pipe are one pipe.
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
#endif
}

std::string fileNamePart(const std::string& name)
{
    const std::u8string part = toPath(name).filename().u8string();
    return std::string(reinterpret_cast<const char*>(part.data()), part.size());
}

void writeError(const std::string& text)
{
#ifdef _WIN32
    std::fflush(stderr);
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    DWORD consoleMode = 0;
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &consoleMode)) {
        // The console turns the line feed into a new line by itself.
        const std::wstring w = wide(text);
        DWORD written = 0;
        if (WriteConsoleW(handle, w.data(), static_cast<DWORD>(w.size()), &written, nullptr)) return;
    }
#endif
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

std::string programFolder()
{
    std::error_code ec;
#ifdef _WIN32
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
#else
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
#endif
    const std::u8string text = exe.parent_path().u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

std::string fullPath(const std::string& name)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(toPath(name), ec);
    const std::u8string text = ec ? (toPath(".") / toPath(name)).u8string() : absolute.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

#ifndef _WIN32
namespace {

// Starts the desktop's opener (xdg-open, open) on its arguments without
// waiting for it. It gets no share of the console: its messages would land
// in the middle of the user's next command.
void startDesktopOpener(const char* program, char* const argv[])
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid;
    posix_spawnp(&pid, program, &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
}

} // namespace
#endif

void showInViewer(const std::string& name, Viewer viewer)
{
    // The file by its full path: a name such as "-x.svg" is no option of
    // the viewer then, and "mailto:x.csv" no address.
    const std::string file = fullPath(name);
#ifdef _WIN32
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
#else
#ifdef __APPLE__
    const char* program = "open";
    char textFlag[] = "-t";
    char* argv[] = {const_cast<char*>(program), viewer == Viewer::Text ? textFlag : const_cast<char*>(file.c_str()),
                    viewer == Viewer::Text ? const_cast<char*>(file.c_str()) : nullptr, nullptr};
#else
    (void)viewer; // the desktop picks the viewer by the file's type
    const char* program = "xdg-open";
    char* argv[] = {const_cast<char*>(program), const_cast<char*>(file.c_str()), nullptr};
#endif
    startDesktopOpener(program, argv);
#endif
}

ShownAddress showAddress(const std::string& address)
{
#ifdef _WIN32
    ShellExecuteW(nullptr, L"open", wide(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return {};
#else
#ifdef __APPLE__
    const char* program = "open";
#else
    const char* program = "xdg-open";
#endif
    // The folder made by mkdtemp (mode 0700), the page in it 0600.
    std::error_code ec;
    std::string folder = (std::filesystem::temp_directory_path(ec) / "vornlog-XXXXXX").string();
    if (ec || !mkdtemp(folder.data())) return {};
    ShownAddress shown(folder);
    const std::string page = folder + "/live.html";
    const int fd = ::open(page.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return shown;
    // The address is the program's own (a loopback address, a port and a
    // token of hexadecimal digits): nothing in it needs escaping.
    std::string text = "<!DOCTYPE html>\n<meta charset=\"utf-8\">\n<meta name=\"referrer\" content=\"no-referrer\">\n";
    text += "<meta http-equiv=\"refresh\" content=\"0;url=";
    text += address;
    text += "\">\n<title>Vornlog live viewer</title>\n<a href=\"";
    text += address;
    text += "\">Vornlog live viewer</a>\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!written) return shown;
    char* argv[] = {const_cast<char*>(program), const_cast<char*>(page.c_str()), nullptr};
    startDesktopOpener(program, argv);
    return shown;
#endif
}

ShownAddress::~ShownAddress()
{
#ifndef _WIN32
    if (folder_.empty()) return;
    ::unlink((folder_ + "/live.html").c_str());
    ::rmdir(folder_.c_str());
#endif
}

bool randomBytes(void* dst, std::size_t n)
{
#ifdef _WIN32
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
#else
    auto* p = static_cast<unsigned char*>(dst);
    while (n > 0) {
        const ssize_t got = getrandom(p, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
#endif
}

void* loadModule(const std::string& path, std::string& why)
{
#ifdef _WIN32
    HMODULE module = LoadLibraryExW(wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) why = "error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(module);
#else
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* error = dlerror();
        why = error ? error : "unknown";
    }
    return module;
#endif
}

void* moduleFunction(void* module, const char* name)
{
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
#else
    return dlsym(module, name);
#endif
}

namespace {

// A thread's start: the work it was given.
#ifdef _WIN32
DWORD WINAPI runWork(void* work)
{
    (*static_cast<const std::function<void()>*>(work))();
    return 0;
}
#else
void* runWork(void* work)
{
    (*static_cast<const std::function<void()>*>(work))();
    return nullptr;
}
#endif

} // namespace

void runTogether(const std::function<void()>& first, const std::function<void()>& second)
{
#ifdef _WIN32
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
#else
    pthread_t thread;
    if (pthread_create(&thread, nullptr, runWork, const_cast<std::function<void()>*>(&first)) != 0) {
        first();
        second();
        return;
    }
    second();
    pthread_join(thread, nullptr);
#endif
}

} // namespace vornlog
