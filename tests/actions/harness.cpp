// The window-test harness: a fresh main window per test, a log of status texts and message boxes.
#include "harness.h"
#include "test_support.h"

#include <shlobj.h>
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <winternl.h>

#include <fstream>
#include <set>
#include <sstream>

std::string g_tavro_exe;
std::string g_clip_read_exe;

namespace {

struct TextName {
    UINT id;
    const char *name;
};
const TextName kTexts[] = {
    {IDS_BLANK, "BLANK"},
    {IDS_CALCULATING_CRC32, "CALCULATING_CRC32"},
    {IDS_CALCULATING_MD5, "CALCULATING_MD5"},
    {IDS_CALCULATING_SHA1, "CALCULATING_SHA1"},
    {IDS_DONE_CRC32, "DONE_CRC32"},
    {IDS_DONE_MD5, "DONE_MD5"},
    {IDS_DONE_SHA1, "DONE_SHA1"},
    {IDS_DONE_ALL, "DONE_ALL"},
    {IDS_COPIED_CRC32, "COPIED_CRC32"},
    {IDS_COPIED_MD5, "COPIED_MD5"},
    {IDS_COPIED_SHA1, "COPIED_SHA1"},
    {IDS_FAILED_CRC32, "FAILED_CRC32"},
    {IDS_FAILED_MD5, "FAILED_MD5"},
    {IDS_FAILED_SHA1, "FAILED_SHA1"},
    {IDS_ABOUT, "ABOUT"},
    {IDS_HELP, "HELP"},
    {IDS_BAD_FILE, "BAD_FILE"},
    {IDS_OPEN_FAILED, "OPEN_FAILED"},
    {IDS_ERR_CRC32, "ERR_CRC32"},
    {IDS_ERR_MD5, "ERR_MD5"},
    {IDS_ERR_SHA1, "ERR_SHA1"},
    {IDS_NO_CRC32, "NO_CRC32"},
    {IDS_NO_MD5, "NO_MD5"},
    {IDS_NO_SHA1, "NO_SHA1"},
};

const char *id_name(UINT id)
{
    for (const TextName &t : kTexts)
        if (t.id == id)
            return t.name;
    return "?";
}

// Names a text by the string-table entry it was loaded from; anything else shows as it is.
std::string text_name(const char *text)
{
    for (const TextName &t : kTexts) {
        char loaded[1000] = "";
        LoadStringA(GetModuleHandleA(NULL), t.id, loaded, sizeof loaded);
        if (strcmp(loaded, text) == 0)
            return t.name;
    }
    return std::string("?") + text;
}

Events g_events;
DialogPlan g_plan;
HHOOK g_hook;
std::set<HWND> g_answered;
int g_paint_depth;
WNDPROC g_main_proc, g_bar_proc;

constexpr int kFileNameBox = 0x47c; // the open dialog's file-name combo box (cmb13)

void answer_dialog(HWND dlg)
{
    char text[1000] = "";
    if (GetDlgItem(dlg, kFileNameBox) != NULL) {
        g_plan.seen++;
        GetDlgItemTextA(dlg, kFileNameBox, text, sizeof text);
        g_plan.initial_name = text;
        if (g_plan.cancel) {
            PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
        } else {
            SetDlgItemTextA(dlg, kFileNameBox, g_plan.name.c_str());
            PostMessageA(dlg, WM_COMMAND, IDOK, 0);
        }
        return;
    }
    GetDlgItemTextA(dlg, 0xFFFF, text, sizeof text);
    char caption[256] = "";
    GetWindowTextA(dlg, caption, sizeof caption);
    std::string event = "box:" + text_name(text);
    if (strcmp(caption, "tavro") != 0)
        event += std::string(" captioned ") + caption;
    g_events.push_back(event);
    PostMessageA(dlg, WM_COMMAND, IDOK, 0);
}

// Every modal box of the test thread is answered the moment it becomes active.
LRESULT CALLBACK cbt_hook(int code, WPARAM wparam, LPARAM lparam)
{
    if (code == HCBT_ACTIVATE) {
        HWND dlg = (HWND)wparam;
        char cls[32] = "";
        GetClassNameA(dlg, cls, sizeof cls);
        if (strcmp(cls, "#32770") == 0 && g_answered.insert(dlg).second)
            answer_dialog(dlg);
    } else if (code == HCBT_DESTROYWND) {
        g_answered.erase((HWND)wparam);
    }
    return CallNextHookEx(g_hook, code, wparam, lparam);
}

// The paint handling shows the current text again; only texts set outside a paint are the actions'.
LRESULT CALLBACK main_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    if (msg != WM_PAINT)
        return CallWindowProcA(g_main_proc, hwnd, msg, wparam, lparam);
    g_paint_depth++;
    LRESULT r = CallWindowProcA(g_main_proc, hwnd, msg, wparam, lparam);
    g_paint_depth--;
    return r;
}

