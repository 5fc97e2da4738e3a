#include "harness.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace e2e {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

Sandbox::Sandbox()
{
    std::string pattern = (fs::temp_directory_path() / "vornlog-e2e-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    bin_ = dir_ + "/.bin";
    fs::create_directories(bin_);
    // Each call: one line per argument, then a line "--".
    const std::string viewer = bin_ + "/xdg-open";
    // It also keeps a copy of the file it was asked to show, as it was then,
    // and what each of its open descriptors leads to.
    std::ofstream(viewer) << "#!/bin/sh\n"
                          << "ls -l /proc/$$/fd | sed -n 's/.* -> //p' > '" << bin_ << "/files'\n"
                          << "cat -- \"$1\" > '" << bin_ << "/seen' 2>/dev/null\n"
                             "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '"
                          << bin_ << "/calls'; done\n"
                          << "printf -- '--\\n' >> '" << bin_ << "/calls'\n";
    fs::permissions(viewer, fs::perms::owner_all);
}

Sandbox::~Sandbox()
{
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
}

void Sandbox::write(const std::string& name, const std::string& content) const
{
    std::ofstream(path(name), std::ios::binary) << content;
}

std::string Sandbox::read(const std::string& name) const { return readFile(path(name)); }

bool Sandbox::exists(const std::string& name) const { return fs::exists(fs::symlink_status(path(name))); }

Running Sandbox::start(const std::vector<std::string>& args, const Redirect& io) const
{
    Running running;
    running.outPath_ = bin_ + "/stdout";
    running.errPath_ = bin_ + "/stderr";
    running.appended_ = !io.appendOutputTo.empty();
    int feed[2] = {-1, -1};
    if (io.pipeInput && pipe(feed) != 0) return running;
    int terminal = -1;
    std::string terminalName;
    if (io.terminalOutput) {
        terminal = posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) return running;
        terminalName = ptsname(terminal);
    }
    const std::string& outPath = running.outPath_;
    const std::string& errPath = running.errPath_;
    // Emptied now: what the run has written is all that out() shows.
    std::ofstream(outPath, std::ios::trunc);
    std::ofstream(errPath, std::ios::trunc);
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir_.c_str()) != 0) _exit(127);
        int in = io.pipeInput ? feed[0] : open(io.inputFile.empty() ? "/dev/null" : io.inputFile.c_str(), O_RDONLY);
        int out = io.appendOutputTo.empty() ? open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)
                                            : open(io.appendOutputTo.c_str(), O_WRONLY | O_APPEND);
        if (io.terminalOutput) {
            out = open(terminalName.c_str(), O_RDWR | O_NOCTTY);
            struct termios raw;
            tcgetattr(out, &raw);
            cfmakeraw(&raw);
            tcsetattr(out, TCSANOW, &raw);
            close(terminal);
        }
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (io.closedOutput) close(1);
        // The program starts with its three standard streams alone, as
        // from a shell: what its viewer inherits is then its own doing.
        closefrom(3);
        signal(SIGPIPE, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        const std::string pathVar = bin_ + ":/usr/bin:/bin";
        setenv("PATH", pathVar.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(VORNLOG_EXE));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(VORNLOG_EXE, argv.data());
        _exit(127);
    }
    running.pid_ = pid;
    running.terminal_ = terminal;
    if (io.pipeInput) {
        close(feed[0]);
        running.input_ = feed[1];
        // A program that stops reading early must not block the test.
        signal(SIGPIPE, SIG_IGN);
    }
    return running;
}

Result Sandbox::run(const std::vector<std::string>& args, const Redirect& io) const
{
    Running running = start(args, io);
    running.feed(io.input);
    return running.wait();
}

Running::Running(Running&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), input_(std::exchange(other.input_, -1)),
      terminal_(std::exchange(other.terminal_, -1)), outPath_(std::move(other.outPath_)),
      errPath_(std::move(other.errPath_)), appended_(other.appended_)
{
}

Running::~Running()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        wait();
    }
}

void Running::feed(std::string_view bytes)
{
    for (std::size_t done = 0; input_ >= 0 && done < bytes.size();) {
        const ssize_t n = ::write(input_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
}

void Running::closeInput()
{
    if (input_ >= 0) close(input_);
    input_ = -1;
}

void Running::signal(int number) const
{
    if (pid_ > 0) kill(pid_, number);
}

std::string Running::out() const { return readFile(outPath_); }

Result Running::wait()
{
    closeInput();
    std::string shown;
    if (terminal_ >= 0) {
        // Until the program's end closes the terminal.
        char chunk[4096];
        for (ssize_t n; (n = ::read(terminal_, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR);)
            if (n > 0) shown.append(chunk, static_cast<std::size_t>(n));
        close(terminal_);
    }
    Result r;
    if (pid_ <= 0) return r;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = terminal_ >= 0 ? shown : appended_ ? std::string() : readFile(outPath_);
    r.err = readFile(errPath_);
    terminal_ = -1;
    return r;
}

bool eventually(const std::function<bool()>& done, int waitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string Sandbox::viewerSaw() const { return readFile(bin_ + "/seen"); }

std::vector<std::string> Sandbox::viewerFiles() const
{
    std::vector<std::string> files;
    std::istringstream in(readFile(bin_ + "/files"));
    for (std::string line; std::getline(in, line);) files.push_back(line);
    return files;
}

std::vector<std::vector<std::string>> Sandbox::viewerCalls(std::size_t count, int waitMs) const
{
    std::vector<std::vector<std::string>> calls;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        calls.clear();
        std::istringstream in(readFile(bin_ + "/calls"));
        std::vector<std::string> call;
        for (std::string line; std::getline(in, line);) {
            if (line == "--") {
                calls.push_back(call);
                call.clear();
            } else {
                call.push_back(line);
            }
        }
        if (calls.size() >= count || std::chrono::steady_clock::now() > deadline) return calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace e2e
