// Runs a Windows program and plays the user for it: waits for each message
// box the program shows, records what the box says and offers, saves a
// screenshot of it, and answers it as told. The Wine tests compare the record
// with the boxes they expect.
//
//   dialog_driver REPORT SHOT_PREFIX [--hold PATH] PROGRAM [ANSWER...]
//
// ANSWER is ok, cancel or close (the title bar's close). A box beyond the
// answers given is recorded and closed. --hold keeps PATH open, denying
// others write access, for as long as PROGRAM runs. Each box's picture is
// asked for as SHOT_PREFIX-N.want (see RequestScreenshot). REPORT is UTF-8 text:
//
//   acp 932
//   box 1
//   caption ...
//   text ...            (line feeds written as \n)
//   buttons ok* cancel  (* marks the default button)
//   icon question       (question, warning, error, information, none or unknown)
//   answer ok
//   exit 0              (PROGRAM's exit code, or "timeout")
//
// Exits 0 when PROGRAM ran to its end, 2 on a usage error or a timeout.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD PollMilliseconds = 50;
constexpr DWORD TimeoutMilliseconds = 60000;
// Time for a box that has just appeared to be shown and drawn before its picture is taken.
constexpr DWORD ShowWaitMilliseconds = 5000;
constexpr DWORD SettleMilliseconds = 300;
constexpr DWORD ScreenshotWaitMilliseconds = 10000;

std::string Utf8(const std::wstring& wide)
{
    if (wide.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr,
                        nullptr);
    return text;
}

std::string OneLine(const std::string& text)
{
    std::string line;
    for (char c : text) {
        if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else
            line += c;
    }
    return line;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[4096];
    const int length = GetWindowTextW(window, text, 4096);
    return std::wstring(text, static_cast<size_t>(length > 0 ? length : 0));
}

