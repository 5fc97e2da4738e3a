// Starts a program without one of its standard handles, as a service, a
// scheduled task or a program started with a closed standard output starts
// it, and ends with its exit status. The other two standard handles are
// this probe's own.
//
//   no_std_handle_probe.exe in|out|err program.exe [arguments...]
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

// One argument, quoted so that the program's start-up code gives it back
// unchanged.
std::wstring quote(const std::wstring& arg)
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

// The probe's own standard handle, inheritable by the program it starts.
HANDLE inherited(DWORD which)
{
    HANDLE own = GetStdHandle(which), copy = nullptr;
    if (own == nullptr || own == INVALID_HANDLE_VALUE) return nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 125;
    const std::wstring missing = argv[1];
    std::wstring commandLine;
    for (int i = 2; i < argc; ++i) commandLine += (i > 2 ? L" " : L"") + quote(argv[i]);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = missing == L"in" ? nullptr : inherited(STD_INPUT_HANDLE);
    startup.hStdOutput = missing == L"out" ? nullptr : inherited(STD_OUTPUT_HANDLE);
    startup.hStdError = missing == L"err" ? nullptr : inherited(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(argv[2], commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return 126;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 127;
    GetExitCodeProcess(process.hProcess, &status);
    return static_cast<int>(status);
}
