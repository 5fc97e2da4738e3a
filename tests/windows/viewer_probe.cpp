// Stands in for the Windows viewers during the Wine check of vornlog.exe:
// copied as notepad.exe beside vornlog.exe, and registered as the program
// that opens .csv files. For each start it appends one line to
// "<its own name>.log" beside itself: the number of arguments, then each
// argument in UTF-8, separated by tabs (no Windows file name holds a tab),
// so that the check sees exactly what the viewer was handed.
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

    std::FILE* f = _wfopen(log.c_str(), L"ab");
    if (!f) return 1;
    std::fwrite(text.data(), 1, text.size(), f);
    return std::fclose(f) == 0 ? 0 : 1;
}
