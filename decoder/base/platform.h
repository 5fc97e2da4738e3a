// What the console program asks of the operating system: opening files by
// their (UTF-8) names, telling whether two names are one file, reading a
// dump file as its bytes come, catching Ctrl-C, and showing the dest file
// on the desktop, running two pieces of work at once, drawing random bytes
// and loading a module of the program's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vornlog {

// The arguments after the program name, in UTF-8 (on Windows read from
// the wide command line, so that names such as "Données" arrive intact).
std::vector<std::string> commandLineArguments(int argc, char** argv);

// Run first: a standard input, output or error that was closed when the
// program started gets a stand-in that fails every read or write, so that
// no file the program opens takes its place (the report would go into it)
// and writing to a closed standard output fails as it should.
void holdStandardStreams();

// Opens a file in binary mode ("rb" or "wb"); null on failure. A folder
// given as a file to read is refused here. The files this program opens
// are its own: no program it starts inherits them. A file opened for
// reading can still be renamed or deleted by others (on Windows too), so
// that a capture program can start a new file under the name being read.
std::FILE* openFile(const std::string& name, const char* mode);

// Creates the file `name` and opens it for writing in binary mode, never a
// file that exists (nor one that a link of that name leads to): null when
// it cannot be made, with `taken` set when the name is taken.
std::FILE* createNewFile(const std::string& name, bool& taken);

// True when `name` is a folder that this program may create files in.
bool isWritableFolder(const std::string& name);

// Which file an open stream writes (its disk and its number there), so that
// a file the program made can later be told from another put under its
// name; nothing when it cannot be told.
using FileIdentity = std::pair<std::uint64_t, std::uint64_t>;
std::optional<FileIdentity> fileIdentity(std::FILE* file);
// Removes the file `name` when it is still the file `identity`; false when
// it is another, or is gone, or cannot be removed.
bool removeFileIf(const std::string& name, const FileIdentity& identity);

// The system's temporary folder: TMPDIR where it is set (on Windows TMP or
// TEMP), else the system's own; TMPDIR as given when it is no folder, ""
// when there is none.
std::string temporaryFolder();
// A file of the program's own in that folder, open for reading and
// writing in binary mode, gone when it is closed or the program ends; null
// when none can be made.
std::FILE* openTemporaryFile();

// What a dump file is read from: a file on a disk, a pipe (or a socket),
// or a terminal (a console, a character device).
enum class InputKind { File, Pipe, Terminal };
InputKind inputKind(std::FILE* file);

// True when the stream is a terminal (the console shows what it is written).
bool isTerminal(std::FILE* file);

// One read of at most n bytes from the descriptor under `file` (its stdio
// buffer is never used): fewer than n when a pipe holds fewer; 0 at the end;
// kNothingYet when the descriptor has nothing now and would have to wait;
// kReadFailed on a read error.
inline constexpr long long kNothingYet = -2;
inline constexpr long long kReadFailed = -1;
long long readSome(std::FILE* file, void* dst, std::size_t n);

// Waits at most `ms` milliseconds (0: not at all) until a read of `file`
// would not wait: bytes, the end or an error are there. A file on a disk
// is always ready. Returns early, false, when reading is interrupted.
bool waitForInput(std::FILE* file, int ms);

// The size of the file on a disk under `file`; nothing when it cannot be
// told. And a move of its descriptor back to the file's start.
std::optional<std::uint64_t> fileSize(std::FILE* file);
bool seekToStart(std::FILE* file);

// Sleeps `ms` milliseconds, or less when reading is interrupted.
void pause(int ms);

// From now on Ctrl-C and a request to end (SIGINT and SIGTERM; on Windows
// Ctrl-C and Ctrl-Break) interrupt reading instead of ending the program;
// a second one ends it at once. A signal that was ignored when the program
// started stays ignored.
void catchInterrupts();
// True once reading was asked to stop.
bool interruptRequested();

// True when both names lead to the same existing file (same path, a hard
// link, a symbolic link, another drive letter for the same folder).
bool sameFile(const std::string& a, const std::string& b);

// Standard input and standard output for a dump or dest file given as "-",
// switched to binary mode: the capture's bytes and the report's line ends
// pass exactly as they do through a file.
std::FILE* standardInput();
std::FILE* standardOutput();

// The null device, opened for writing: the console of a quiet run. Null on
// failure.
std::FILE* openNullDevice();

// True when an open stream and a file name, or two open streams, are the
// same regular file. Pipes and terminals are never the same file as
// anything: a run may read one terminal and write to it.
bool sameFile(std::FILE* open, const std::string& name);
bool sameFile(std::FILE* a, std::FILE* b);

// True when `name` now leads to a regular file other than the open one
// (it was renamed or deleted and the name given to a new file); false when
// it leads to that file, or to nothing yet.
bool nameLeadsElsewhere(std::FILE* open, const std::string& name);

// The console's error for a dest file that cannot be written, completed by
// its name (that of a dump file that cannot be read: capture/dump_input.h).
inline constexpr char kCantWrite[] = "Can't write to file: ";

// Writes a message (UTF-8) on standard error. A Windows console gets it as
// wide characters, so that a name such as "Données" shows as typed; a
// redirected standard error gets the UTF-8 bytes.
void writeError(const std::string& text);

// The last part of a path: the file's own name ("session.txt" for
// "jobs/session.txt"), split as the platform splits paths.
std::string fileNamePart(const std::string& name);

// The full path of a file name (UTF-8), as the desktop is given it.
std::string fullPath(const std::string& name);

// The folder of this program's executable file (UTF-8), "" when unknown.
std::string programFolder();

// The text viewer (the report, the summary), or the program the desktop
// associates with the file's type (the CSV, the picture).
enum class Viewer { Text, ByType };

// Asks the desktop to show the file `name` with the viewer given. The
// file's full path is passed as one argument, never through a command
// interpreter; the viewer is not waited for and its failure is ignored.
void showInViewer(const std::string& name, Viewer viewer);

// What showAddress left for the browser: a page in a folder of its own,
// both removed when this goes.
class ShownAddress {
public:
    ShownAddress() = default;
    explicit ShownAddress(std::string folder) : folder_(std::move(folder)) {}
    ShownAddress(ShownAddress&& other) noexcept : folder_(std::exchange(other.folder_, {})) {}
    ShownAddress& operator=(ShownAddress&&) = delete;
    ~ShownAddress();

private:
    std::string folder_;
};

// Asks the desktop to open an http address in the default browser; the
// browser is not waited for and its failure is ignored. The address (its
// token) is on no program's command line, which every user of the machine
// may read: the browser is handed a page that sends it there, in a folder
// that only this user may enter (on Windows, which has no such command
// line to fear from other users' programs, the address itself).
ShownAddress showAddress(const std::string& address);

// Fills `dst` with n bytes from the operating system's random source
// (getrandom, rand_s); false when it cannot give them.
bool randomBytes(void* dst, std::size_t n);

// Loads a module (a shared library) by its full path: null when it is not
// there or cannot be loaded, with the system's reason in `why`. A module
// stays loaded until the program ends.
void* loadModule(const std::string& path, std::string& why);
// The address of a function the module exports by that name; null when it
// has none.
void* moduleFunction(void* module, const char* name);

// Runs `first` on a thread of its own and `second` on this one, and returns
// once both are done: the two processors of a usual PC share the work. When
// no thread can be started, runs one after the other.
void runTogether(const std::function<void()>& first, const std::function<void()>& second);

} // namespace vornlog
