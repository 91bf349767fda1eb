// tavro.exe started as a process of its own: the file box and g_file_set its command line gives,
// and its exit code when closed.
#include <gtest/gtest.h>

#include <string>

#include <windows.h>

#include "ids.h"
#include "tavro_symbols.h"

namespace {

struct Running {
    PROCESS_INFORMATION pi = {};
    HWND hwnd = nullptr;
};

struct Search {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK match_main_window(HWND h, LPARAM arg)
{
    Search *s = (Search *)arg;
    DWORD owner = 0;
    char cls[64] = "";
    GetWindowThreadProcessId(h, &owner);
    GetClassNameA(h, cls, sizeof cls);
    if (owner == s->pid && lstrcmpA(cls, "Default Class Name") == 0 && IsWindowVisible(h)) {
        s->found = h;
        return FALSE;
    }
    return TRUE;
}

HWND find_main_window(DWORD pid)
{
    Search s = {pid, nullptr};
    for (int tries = 0; tries < 300 && s.found == nullptr; ++tries) {
        EnumWindows(match_main_window, (LPARAM)&s);
        if (s.found == nullptr)
            Sleep(20);
    }
    return s.found;
}

// Starts tavro.exe with exactly this command line and waits for its window.
bool start(const std::string &cmd_line, Running *run)
{
    std::string buf = cmd_line;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (!CreateProcessA(TAVRO_EXE_PATH, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &run->pi))
        return false;
    WaitForInputIdle(run->pi.hProcess, 10000);
    run->hwnd = find_main_window(run->pi.dwProcessId);
    return run->hwnd != nullptr;
}

// Waits for the process to end and answers its exit code; kills it if it does not end.
DWORD finish(Running *run)
{
    DWORD code = 12345;
    if (WaitForSingleObject(run->pi.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(run->pi.hProcess, 99);
    WaitForSingleObject(run->pi.hProcess, 5000);
    GetExitCodeProcess(run->pi.hProcess, &code);
    CloseHandle(run->pi.hThread);
    CloseHandle(run->pi.hProcess);
    run->pi = {};
    return code;
}

std::string file_box(HWND main)
{
    char buf[1024] = "";
    SendMessageA(GetDlgItem(main, IDC_EDIT_FILE), WM_GETTEXT, sizeof buf, (LPARAM)buf);
    return buf;
}

// g_file_set read out of the other process, at its place in the image the window belongs to.
int file_set_of(const Running &run)
{
    BYTE *base = (BYTE *)GetWindowLongPtrA(run.hwnd, GWLP_HINSTANCE);
    int value = -1;
    SIZE_T got = 0;
    if (!ReadProcessMemory(run.pi.hProcess, base + TAVRO_G_FILE_SET_RVA, &value, sizeof value, &got))
        return -1;
    return value;
}

std::string cp932(const wchar_t *text)
{
    char buf[512];
    int n = WideCharToMultiByte(932, 0, text, -1, buf, sizeof buf, nullptr, nullptr);
    return n > 0 ? std::string(buf, n - 1) : std::string();
}

std::string in_quotes(const std::string &s)
{
    std::string q(1, '"');
    q.append(s);
    q.push_back('"');
    return q;
}

struct CommandLine {
    const char *name;
    std::string tail, box;
    int file_set;
    UINT close_msg;
    WPARAM close_wparam;
};

TEST(Process, CommandLineTailBecomesTheFileNameAndClosingExitsWithZero)
{
    std::string digits;
    for (int i = 0; i < 300; ++i)
        digits += (char)('0' + i % 10);
    const std::string jp = cp932(L"C:\\データ 置き場\\新しい ファイル.txt");
    const CommandLine cases[] = {
        {"no argument", "", "", 0, WM_CLOSE, 0},
        {"quoted path with blanks", in_quotes(jp), jp, 1, WM_SYSCOMMAND, SC_CLOSE},
        {"unquoted path with blanks", "C:\\My Files\\a b.txt", "C:\\My Files\\a b.txt", 1, WM_CLOSE, 0},
        {"two quoted names", "\"a.txt\" \"b.txt\"", "a.txt\" \"b.txt", 1, WM_SYSCOMMAND, SC_CLOSE},
        {"tail over 260", digits, digits.substr(0, 260), 1, WM_CLOSE, 0},
        {"quoted, over 260", in_quotes(digits), std::string(1, '"').append(digits, 0, 259), 1, WM_SYSCOMMAND, SC_CLOSE},
    };
    for (const CommandLine &c : cases) {
        SCOPED_TRACE(c.name);
        std::string cmd = in_quotes(TAVRO_EXE_PATH);
        if (!c.tail.empty())
            cmd.append(" ").append(c.tail);
        Running run;
        bool up = start(cmd, &run);
        if (up) {
            EXPECT_EQ(file_box(run.hwnd), c.box);
            EXPECT_EQ(file_set_of(run), c.file_set);
            PostMessageA(run.hwnd, c.close_msg, c.close_wparam, 0);
        }
        DWORD code = run.pi.hProcess ? finish(&run) : 12345;
        ASSERT_TRUE(up) << "no main window";
        EXPECT_EQ(code, 0u);
    }
}

} // namespace
