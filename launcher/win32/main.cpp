// VornlogRun for Windows: the launcher's window drawn with the Windows API
// from the core's table of controls, and the desktop of the run procedure:
// the common open and save dialogs, message boxes, the decoder started as a
// hidden console process whose standard error is read back, the busy cursor
// while it is waited for, and Notepad for the sorted copy.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <string>
#include <vector>

#include "desktop.h"
#include "window_model.h"

namespace vornlog {

namespace {

std::wstring wide(std::string_view utf8)
{
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), n);
    return text;
}

std::string utf8(std::wstring_view text)
{
    if (text.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), n, nullptr, nullptr);
    return result;
}

// One argument of a command line as the C runtime of the started program
// splits it again: quoted, with the backslashes before a quote doubled.
void appendArgument(std::wstring& line, const std::wstring& argument)
{
    if (!line.empty()) line += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
}

Fault faultOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME: return Fault::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_SHARING_VIOLATION: return Fault::PermissionDenied;
    default: return Fault::PathAccess;
    }
}

// The part of a program's standard error that is kept: its message.
constexpr std::size_t maxErrorText = 4096;

class Win32Desktop : public Desktop {
public:
    Win32Desktop() = default;
    Win32Desktop(const Win32Desktop&) = delete;
    Win32Desktop& operator=(const Win32Desktop&) = delete;
    // Waits for the decoders still running: ending the launcher must not
    // leave a report half written by a process nobody waits for.
    ~Win32Desktop() override
    {
        for (Running& program : running_) {
            while (WaitForSingleObject(program.process, 50) == WAIT_TIMEOUT) readErrors(program);
            close(program);
        }
    }

    void setOwner(HWND owner) { owner_ = owner; }

    std::string chooseFile(const FileDialogRequest& request) override
    {
        // "A|a|B|b|" as "A\0a\0B\0b\0\0".
        std::wstring filter;
        for (const FilterPair& pair : filterPairs(request.filter)) {
            filter += wide(pair.description);
            filter += L'\0';
            filter += wide(pair.patterns);
            filter += L'\0';
        }
        filter += L'\0';
        std::vector<wchar_t> file(32768, L'\0');
        const std::wstring initial = wide(request.initialName);
        std::copy_n(initial.begin(), std::min(initial.size(), file.size() - 1), file.begin());

        OPENFILENAMEW dialog{};
        dialog.lStructSize = sizeof dialog;
        dialog.hwndOwner = owner_;
        dialog.lpstrFilter = filter.c_str();
        dialog.nFilterIndex = static_cast<DWORD>(request.filterIndex);
        dialog.lpstrFile = file.data();
        dialog.nMaxFile = static_cast<DWORD>(file.size());
        dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
        BOOL chosen;
        if (request.kind == FileDialogRequest::Kind::Open) {
            dialog.Flags |= OFN_FILEMUSTEXIST;
            chosen = GetOpenFileNameW(&dialog);
        } else {
            if (request.confirmOverwrite) dialog.Flags |= OFN_OVERWRITEPROMPT;
            chosen = GetSaveFileNameW(&dialog);
        }
        return chosen ? utf8(file.data()) : std::string();
    }

    Answer showMessage(const MessageRequest& request) override
    {
        UINT type = request.buttons == MessageRequest::Buttons::YesNo ? MB_YESNO : MB_OK;
        if (request.icon == MessageRequest::Icon::Information) type |= MB_ICONINFORMATION;
        if (request.icon == MessageRequest::Icon::Critical) type |= MB_ICONERROR;
        switch (MessageBoxW(owner_, wide(request.text).c_str(), wide(request.title).c_str(), type)) {
        case IDYES: return Answer::Yes;
        case IDNO: return Answer::No;
        default: return request.buttons == MessageRequest::Buttons::YesNo ? Answer::No : Answer::Ok;
        }
    }