std::wstring ClassName(HWND window)
{
    wchar_t name[256];
    const int length = GetClassNameW(window, name, 256);
    return std::wstring(name, static_cast<size_t>(length > 0 ? length : 0));
}

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM context)
{
    Search* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->process && IsWindowVisible(window) && ClassName(window) == L"#32770") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindMessageBox(DWORD process)
{
    Search search{process, nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

// Lets `paint` draw on a 32-bit top-down bitmap of `width` by `height` that
// starts out as `pixels`, and returns the pixels it holds afterwards.
template <typename Paint>
std::vector<DWORD> PaintPixels(std::vector<DWORD> pixels, int width, int height, Paint paint)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    std::memcpy(bits, pixels.data(), pixels.size() * sizeof(DWORD));
    paint(memory, screen);
    GdiFlush();
    std::memcpy(pixels.data(), bits, pixels.size() * sizeof(DWORD));
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// 32-bit top-down pixels of a rectangle of the screen.
std::vector<DWORD> CaptureScreen(const RECT& rect)
{
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    return PaintPixels(std::vector<DWORD>(static_cast<size_t>(width) * static_cast<size_t>(height)), width, height,
                       [&](HDC memory, HDC screen) {
                           BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
                       });
}

// The icon drawn the way a static control draws it, on the background the box shows.
std::vector<DWORD> DrawStockIcon(LPCWSTR id, int width, int height, DWORD background)
{
    return PaintPixels(std::vector<DWORD>(static_cast<size_t>(width) * static_cast<size_t>(height), background), width,
                       height, [&](HDC memory, HDC) {
                           DrawIconEx(memory, 0, 0, LoadIconW(nullptr, id), width, height, 0, nullptr, DI_NORMAL);
                       });
}

// Wine names the X window that shows a window in this property.
constexpr wchar_t XWindowProperty[] = L"__wine_x11_whole_window";

// A box is visible to Windows before Wine has made its X window; the picture
// waits for that window, and a moment more for it to be drawn.
void WaitUntilShown(HWND box)
{
    for (DWORD waited = 0; waited < ShowWaitMilliseconds; waited += PollMilliseconds) {
        if (GetPropW(box, XWindowProperty) != nullptr)
            break;
        Sleep(PollMilliseconds);
    }
    Sleep(SettleMilliseconds);
}

// Icon handles belong to the process that loaded them, so the box's icon is
// told apart by its picture: each stock icon is drawn here and compared.
std::string IconName(HWND box)
{
    HWND icon = nullptr;
    for (HWND child : Children(box)) {
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if (ClassName(child) == L"Static" && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child))
            icon = child;
    }
    if (icon == nullptr)
        return "none";
    if (SendMessageW(icon, STM_GETICON, 0, 0) == 0)
        return "none";
    RECT rect;
    GetWindowRect(icon, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return "none";
    const std::vector<DWORD> shown = CaptureScreen(rect);
    const struct {
        LPCWSTR id;
        const char* name;
    } stock[] = {
        {IDI_QUESTION, "question"},
        {IDI_WARNING, "warning"},
        {IDI_ERROR, "error"},
        {IDI_INFORMATION, "information"},
    };
    for (const auto& candidate : stock) {
        const std::vector<DWORD> drawn = DrawStockIcon(candidate.id, width, height, shown[0]);
        bool same = true;
        for (size_t i = 0; i < shown.size() && same; ++i)
            same = (shown[i] & 0xFFFFFF) == (drawn[i] & 0xFFFFFF);
        if (same)
            return candidate.name;
    }
    return "unknown";
}

std::string ButtonName(int id)
{
    switch (id) {
    case IDOK:
        return "ok";
    case IDCANCEL:
        return "cancel";
    case IDYES:
        return "yes";
    case IDNO:
        return "no";
    default:
        return "id" + std::to_string(id);
    }
}

// The default button is the one Enter presses, drawn as the default push button.
std::string Buttons(HWND box)
{
    std::string list;
    for (HWND child : Children(box)) {
        if (ClassName(child) != L"Button" || !IsWindowVisible(child))
            continue;
        if (!list.empty())
            list += ' ';
        list += ButtonName(GetDlgCtrlID(child));
        if ((GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            list += '*';
    }
    return list;
}

std::string Text(HWND box)
{
    for (HWND child : Children(box)) {
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if (ClassName(child) == L"Static" && (style & SS_TYPEMASK) != SS_ICON && GetWindowTextLengthW(child) > 0)
            return OneLine(Utf8(WindowText(child)));
    }
    return {};
}

// Wine's screen device context shows only part of what another process drew
// (its icons, not its text or buttons), so the picture is taken from outside:
// the test script watches for REQUEST, photographs the box's X window, or
// else the given part of the X screen, and deletes REQUEST when done.
void RequestScreenshot(const std::wstring& request, HWND box)
{
    RECT rect;
    GetWindowRect(box, &rect);
    const HANDLE x_window = GetPropW(box, XWindowProperty);
    FILE* out = _wfopen(request.c_str(), L"wb");
    if (out == nullptr)
        return;
    std::fprintf(out, "%ldx%ld+%ld+%ld %#llx\n", rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top,
                 static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(x_window)));
    std::fclose(out);
    for (DWORD waited = 0; waited < ScreenshotWaitMilliseconds; waited += PollMilliseconds) {
        if (GetFileAttributesW(request.c_str()) == INVALID_FILE_ATTRIBUTES)
            return;
        Sleep(PollMilliseconds);
    }
    DeleteFileW(request.c_str());
}

void Answer(HWND box, const std::string& answer)
{
    if (answer == "ok")
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    else if (answer == "cancel")
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    else
        PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
}

int Usage()
{
    std::fputs("usage: dialog_driver REPORT SHOT_PREFIX [--hold PATH] PROGRAM [ok|cancel|close...]\n", stderr);
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4)
        return Usage();
    const std::wstring report_path = argv[1];
    const std::wstring shot_prefix = argv[2];
    int next = 3;
    HANDLE held = INVALID_HANDLE_VALUE;
    if (std::wcscmp(argv[next], L"--hold") == 0) {
        if (argc < 6)
            return Usage();
        held = CreateFileW(argv[next + 1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            std::fputs("dialog_driver: cannot hold the file open\n", stderr);
            return 2;
        }
        next += 2;
    }
    std::wstring command = L"\"" + std::wstring(argv[next]) + L"\"";
    std::vector<std::string> answers;
    for (int i = next + 1; i < argc; ++i)
        answers.push_back(Utf8(argv[i]));

    FILE* report = _wfopen(report_path.c_str(), L"wb");
    if (report == nullptr)
        return Usage();
    std::fprintf(report, "acp %u\n", GetACP());

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(argv[next], command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(report, "cannot start %lu\n", GetLastError());
        std::fclose(report);
        return 2;
    }

    const DWORD start = GetTickCount();
    size_t shown = 0;
    bool timed_out = false;
    for (;;) {
        if (GetTickCount() - start > TimeoutMilliseconds) {
            timed_out = true;
            break;
        }
        HWND box = FindMessageBox(process.dwProcessId);
        if (box == nullptr) {
            if (WaitForSingleObject(process.hProcess, PollMilliseconds) == WAIT_OBJECT_0)
                break;
            continue;
        }
        WaitUntilShown(box);
        ++shown;
        const std::string answer = shown <= answers.size() ? answers[shown - 1] : "close";
        std::fprintf(report, "box %zu\ncaption %s\ntext %s\nbuttons %s\nicon %s\nanswer %s\n", shown,
                     OneLine(Utf8(WindowText(box))).c_str(), Text(box).c_str(), Buttons(box).c_str(),
                     IconName(box).c_str(), answer.c_str());
        RequestScreenshot(shot_prefix + L"-" + std::to_wstring(shown) + L".want", box);
        Answer(box, answer);
        while (IsWindow(box) && IsWindowVisible(box) && GetTickCount() - start <= TimeoutMilliseconds)
            Sleep(PollMilliseconds);
    }

    if (timed_out) {
        TerminateProcess(process.hProcess, 3);
        std::fputs("exit timeout\n", report);
    } else {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        std::fprintf(report, "exit %lu\n", code);
    }
    std::fclose(report);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    return timed_out ? 2 : 0;
}
