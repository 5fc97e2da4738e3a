// The platform calls on Linux, macOS and the other POSIX systems.
#include "platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform_shared.h"

extern char** environ;

namespace vornlog {

namespace platform {

namespace {

std::optional<FileIdentity> keyOf(const struct stat& st)
{
    if (!S_ISREG(st.st_mode)) return {};
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

} // namespace

std::optional<FileIdentity> keyOf(std::FILE* file)
{
    struct stat st;
    if (fstat(fileno(file), &st) != 0) return {};
    return keyOf(st);
}

std::optional<FileIdentity> keyOf(const std::string& name)
{
    struct stat st;
    if (stat(name.c_str(), &st) != 0) return {};
    return keyOf(st);
}

} // namespace platform

using platform::keyOf;
using platform::utf8Of;

namespace {

// Marks a file the program opened as its own: the viewer and whatever it
// starts get no handle on it. (The program has one thread: nothing is
// started between the opening and the marking.)
std::FILE* closeOnExec(std::FILE* file)
{
    if (file) fcntl(fileno(file), F_SETFD, fcntl(fileno(file), F_GETFD) | FD_CLOEXEC);
    return file;
}

} // namespace

std::FILE* standardInput()
{
    return stdin;
}

std::FILE* standardOutput()
{
    return stdout;
}

std::optional<std::uint64_t> fileSize(std::FILE* file)
{
    struct stat st;
    if (fstat(fileno(file), &st) != 0) return {};
    return static_cast<std::uint64_t>(st.st_size);
}

bool seekToStart(std::FILE* file)
{
    return lseek(fileno(file), 0, SEEK_SET) == 0;
}

void holdStandardStreams()
{
    // open() takes the lowest free descriptor: checked from 0 up, each
    // closed one is the one the null device lands on. Opened for the other
    // direction, it fails every read (standard input) or write (output,
    // error) with EBADF, as the closed descriptor would have.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int held = open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
        if (held != fd && held != -1) close(held);
    }
}

std::FILE* openNullDevice()
{
    return closeOnExec(std::fopen("/dev/null", "wb"));
}

std::FILE* openFile(const std::string& name, const char* mode)
{
    std::FILE* file = closeOnExec(std::fopen(name.c_str(), mode));
    struct stat st;
    if (file && mode[0] == 'r' && fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

std::FILE* createNewFile(const std::string& name, bool& taken)
{
    taken = false;
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        taken = errno == EEXIST;
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file) ::close(fd);
    return file;
}

bool isWritableFolder(const std::string& name)
{
    if (name.empty()) return false;
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(name.c_str(), W_OK | X_OK) == 0;
}

bool removeFileIf(const std::string& name, const FileIdentity& identity)
{
    if (keyOf(name) != std::optional<FileIdentity>(identity)) return false;
    return ::unlink(name.c_str()) == 0;
}

std::FILE* openTemporaryFile()
{
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::temp_directory_path(ec);
    const std::string folder = temporaryFolder();
    if (ec || path.empty() || folder.empty()) return nullptr;
    std::string name = folder + "/vornlog-XXXXXX";
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return nullptr;
    ::unlink(name.c_str());
    std::FILE* file = fdopen(fd, "w+b");
    if (!file) ::close(fd);
    return file;
}

// The arguments after the program name, in UTF-8.
std::vector<std::string> commandLineArguments(int argc, char** argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

namespace {

extern "C" void onInterruptSignal(int) { platform::interrupted.store(1); }

} // namespace

InputKind inputKind(std::FILE* file)
{
    struct stat st;
    if (fstat(fileno(file), &st) != 0 || S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) return InputKind::File;
    return S_ISCHR(st.st_mode) ? InputKind::Terminal : InputKind::Pipe;
}

bool isTerminal(std::FILE* file)
{
    return isatty(fileno(file)) != 0;
}

long long readSome(std::FILE* file, void* dst, std::size_t n)
{
    n = std::min<std::size_t>(n, std::size_t{1} << 30);
    for (;;) {
        const ssize_t got = ::read(fileno(file), dst, n);
        if (got >= 0) return got;
        if (errno == EINTR && !interruptRequested()) continue;
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return kNothingYet;
        return kReadFailed;
    }
}

bool waitForInput(std::FILE* file, int ms)
{
    struct pollfd fd = {fileno(file), POLLIN, 0};
    const int ready = ::poll(&fd, 1, ms);
    // A failure of poll itself is left to the read to report.
    return ready > 0 || (ready < 0 && errno != EINTR);
}

void pause(int ms)
{
    ::poll(nullptr, 0, ms); // a signal ends it early
}

void catchInterrupts()
{
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
}

bool sameFile(const std::string& a, const std::string& b)
{
    // Any kind of file: two names of one pipe are one pipe.
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void writeError(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

std::string programFolder()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return utf8Of(exe.parent_path());
}

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

void showInViewer(const std::string& name, Viewer viewer)
{
    // The file by its full path: a name such as "-x.svg" is no option of
    // the viewer then, and "mailto:x.csv" no address.
    const std::string file = fullPath(name);
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
}

ShownAddress showAddress(const std::string& address)
{
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
}

ShownAddress::~ShownAddress()
{
    if (folder_.empty()) return;
    ::unlink((folder_ + "/live.html").c_str());
    ::rmdir(folder_.c_str());
}

bool randomBytes(void* dst, std::size_t n)
{
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
}

void* loadModule(const std::string& path, std::string& why)
{
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* error = dlerror();
        why = error ? error : "unknown";
    }
    return module;
}

void* moduleFunction(void* module, const char* name)
{
    return dlsym(module, name);
}

namespace {

// A thread's start: the work it was given.
void* runWork(void* work)
{
    (*static_cast<const std::function<void()>*>(work))();
    return nullptr;
}

} // namespace

void runTogether(const std::function<void()>& first, const std::function<void()>& second)
{
    pthread_t thread;
    if (pthread_create(&thread, nullptr, runWork, const_cast<std::function<void()>*>(&first)) != 0) {
        first();
        second();
        return;
    }
    second();
    pthread_join(thread, nullptr);
}

} // namespace vornlog