LRESULT CALLBACK bar_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    if (msg == SB_SETTEXTA && g_paint_depth == 0)
        g_events.push_back("status:" + text_name((const char *)lparam));
    return CallWindowProcA(g_bar_proc, hwnd, msg, wparam, lparam);
}

} // namespace

std::string status(UINT id) { return std::string("status:") + id_name(id); }
std::string box(UINT id) { return std::string("box:") + id_name(id); }

std::string dos_path(const std::string &unix_path)
{
    std::string p = "Z:" + unix_path;
    for (char &c : p)
        if (c == '/')
            c = '\\';
    return p;
}

std::string in_quotes(const std::string &text)
{
    std::string q(1, '"');
    q += text;
    q += '"';
    return q;
}

std::string data_path(const std::string &name)
{
    char full[MAX_PATH] = "";
    GetFullPathNameA(name.c_str(), MAX_PATH, full, NULL);
    return full;
}

const std::vector<Expected> &expected_digests()
{
    static std::vector<Expected> all;
    if (all.empty()) {
        std::ifstream in("expected.txt");
        // "name size crc32 md5 sha1"; the window shows CRC-32 in upper case.
        Expected e;
        unsigned long long size;
        while (in >> e.name >> size >> e.crc32 >> e.md5 >> e.sha1) {
            for (char &c : e.crc32)
                c = (char)toupper((unsigned char)c);
            all.push_back(e);
        }
    }
    return all;
}

Expected expected(const std::string &name)
{
    for (const Expected &e : expected_digests())
        if (e.name == name)
            return e;
    ADD_FAILURE() << name << " is missing from expected.txt";
    return {};
}

void ShellWindow::SetUp()
{
    g_instance = GetModuleHandleA(NULL);
    g_file_name[0] = '\0';
    hwnd = create_main_window();
    ASSERT_NE(hwnd, (HWND)NULL);
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    g_main_proc = (WNDPROC)SetWindowLongPtrA(hwnd, GWLP_WNDPROC, (LONG_PTR)main_proc);
    g_bar_proc = (WNDPROC)SetWindowLongPtrA(GetDlgItem(hwnd, IDC_STATUSBAR), GWLP_WNDPROC, (LONG_PTR)bar_proc);
    g_hook = SetWindowsHookExA(WH_CBT, cbt_hook, NULL, GetCurrentThreadId());
    ASSERT_NE(g_hook, (HHOOK)NULL);
    g_events.clear();
    g_plan = DialogPlan();
}

void ShellWindow::TearDown()
{
    if (g_hook != NULL)
        UnhookWindowsHookEx(g_hook);
    g_hook = NULL;
    if (IsWindow(hwnd))
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
    // Take the quit message the window posted, so that no later modal loop sees it.
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        if (msg.message != WM_QUIT)
            DispatchMessageA(&msg);
    UnregisterClassA("Default Class Name", g_instance);
}

void ShellWindow::command(int id, int notification)
{
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, notification), (LPARAM)GetDlgItem(hwnd, id));
}

