// The rest of the command table (help, version, exit, unknown commands) and what repetition costs.
#include <string.h>

#include "harness.h"

namespace {

class Commands : public ShellWindow {};

TEST_F(Commands, HelpAndVersionShowTheirTextsAndChangeNothing)
{
    give_file(data_path("check.txt"));
    command(IDC_CALC_CRC32);
    take_events();
    command(IDM_HELP);
    command(IDM_ABOUT);
    EXPECT_EQ(take_events(), (Events{box(IDS_HELP), box(IDS_ABOUT)}));
    EXPECT_EQ(g_status_id, (UINT)IDS_DONE_CRC32);
    EXPECT_EQ(text(IDC_EDIT_CRC32), "CBF43926");
}

TEST_F(Commands, CommandsOutsideTheTableDoNothing)
{
    give_file(data_path("check.txt"));
    command(IDC_CALC_ALL);
    take_events();
    // A label click, the file box's change notice, the status bar, ids near real ones, and nothing.
    command(IDC_LABEL_FILE);
    command(IDC_EDIT_FILE, EN_CHANGE);
    command(IDC_EDIT_CRC32, EN_SETFOCUS);
    command(IDC_STATUSBAR);
    command(IDM_OPEN + 1);
    command(IDM_CALC_SHA1 + 1);
    command(0);
    command(0xFFFF);
    EXPECT_EQ(take_events(), Events{});
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(g_status_id, (UINT)IDS_DONE_ALL);
    EXPECT_EQ(g_crc32_done + g_md5_done + g_sha1_done, 3);
}

TEST_F(Commands, NotificationCodeInHighWordIsIgnored)
{
    give_file(data_path("check.txt"));
    command(IDC_CALC_CRC32, BN_DOUBLECLICKED);
    EXPECT_EQ(text(IDC_EDIT_CRC32), "CBF43926");
}

// One round of everything a user does; the first round loads the system's own lazily made objects.
class Repetition : public ShellWindow {
  protected:
    void round()
    {
        give_file(data_path("rand_32769.bin"));
        command(IDC_CALC_ALL);
        command(IDC_COPY_CRC32);
        command(IDM_COPY_MD5);
        command(IDC_COPY_SHA1);
        type_file(data_path("no such file.bin"));
        command(IDM_CALC_ALL);
        command(IDM_HELP);
        // The open dialog is left out: Wine's own dialog keeps a registry key open per use (after
        // OK always, after cancel in a new prefix), while our side of it holds no handle at all.
        take_events();
    }
};

TEST_F(Repetition, RepeatedActionsKeepNoMoreHandlesOrGdiObjects)
{
    round();
    round();
    int handles = process_handles(), gdi = gdi_objects();
    ASSERT_GT(handles, 0) << "this platform counts no handles";
    for (int i = 0; i < 10; i++)
        round();
    EXPECT_LE(process_handles(), handles);
    EXPECT_LE(gdi_objects(), gdi);
}

// tavro.exe as its own process, driven by posted messages so that a crash would show.
class Program : public ::testing::Test {
  protected:
    void start(const std::string &args)
    {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        std::string cmd = in_quotes(g_tavro_exe) + " " + args;
        ASSERT_TRUE(CreateProcessA(NULL, &cmd[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi_));
        WaitForInputIdle(pi_.hProcess, 10000);
        for (int i = 0; i < 100 && window_ == NULL; i++) {
            EnumWindows(find_main_window, (LPARAM)this);
            if (window_ == NULL)
                Sleep(100);
        }
        ASSERT_NE(window_, (HWND)NULL);
    }
    static BOOL CALLBACK find_main_window(HWND w, LPARAM self)
    {
        Program *p = (Program *)self;
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        char cls[64] = "";
        GetClassNameA(w, cls, sizeof cls);
        if (pid != p->pi_.dwProcessId || strcmp(cls, "Default Class Name") != 0)
            return TRUE;
        p->window_ = w;
        return FALSE;
    }
    // The exit code, or STILL_ACTIVE when the process has not ended within the wait.
    DWORD exit_code(DWORD wait_ms)
    {
        WaitForSingleObject(pi_.hProcess, wait_ms);
        DWORD code = 0;
        GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }
    std::string box_text(int id)
    {
        char buf[64] = "";
        SendMessageA(GetDlgItem(window_, id), WM_GETTEXT, sizeof buf, (LPARAM)buf);
        return buf;
    }
    void TearDown() override
    {
        if (pi_.hProcess != NULL) {
            if (exit_code(0) == STILL_ACTIVE)
                TerminateProcess(pi_.hProcess, 1);
            CloseHandle(pi_.hThread);
            CloseHandle(pi_.hProcess);
        }
    }
    PROCESS_INFORMATION pi_ = {};
    HWND window_ = NULL;
};

TEST_F(Program, ExitFromTheMenuEndsWithCodeZero)
{
    start("");
    PostMessageA(window_, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(exit_code(10000), 0u);
}

TEST_F(Program, UnknownCommandsLeaveItRunning)
{
    start("");
    for (int id : {IDC_LABEL_MD5, IDC_END, 12345, 0})
        PostMessageA(window_, WM_COMMAND, id, 0);
    EXPECT_EQ(exit_code(1000), (DWORD)STILL_ACTIVE);
    PostMessageA(window_, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(exit_code(10000), 0u);
}

TEST_F(Program, FileFromTheCommandLineIsComputedByTheMenu)
{
    start(in_quotes(data_path("check.txt")));
    SendMessageA(window_, WM_COMMAND, IDM_CALC_ALL, 0);
    EXPECT_EQ(box_text(IDC_EDIT_CRC32), "CBF43926");
    EXPECT_EQ(box_text(IDC_EDIT_MD5), "25f9e794323b453885f5181f1b624d0b");
    EXPECT_EQ(box_text(IDC_EDIT_SHA1), "f7c3bc1d808e04732adf679965ccc34ca7ae3441");
    PostMessageA(window_, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(exit_code(10000), 0u);
}

} // namespace