    Fault startProgram(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& folder) override
    {
        // No command interpreter: the program gets exactly these arguments.
        const std::wstring application = wide(program);
        std::wstring line;
        appendArgument(line, application);
        for (const std::string& argument : arguments) appendArgument(line, wide(argument));

        // Its console output goes to the null device, its standard error
        // into a pipe that is read back; it inherits these two handles and
        // no other.
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        HANDLE errorsRead = nullptr, errorsWrite = nullptr;
        if (!CreatePipe(&errorsRead, &errorsWrite, &inheritable, 1 << 16)) return faultOf(GetLastError());
        SetHandleInformation(errorsRead, HANDLE_FLAG_INHERIT, 0);
        HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, 0, nullptr);
        if (nul == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            CloseHandle(errorsRead);
            CloseHandle(errorsWrite);
            return faultOf(error);
        }
        HANDLE inherited[] = {nul, errorsWrite};
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        std::vector<unsigned char> attributes(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
        const bool listed = InitializeProcThreadAttributeList(list, 1, 0, &size) &&
                            UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                                      sizeof inherited, nullptr, nullptr);

        STARTUPINFOEXW startup{};
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
        startup.StartupInfo.wShowWindow = SW_HIDE;
        startup.StartupInfo.hStdInput = nul;
        startup.StartupInfo.hStdOutput = nul;
        startup.StartupInfo.hStdError = errorsWrite;
        startup.lpAttributeList = listed ? list : nullptr;
        PROCESS_INFORMATION started{};
        const BOOL ok = listed && CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE,
                                                 CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                                                 wide(folder).c_str(), &startup.StartupInfo, &started);
        const DWORD error = GetLastError();
        if (listed) DeleteProcThreadAttributeList(list);
        CloseHandle(errorsWrite);
        CloseHandle(nul);
        if (!ok) {
            CloseHandle(errorsRead);
            if (GetFileAttributesW(wide(folder).c_str()) == INVALID_FILE_ATTRIBUTES) return Fault::PathAccess;
            return faultOf(error);
        }
        CloseHandle(started.hThread);
        forgetEnded();
        running_.push_back({started.hProcess, errorsRead, {}});
        return Fault::None;
    }

    ProgramEnd waitForProgram() override
    {
        if (running_.empty()) return {};
        Running& last = running_.back();
        // Its standard error is read while it runs: a full pipe would stop it.
        HCURSOR previous = nullptr;
        bool busy = false;
        while (WaitForSingleObject(last.process, 50) == WAIT_TIMEOUT) {
            if (!busy) previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            busy = true;
            readErrors(last);
        }
        readErrors(last);
        if (busy) SetCursor(previous);
        DWORD status = 0;
        if (!GetExitCodeProcess(last.process, &status)) status = 1;
        return {static_cast<int>(status), last.errors};
    }

    // The Windows decoder has no live viewer: a program still running is
    // ended.
    void stopProgram() override
    {
        if (!running_.empty() && WaitForSingleObject(running_.back().process, 0) == WAIT_TIMEOUT)
            TerminateProcess(running_.back().process, 1);
    }

    Fault showInTextViewer(const std::string& file) override
    {
        // Notepad by its full path in the system folder: a program given by
        // its bare name is looked for in the launcher's folder and in the
        // current folder first, and a notepad.exe could lie there beside a
        // capture.
        wchar_t system[MAX_PATH + 1];
        const UINT n = GetSystemDirectoryW(system, MAX_PATH + 1);
        if (n == 0 || n > MAX_PATH) return Fault::NotFound;
        const std::wstring notepad = std::wstring(system, n) + L"\\notepad.exe";
        std::wstring line;
        appendArgument(line, notepad);
        appendArgument(line, wide(file));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWNORMAL;
        PROCESS_INFORMATION started{};
        if (!CreateProcessW(notepad.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &started))
            return faultOf(GetLastError());
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
        return Fault::None;
    }

private:
    // A started program, the pipe of its standard error and what came
    // through it.
    struct Running {
        HANDLE process;
        HANDLE errorPipe;
        std::string errors;
    };

    // Reads what waits in the pipe, without waiting for more.
    static void readErrors(Running& program)
    {
        DWORD waiting = 0;
        while (PeekNamedPipe(program.errorPipe, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(program.errorPipe, buffer, std::min<DWORD>(waiting, sizeof buffer), &got, nullptr) ||
                got == 0)
                return;
            program.errors.append(buffer, std::min<std::size_t>(got, maxErrorText - program.errors.size()));
        }
    }

    static void close(Running& program)
    {
        CloseHandle(program.process);
        CloseHandle(program.errorPipe);
    }

    void forgetEnded()
    {
        std::erase_if(running_, [](Running& program) {
            if (WaitForSingleObject(program.process, 0) == WAIT_TIMEOUT) return false;
            close(program);
            return true;
        });
    }

    HWND owner_ = nullptr;
    std::vector<Running> running_;
};