void ShellWindow::drop(const std::vector<std::string> &names)
{
    // As the platform builds it: DROPFILES, then the names, each terminated, and one more NUL.
    size_t size = sizeof(DROPFILES) + 1;
    for (const std::string &n : names)
        size += n.size() + 1;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    ASSERT_NE(block, (HGLOBAL)NULL);
    DROPFILES *df = (DROPFILES *)GlobalLock(block);
    df->pFiles = sizeof(DROPFILES);
    df->fWide = FALSE;
    char *p = (char *)(df + 1);
    for (const std::string &n : names) {
        memcpy(p, n.c_str(), n.size() + 1);
        p += n.size() + 1;
    }
    GlobalUnlock(block);
    SendMessageA(hwnd, WM_DROPFILES, (WPARAM)block, 0);
    EXPECT_EQ(GlobalFlags(block), (UINT)GMEM_INVALID_HANDLE) << "the drop was not finished (DragFinish)";
}

void ShellWindow::give_file(const std::string &name)
{
    drop({name});
    g_events.clear();
}

void ShellWindow::type_file(const std::string &name) { SetDlgItemTextA(hwnd, IDC_EDIT_FILE, name.c_str()); }

std::string ShellWindow::text(int control)
{
    char buf[1000] = "";
    GetDlgItemTextA(hwnd, control, buf, sizeof buf);
    return buf;
}

Events ShellWindow::take_events()
{
    Events e;
    e.swap(g_events);
    return e;
}

DialogPlan &ShellWindow::dialog() { return g_plan; }

ClipboardHolder::ClipboardHolder()
{
    ready_ = CreateEventA(NULL, TRUE, FALSE, NULL);
    release_ = CreateEventA(NULL, TRUE, FALSE, NULL);
    thread_ = CreateThread(NULL, 0, hold, this, 0, NULL);
    WaitForSingleObject(ready_, 10000);
}

DWORD WINAPI ClipboardHolder::hold(void *arg)
{
    ClipboardHolder *self = (ClipboardHolder *)arg;
    HWND owner = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    OpenClipboard(owner);
    SetEvent(self->ready_);
    WaitForSingleObject(self->release_, INFINITE);
    CloseClipboard();
    DestroyWindow(owner);
    return 0;
}

ClipboardHolder::~ClipboardHolder()
{
    SetEvent(release_);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(release_);
    CloseHandle(ready_);
}

std::string clipboard_text()
{
    std::string text = "<none>";
    if (!OpenClipboard(NULL))
        return "<not opened>";
    HANDLE data = GetClipboardData(CF_TEXT);
    if (data != NULL) {
        const char *p = (const char *)GlobalLock(data);
        if (p != NULL)
            text.assign(p, strnlen(p, GlobalSize(data)));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

void set_clipboard_text(const char *text)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, strlen(text) + 1);
    memcpy(GlobalLock(block), text, strlen(text) + 1);
    GlobalUnlock(block);
    if (!OpenClipboard(NULL)) {
        GlobalFree(block);
        return;
    }
    EmptyClipboard();
    SetClipboardData(CF_TEXT, block);
    CloseClipboard();
}

