// Stands in for the Windows viewers during the Wine check of vornlog.exe:
// copied as notepad.exe beside vornlog.exe, and registered as the program
// that opens .csv files. For each start it appends one line to
// "<its own name>.log" beside itself: the number of arguments, then each
// argument in UTF-8, separated by tabs (no Windows file name holds a tab),
// so that the check sees exactly what the viewer was handed; a start that
// cannot append its line says why on its standard error. Viewers
// started one after another may run at once: each holds the log alone
// while it appends its line, so no line is lost or written over.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

std::string utf8(const wchar_t* w)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    return s;
}

// A start that could not record itself says why on its standard error
// (which the check keeps) and ends with status 1.
int complain(const char* what, const std::wstring& log)
{
    const DWORD error = GetLastError();
    std::fprintf(stderr, "viewer probe: %s %s (Windows error %lu)\n", what, utf8(log.c_str()).c_str(),
                 static_cast<unsigned long>(error));
    return 1;
}

} // namespace

int main()
{
    wchar_t self[MAX_PATH];
    const DWORD len = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (len == 0 || len >= MAX_PATH) return 1;
    std::wstring log(self, len);
    log = log.substr(0, log.rfind(L'.')) + L".log";

    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string text = std::to_string(count > 0 ? count - 1 : 0);
    for (int i = 1; args && i < count; ++i) text += "\t" + utf8(args[i]);
    text += "\n";
    LocalFree(args);

    // Opened for appending only and shared with nobody: another start
    // waits (a sharing violation) until this one has written its line.
    HANDLE f = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 60000; ++tries) {
        f = CreateFileW(log.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
        Sleep(5);
    }
    if (f == INVALID_HANDLE_VALUE) return complain("cannot open its log", log);
    DWORD written = 0;
    const BOOL ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    if (!ok || written != text.size()) return complain("cannot write its line to its log", log);
    return CloseHandle(f) ? 0 : complain("cannot close its log", log);
}
