// tavro.exe started as a process of its own: the file box and g_file_set its command line gives,
// and its exit code when closed.
#include <gtest/gtest.h>

#include <string>

#include <windows.h>

#include "ids.h"
#include "tavro_symbols.h"
#include "test_support.h"

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

// Starts `program` with exactly this command line in `directory` and waits for its window.
bool start(const std::string &program, const std::string &cmd_line, const std::string &directory, Running *run)
{
    std::string buf = cmd_line;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (!CreateProcessA(program.c_str(), buf.data(), nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(), &si,
                        &run->pi))
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

std::string box_text(HWND main, int box)
{
    char buf[1024] = "";
    SendMessageA(GetDlgItem(main, box), WM_GETTEXT, sizeof buf, (LPARAM)buf);
    return buf;
}

// The CRC-32 box after a click on its compute button; a message box instead of a value times out.
std::string crc32_computed(HWND main)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(main, WM_COMMAND, IDC_CALC_CRC32, 0, SMTO_NORMAL, 10000, &result))
        return "<no answer>";
    return box_text(main, IDC_EDIT_CRC32);
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

// How a console or Explorer names the program: where the build left it, quoted; a copy in a
// folder with a Japanese name, unquoted as typed; a copy in one with a blank too, quoted.
enum Program { BUILT_QUOTED, JAPANESE_FOLDER, JAPANESE_FOLDER_WITH_BLANK_QUOTED };

std::string blank_then(const std::string &s) { return std::string(" ").append(s); }

struct CommandLine {
    const char *name;
    Program program;
    std::string after_program, box; // the command line after the program's name, the file box it gives
    int file_set;
    const char *crc32; // the value of the named file, which lies in the working directory; null: none
    UINT close_msg;
    WPARAM close_wparam;
};

TEST(Process, CommandLineTailBecomesTheFileNameAndClosingExitsWithZero)
{
    std::string digits;
    for (int i = 0; i < 300; ++i)
        digits += (char)('0' + i % 10);
    const std::string jp = cp932(L"C:\\データ 置き場\\新しい ファイル.txt");
    // Each begins with a byte of 0x80 or above: a Shift_JIS lead byte or a half-width kana.
    const std::string jp_file = cp932(L"日本語ファイル.txt"), kana_file = cp932(L"ｱｲｳ.txt"), short_jp = cp932(L"日本");

    // CreateProcessA and CopyFileA read the built exe's path in the ANSI code page.
    char built[MAX_PATH];
    tavro_test::PathStatus status = tavro_test::ansi_path(TAVRO_EXE_PATH, built, sizeof built);
    ASSERT_EQ(status, tavro_test::PATH_OK) << tavro_test::path_problem(TAVRO_EXE_PATH, status);

    tavro_test::TempDir dir;
    const std::string programs[] = {
        built,
        dir.file(cp932(L"ツール")) + "\\tavro.exe",
        dir.file(cp932(L"データ 置き場")) + "\\tavro.exe",
    };
    for (const std::string &copy : {programs[JAPANESE_FOLDER], programs[JAPANESE_FOLDER_WITH_BLANK_QUOTED]}) {
        std::string folder = copy.substr(0, copy.rfind('\\'));
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) && CopyFileA(built, copy.c_str(), TRUE));
    }
    for (const std::string &name : {jp_file, kana_file, short_jp})
        ASSERT_TRUE(tavro_test::write_file(dir.file(name), "123456789"));

    const CommandLine cases[] = {
        {"no argument", BUILT_QUOTED, "", "", 0, nullptr, WM_CLOSE, 0},
        {"quoted path with blanks", BUILT_QUOTED, blank_then(in_quotes(jp)), jp, 1, nullptr, WM_SYSCOMMAND, SC_CLOSE},
        {"unquoted path with blanks", BUILT_QUOTED, " C:\\My Files\\a b.txt", "C:\\My Files\\a b.txt", 1, nullptr,
         WM_CLOSE, 0},
        {"two quoted names", BUILT_QUOTED, " \"a.txt\" \"b.txt\"", "a.txt\" \"b.txt", 1, nullptr, WM_SYSCOMMAND,
         SC_CLOSE},
        {"tail over 260", BUILT_QUOTED, blank_then(digits), digits.substr(0, 260), 1, nullptr, WM_CLOSE, 0},
        {"quoted, over 260", BUILT_QUOTED, blank_then(in_quotes(digits)), std::string(1, '"').append(digits, 0, 259), 1,
         nullptr, WM_SYSCOMMAND, SC_CLOSE},
        {"unquoted Japanese name", BUILT_QUOTED, blank_then(jp_file), jp_file, 1, "CBF43926", WM_CLOSE, 0},
        {"half-width kana first, after blanks and a tab", BUILT_QUOTED, std::string("  \t").append(kana_file),
         kana_file, 1, "CBF43926", WM_CLOSE, 0},
        {"two kanji", BUILT_QUOTED, blank_then(short_jp), short_jp, 1, "CBF43926", WM_SYSCOMMAND, SC_CLOSE},
        {"program in a Japanese folder, unquoted", JAPANESE_FOLDER, blank_then(jp_file), jp_file, 1, "CBF43926",
         WM_CLOSE, 0},
        {"program in a Japanese folder, no argument", JAPANESE_FOLDER, "", "", 0, nullptr, WM_CLOSE, 0},
        {"program in a Japanese folder with a blank, quoted", JAPANESE_FOLDER_WITH_BLANK_QUOTED, blank_then(short_jp),
         short_jp, 1, "CBF43926", WM_SYSCOMMAND, SC_CLOSE},
    };
    for (const CommandLine &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string &program = programs[c.program];
        std::string cmd = (c.program == JAPANESE_FOLDER ? program : in_quotes(program)) + c.after_program;
        Running run;
        bool up = start(program, cmd, dir.path(), &run);
        if (up) {
            EXPECT_EQ(box_text(run.hwnd, IDC_EDIT_FILE), c.box);
            EXPECT_EQ(file_set_of(run), c.file_set);
            if (c.crc32 != nullptr) {
                EXPECT_EQ(crc32_computed(run.hwnd), c.crc32);
            }
            PostMessageA(run.hwnd, c.close_msg, c.close_wparam, 0);
        }
        DWORD code = run.pi.hProcess ? finish(&run) : 12345;
        ASSERT_TRUE(up) << "no main window";
        EXPECT_EQ(code, 0u);
    }
}

} // namespace