constexpr int firstControlId = 100;
constexpr wchar_t windowClass[] = L"VornlogRun";

int pixels(int twips)
{
    return twips / twipsPerPixel;
}

// The window: one native control for each control of the table.
class Window {
public:
    Window(Win32Desktop& desktop, std::string launcherFolder) : desktop_(desktop), window_(desktop, std::move(launcherFolder)) {}
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window()
    {
        for (HFONT font : fonts_) DeleteObject(font);
    }

    bool create(HINSTANCE instance, int show)
    {
        const WindowFrame& frame = windowFrame();
        const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
        RECT area{0, 0, pixels(frame.width), pixels(frame.height)};
        AdjustWindowRectEx(&area, style, FALSE, WS_EX_CONTROLPARENT);
        hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, windowClass, wide(frame.caption).c_str(), style, CW_USEDEFAULT,
                                CW_USEDEFAULT, area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                                instance, this);
        if (!hwnd_) return false;
        desktop_.setOwner(hwnd_);
        createControls(instance);
        refresh();
        ShowWindow(hwnd_, show);
        UpdateWindow(hwnd_);
        SetFocus(controls_[LauncherWindow::find(Role::CommandRun)]);
        return true;
    }

    HWND handle() const { return hwnd_; }

    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NCCREATE) {
            auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
            self->hwnd_ = hwnd;
        }
        auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        return self ? self->onMessage(message, wParam, lParam) : DefWindowProcW(hwnd, message, wParam, lParam);
    }

