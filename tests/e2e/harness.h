// Runs the built vornlog in a temporary folder, with a fake viewer first on
// PATH that records the arguments it was started with.
#pragma once

#include <string>
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
};

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
