#include "harness.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <csignal>
#include <fcntl.h>
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

Result Sandbox::run(const std::vector<std::string>& args, const Redirect& io) const
{
    const std::string outPath = bin_ + "/stdout", errPath = bin_ + "/stderr";
    int feed[2] = {-1, -1};
    if (io.pipeInput && pipe(feed) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir_.c_str()) != 0) _exit(127);
        int in = io.pipeInput ? feed[0] : open(io.inputFile.empty() ? "/dev/null" : io.inputFile.c_str(), O_RDONLY);
        int out = io.appendOutputTo.empty() ? open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)
                                            : open(io.appendOutputTo.c_str(), O_WRONLY | O_APPEND);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        // The program gets these three and nothing else of the test.
        for (int fd : {in, out, err})
            if (fd > 2) close(fd);
        if (io.pipeInput) close(feed[1]);
        signal(SIGPIPE, SIG_DFL);
        const std::string pathVar = bin_ + ":/usr/bin:/bin";
        setenv("PATH", pathVar.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(VORNLOG_EXE));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(VORNLOG_EXE, argv.data());
        _exit(127);
    }
    if (io.pipeInput) {
        close(feed[0]);
        // A program that stops reading early must not block the test.
        signal(SIGPIPE, SIG_IGN);
        for (std::size_t done = 0; done < io.input.size();) {
            const ssize_t n = ::write(feed[1], io.input.data() + done, io.input.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        close(feed[1]);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = io.appendOutputTo.empty() ? readFile(outPath) : std::string();
    r.err = readFile(errPath);
    return r;
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