private:
    void createControls(HINSTANCE instance)
    {
        const std::vector<Control>& table = windowControls();
        controls_.assign(table.size(), nullptr);
        // Created in the tab order (the order Tab goes through them), the
        // labels last.
        std::vector<std::size_t> order(table.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const auto rank = [&](std::size_t i) { return table[i].tabIndex < 0 ? 1000 : table[i].tabIndex; };
            return rank(a) < rank(b);
        });

        HWND tooltips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                        instance, nullptr);
        for (std::size_t i : order) {
            const Control& c = table[i];
            const wchar_t* kind = L"BUTTON";
            DWORD style = WS_CHILD | WS_VISIBLE;
            switch (c.kind) {
            case ControlKind::Label:
                kind = L"STATIC";
                style |= (c.centred ? SS_CENTER : SS_LEFT) | SS_NOTIFY;
                break;
            case ControlKind::CheckBox: style |= BS_CHECKBOX | BS_MULTILINE | WS_TABSTOP; break;
            case ControlKind::OptionButton: style |= BS_RADIOBUTTON | BS_MULTILINE | WS_TABSTOP; break;
            case ControlKind::PushButton: style |= BS_PUSHBUTTON | WS_TABSTOP; break;
            }
            HWND control = CreateWindowExW(0, kind, wide(c.text).c_str(), style, pixels(c.place.left),
                                           pixels(c.place.top), pixels(c.place.width), pixels(c.place.height), hwnd_,
                                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(firstControlId + i)),
                                           instance, nullptr);
            controls_[i] = control;
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font(c.points, c.bold)), FALSE);
            if (!c.tooltip.empty() && tooltips) {
                TOOLINFOW tool{};
                tool.cbSize = sizeof tool;
                tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
                tool.hwnd = hwnd_;
                tool.uId = reinterpret_cast<UINT_PTR>(control);
                tooltipTexts_.push_back(wide(c.tooltip));
                tool.lpszText = tooltipTexts_.back().data();
                SendMessageW(tooltips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
            }
            if (c.role == Role::LabelTitre) {
                SetWindowSubclass(control, titleProcedure, 1, reinterpret_cast<DWORD_PTR>(this));
            }
        }
    }

    HFONT font(int points, bool bold)
    {
        HDC screen = GetDC(nullptr);
        const int height = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
        // The window's font, or the first substitute the system has: a
        // font the system lacks would come out as a wide one.
        std::vector<std::string_view> faces{fontFace};
        faces.insert(faces.end(), std::begin(fontSubstitutes), std::end(fontSubstitutes));
        HFONT made = nullptr;
        for (std::string_view face : faces) {
            const std::wstring name = wide(face);
            if (made) DeleteObject(made);
            made = CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                               name.c_str());
            HGDIOBJ previous = SelectObject(screen, made);
            wchar_t selected[LF_FACESIZE] = {};
            GetTextFaceW(screen, LF_FACESIZE, selected);
            SelectObject(screen, previous);
            if (lstrcmpiW(selected, name.c_str()) == 0) break;
        }
        ReleaseDC(nullptr, screen);
        fonts_.push_back(made);
        return made;
    }

    // The moves of the mouse over the title, which a static control keeps
    // to itself.
    static LRESULT CALLBACK titleProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR data)
    {
        if (message == WM_MOUSEMOVE) {
            auto* self = reinterpret_cast<Window*>(data);
            self->window_.LabelTitre_MouseMove();
            self->refresh();
        }
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }

    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam)
    {
        switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam) - firstControlId;
            const int code = HIWORD(wParam);
            if (id >= 0 && static_cast<std::size_t>(id) < controls_.size() && (code == BN_CLICKED || code == STN_CLICKED))
                clicked(windowControls()[static_cast<std::size_t>(id)]);
            return 0;
        }
        case WM_MOUSEMOVE:
            // Only the bare window reaches here: the controls take the
            // moves over them.
            window_.Form_MouseMove();
            refresh();
            return 0;
        case WM_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            const auto found = std::find(controls_.begin(), controls_.end(), reinterpret_cast<HWND>(lParam));
            if (found != controls_.end()) {
                const Control& c = windowControls()[static_cast<std::size_t>(found - controls_.begin())];
                if (c.colour) SetTextColor(dc, RGB(c.colour->red, c.colour->green, c.colour->blue));
            }
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        case WM_DESTROY: PostQuitMessage(0); return 0;
        default: return DefWindowProcW(hwnd_, message, wParam, lParam);
        }
    }

    void clicked(const Control& c)
    {
        const bool checked = window_.state(LauncherWindow::find(c.role, c.index)).checked;
        switch (c.role) {
        case Role::LabelTitre: window_.LabelTitre_Click(); break;
        case Role::CheckToutes: window_.CheckToutes_Click(!checked); break;
        case Role::CheckAGarder: window_.CheckAGarder_Click(c.index, !checked); break;
        case Role::OptionParam: window_.OptionParam_Click(c.index); break;
        case Role::CommandRun: window_.CommandRun_Click(); break;
        case Role::CommandEnd: DestroyWindow(hwnd_); return;
        default: break;
        }
        refresh();
    }

    // Shows the core's state of every control; only what changed is
    // touched, so that a move of the mouse makes nothing flicker.
    void refresh()
    {
        const std::vector<Control>& table = windowControls();
        const bool first = shown_.size() != table.size();
        if (first) shown_.resize(table.size());
        for (std::size_t i = 0; i < table.size(); ++i) {
            const ControlState& state = window_.state(i);
            ControlState& shown = shown_[i];
            HWND control = controls_[i];
            if (first || state.text != shown.text) SetWindowTextW(control, wide(state.text).c_str());
            const bool button = table[i].kind == ControlKind::CheckBox || table[i].kind == ControlKind::OptionButton;
            if (button && (first || state.checked != shown.checked))
                SendMessageW(control, BM_SETCHECK, state.checked ? BST_CHECKED : BST_UNCHECKED, 0);
            if (first || state.enabled != shown.enabled) EnableWindow(control, state.enabled);
            if (first || state.visible != shown.visible) ShowWindow(control, state.visible ? SW_SHOWNA : SW_HIDE);
            shown = state;
        }
    }

    Win32Desktop& desktop_;
    LauncherWindow window_;
    HWND hwnd_ = nullptr;
    std::vector<HWND> controls_;       // one for each control of windowControls()
    std::vector<ControlState> shown_;  // what each shows
    std::vector<HFONT> fonts_;
    std::vector<std::wstring> tooltipTexts_;
};

std::string launcherFolder()
{
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return {};
    std::wstring file(path.data(), length);
    const std::size_t slash = file.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::string() : utf8(file.substr(0, slash));
}

} // namespace

} // namespace vornlog

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = vornlog::Window::procedure;
    type.hInstance = instance;
    type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    type.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    type.lpszClassName = vornlog::windowClass;
    if (!RegisterClassExW(&type)) return 1;

    vornlog::Win32Desktop desktop;
    vornlog::Window window(desktop, vornlog::launcherFolder());
    if (!window.create(instance, show)) return 1;

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Tab and the arrow keys move between the controls.
        if (IsDialogMessageW(window.handle(), &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