int process_handles()
{
    // GetProcessHandleCount answers 0 under Wine; the system handle list is counted instead.
    struct Entry {
        ULONG pid;
        BYTE type, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    typedef LONG(WINAPI * Query)(ULONG, void *, ULONG, ULONG *);
    Query query = (Query)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    std::vector<char> buf(1 << 20);
    ULONG got = 0;
    LONG rc;
    while ((rc = query(16 /* SystemHandleInformation */, buf.data(), buf.size(), &got)) ==
           (LONG)0xC0000004 /* STATUS_INFO_LENGTH_MISMATCH */)
        buf.resize(buf.size() * 2);
    if (rc != 0) {
        DWORD count = 0;
        GetProcessHandleCount(GetCurrentProcess(), &count);
        return (int)count;
    }
    ULONG n = *(ULONG *)buf.data();
    const Entry *e = (const Entry *)(buf.data() + sizeof(ULONG));
    int mine = 0;
    for (ULONG i = 0; i < n; i++)
        if (e[i].pid == GetCurrentProcessId())
            mine++;
    return mine;
}

int gdi_objects()
{
    // GetGuiResources answers 0 under Wine; Wine's shared GDI handle table, reached from the process
    // block, shows every object in use (its entries are 24 bytes, unlike Windows' 16).
    struct Entry {
        uint64_t object;
        USHORT pid, count, unique;
        UCHAR type, flags;
        uint64_t user;
    } __attribute__((packed));
    static_assert(sizeof(Entry) == 24);
    PROCESS_BASIC_INFORMATION info = {};
    NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof info, NULL);
    const BYTE *peb = (const BYTE *)info.PebBaseAddress;
    const Entry *table = peb != NULL ? *(const Entry *const *)(peb + 0x94) : NULL; // GdiSharedHandleTable
    if (table == NULL)
        return (int)GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    int n = 0;
    for (int i = 0; i < 0x10000; i++)
        if (table[i].type != 0)
            n++;
    return n;
}

// Without a window manager on the test display, Wine waits two seconds for every destroyed window
// to be withdrawn by one. Windows that Wine's X driver leaves unmanaged go at once; the driver reads
// that setting (per program, in the prefix) when the process starts, so the first run that sets it
// starts the program again. Answers -1 when this process may go on, else the restarted one's code.
static int leave_windows_unmanaged()
{
    char exe[MAX_PATH] = "";
    GetModuleFileNameA(NULL, exe, sizeof exe);
    const char *slash = strrchr(exe, '\\');
    std::string key = std::string("Software\\Wine\\AppDefaults\\") + (slash != NULL ? slash + 1 : exe);
    key += "\\X11 Driver";
    char value[8] = "";
    DWORD size = sizeof value;
    if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), "Managed", RRF_RT_REG_SZ, NULL, value, &size) == 0 &&
        strcmp(value, "N") == 0)
        return -1;
    HKEY h;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &h, NULL) != 0)
        return -1;
    RegSetValueExA(h, "Managed", 0, REG_SZ, (const BYTE *)"N", 2);
    RegCloseKey(h);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::string cmd = GetCommandLineA();
    if (!CreateProcessA(NULL, &cmd[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi))
        return -1;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)code;
}

// ctest hands the programs' paths and the data folder (the working directory) over through Wine,
// which gives them to this process in the ANSI code page: a character the code page lacks would
// arrive as another one, and the tests would fail far from the cause. false after one line that says
// which path cannot arrive.
static bool arrived_whole()
{
    int n = 0;
    LPWSTR *args = CommandLineToArgvW(GetCommandLineW(), &n);
    if (args == NULL)
        return true;
    wchar_t dir[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, dir);
    bool whole = true;
    for (int i = 1; i <= n && whole; ++i) {
        char utf8[4 * MAX_PATH];
        char ansi[2 * MAX_PATH];
        if (WideCharToMultiByte(CP_UTF8, 0, i < n ? args[i] : dir, -1, utf8, sizeof utf8, NULL, NULL) <= 0)
            continue;
        tavro_test::PathStatus status = tavro_test::ansi_path(utf8, ansi, sizeof ansi);
        if (status == tavro_test::PATH_NOT_IN_ANSI) {
            fprintf(stderr, "%s\n", tavro_test::path_problem(utf8, status).c_str());
            whole = false;
        }
    }
    LocalFree(args);
    return whole;
}

int main(int argc, char **argv)
{
    if (!arrived_whole())
        return 1;
    int restarted = leave_windows_unmanaged();
    if (restarted >= 0)
        return restarted;
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 2) {
        g_tavro_exe = dos_path(argv[1]);
        g_clip_read_exe = dos_path(argv[2]);
    }
    return RUN_ALL_TESTS();
}
