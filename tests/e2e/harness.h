// Runs the built vornlog in a temporary folder, with a fake viewer first on
// PATH that records the arguments it was started with.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Where the program's standard input comes from and its standard output
// goes, beside the defaults (no input; output collected in Result::out).
struct Redirect {
    // Fed through a pipe, as a shell pipeline feeds it.
    bool pipeInput = false;
    std::string input;
    // A file in the sandbox as standard input (instead of the pipe).
    std::string inputFile;
    // A file in the sandbox that standard output is appended to
    // (Result::out is then empty).
    std::string appendOutputTo;
    // Standard output is a terminal (a pseudo-terminal in raw mode, read
    // into Result::out).
    bool terminalOutput = false;
    // Standard output closed when the program starts (a shell's ">&-").
    bool closedOutput = false;
};

// A run of vornlog that goes on while the test feeds it, signals it and
// looks at what it wrote.
class Running {
public:
    Running() = default;
    Running(Running&& other) noexcept;
    Running& operator=(Running&&) = delete;
    // A run still going when the test ends is killed.
    ~Running();

    // Writes to its standard input (Redirect::pipeInput), and closes it.
    void feed(std::string_view bytes);
    void closeInput();
    void signal(int number) const;
    // What its standard output holds so far.
    std::string out() const;
    // Closes its input and waits for its end.
    Result wait();

private:
    friend class Sandbox;
    int pid_ = -1;
    int input_ = -1;
    int terminal_ = -1;
    std::string outPath_;
    std::string errPath_;
    bool appended_ = false;
};

// Looks every 20 ms until `done` holds; false when it did not within waitMs.
bool eventually(const std::function<bool()>& done, int waitMs);

class Sandbox {
public:
    Sandbox();
    ~Sandbox();

    const std::string& dir() const { return dir_; }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    void write(const std::string& name, const std::string& content) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;

    // Runs vornlog with these arguments, in the sandbox folder.
    Result run(const std::vector<std::string>& args, const Redirect& io = {}) const;
    // Starts it and returns at once (Redirect::input is not fed).
    Running start(const std::vector<std::string>& args, const Redirect& io = {}) const;

    // The argument lists the fake viewer was started with, waiting up to a
    // few seconds for `count` of them to arrive.
    std::vector<std::vector<std::string>> viewerCalls(std::size_t count, int waitMs = 5000) const;

    // What the file the viewer was asked to show held when it looked.
    std::string viewerSaw() const;
    // What the viewer's open descriptors led to when it started, in its
    // last call (as /proc shows them: a path, "pipe:[...]", "... (deleted)").
    std::vector<std::string> viewerFiles() const;

private:
    std::string dir_;
    std::string bin_;
};

std::string readFile(const std::string& path);

} // namespace e2e
