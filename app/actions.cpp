// Commands, dropped files, the open dialog and the clipboard export: everything the user can make tavro do.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <windows.h>

#include <shellapi.h>

#include "actions.h"
#include "crc32.h"
#include "md5.h"
#include "sha1.h"

// The filter list doubles as the custom-filter buffer, so the dialog may write into it.
char g_file_filter[kMaxFileName] = "すべてのファイル\0*.*";
static_assert(sizeof("すべてのファイル\0*.*") == 21, "the shell is compiled with -fexec-charset=CP932");
char g_ofn_file[kMaxFileName];
OPENFILENAMEA g_ofn;
static_assert(sizeof(OPENFILENAMEA) == 88, "the dialog record must carry its full size");

constexpr int kClipboardCopy = 5000; // characters of the clipboard working copy
constexpr int kResultText = 41;      // the longest result, 40 digits, and its terminator

// Runs one engine on an open handle in a record of its own frame; on RC_OK the value's text is in `text`.
typedef int (*ENGINE_RUN)(HANDLE file_h, char text[kResultText]);

static int run_crc32(HANDLE file_h, char text[kResultText])
{
    CRC32_INFO info;
    crc32_init(&info);
    crc32_set_input(&info, file_h);
    int rc = crc32_calc(&info);
    if (rc == RC_OK) {
        uint32_t value = 0;
        crc32_get(&info, &value);
        snprintf(text, kResultText, "%08X", (unsigned)value);
    }
    return rc;
}

static int run_md5(HANDLE file_h, char text[kResultText])
{
    MD5_INFO info;
    md5_init(&info);
    md5_set_input(&info, file_h);
    int rc = md5_calc(&info);
    if (rc == RC_OK)
        md5_get_string(&info, text);
    return rc;
}

static int run_sha1(HANDLE file_h, char text[kResultText])
{
    SHA1_INFO info;
    sha1_init(&info);
    sha1_set_input(&info, file_h);
    int rc = sha1_calc(&info);
    if (rc == RC_OK)
        sha1_get_string(&info, text);
    return rc;
}

// One result row of the window: how its value is computed, where it is shown and what the user is told.
struct VALUE_ROW {
    ENGINE_RUN run;
    int box;           // result box
    int *done;         // 1 while the box holds a value computed for the current file
    int copy_limit;    // GetWindowTextA limit for the copy: the digits and a terminator
    UINT first_status; // shown before the file is opened
    UINT calculating;  // shown once the file is open, while the engine reads it
    UINT done_status;
    UINT error_message;
    UINT failed_status;
    UINT not_computed;
    UINT copied_status;
};

static constexpr VALUE_ROW g_value_rows[] = {
    {run_crc32, IDC_EDIT_CRC32, &g_crc32_done, 9, IDS_BLANK, IDS_CALCULATING_CRC32, IDS_DONE_CRC32, IDS_ERR_CRC32,
     IDS_FAILED_CRC32, IDS_NO_CRC32, IDS_COPIED_CRC32},
    {run_md5, IDC_EDIT_MD5, &g_md5_done, 33, IDS_CALCULATING_MD5, IDS_CALCULATING_MD5, IDS_DONE_MD5, IDS_ERR_MD5,
     IDS_FAILED_MD5, IDS_NO_MD5, IDS_COPIED_MD5},
    {run_sha1, IDC_EDIT_SHA1, &g_sha1_done, 41, IDS_CALCULATING_SHA1, IDS_CALCULATING_SHA1, IDS_DONE_SHA1, IDS_ERR_SHA1,
     IDS_FAILED_SHA1, IDS_NO_SHA1, IDS_COPIED_SHA1},
};
enum { ROW_CRC32, ROW_MD5, ROW_SHA1, ROW_COUNT };
static_assert(sizeof(g_value_rows) / sizeof(g_value_rows[0]) == ROW_COUNT);
static constexpr bool copies_fit()
{
    for (const VALUE_ROW &row : g_value_rows)
        if (row.copy_limit > kResultText)
            return false;
    return true;
}
static_assert(copies_fit(), "a copy reads no more than the result buffer holds");

static void clear_value(HWND hwnd, const VALUE_ROW &row)
{
    *row.done = 0;
    SetDlgItemTextA(hwnd, row.box, "");
    UpdateWindow(hwnd); // the emptied box shows before a long computation blocks the window
}

static void calc_value(HWND hwnd, const VALUE_ROW &row)
{
    if (g_file_set != 1) {
        show_message(hwnd, IDS_BAD_FILE);
        return;
    }
    show_status(hwnd, row.first_status);
    clear_value(hwnd, row);

    char name[kMaxFileName + 1] = "";
    GetWindowTextA(GetDlgItem(hwnd, IDC_EDIT_FILE), name, kMaxFileName + 1);
    // No sharing: nobody may change the file while it is read.
    HANDLE file_h = CreateFileA(name, GENERIC_READ, 0, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file_h == INVALID_HANDLE_VALUE) {
        show_message(hwnd, IDS_OPEN_FAILED);
        return;
    }
    show_status(hwnd, row.calculating);

    char text[kResultText] = "";
    if (row.run(file_h, text) == RC_OK) {
        SetDlgItemTextA(hwnd, row.box, text);
        UpdateWindow(hwnd);
        *row.done = 1;
        show_status(hwnd, row.done_status);
    } else {
        show_message(hwnd, row.error_message);
        show_status(hwnd, row.failed_status);
    }
    CloseHandle(file_h);
}

static void copy_value(HWND hwnd, const VALUE_ROW &row)
{
    if (*row.done != 1) {
        show_message(hwnd, row.not_computed);
        return;
    }
    char text[kResultText] = "";
    GetWindowTextA(GetDlgItem(hwnd, row.box), text, row.copy_limit);
    // A failed export shows nothing: no text exists for it, and the missing copied status tells the user.
    if (copy_text_to_clipboard(text) == CLIP_OK)
        show_status(hwnd, row.copied_status);
}

void calc_crc32(HWND hwnd) { calc_value(hwnd, g_value_rows[ROW_CRC32]); }
void calc_md5(HWND hwnd) { calc_value(hwnd, g_value_rows[ROW_MD5]); }
void calc_sha1(HWND hwnd) { calc_value(hwnd, g_value_rows[ROW_SHA1]); }
void copy_crc32(HWND hwnd) { copy_value(hwnd, g_value_rows[ROW_CRC32]); }
void copy_md5(HWND hwnd) { copy_value(hwnd, g_value_rows[ROW_MD5]); }
void copy_sha1(HWND hwnd) { copy_value(hwnd, g_value_rows[ROW_SHA1]); }
void clear_crc32(HWND hwnd) { clear_value(hwnd, g_value_rows[ROW_CRC32]); }
void clear_md5(HWND hwnd) { clear_value(hwnd, g_value_rows[ROW_MD5]); }
void clear_sha1(HWND hwnd) { clear_value(hwnd, g_value_rows[ROW_SHA1]); }

void calc_all(HWND hwnd)
{
    if (g_file_set != 1) {
        show_message(hwnd, IDS_BAD_FILE); // once, not once per value
        return;
    }
    // Each value runs to its end whatever the one before did; each reports its own failure.
    for (const VALUE_ROW &row : g_value_rows)
        calc_value(hwnd, row);
    if (g_crc32_done == 1 && g_md5_done == 1 && g_sha1_done == 1)
        show_status(hwnd, IDS_DONE_ALL);
}

// A new file name: the old results belong to another file.
static void take_file_name(HWND hwnd, const char *name)
{
    SetDlgItemTextA(hwnd, IDC_EDIT_FILE, name);
    g_file_set = 1;
    clear_crc32(hwnd);
    clear_md5(hwnd);
    clear_sha1(hwnd);
    show_status(hwnd, IDS_BLANK);
}

void choose_file(HWND hwnd)
{
    g_ofn.lStructSize = sizeof(g_ofn);
    g_ofn.hwndOwner = hwnd;
    g_ofn.lpstrFilter = g_file_filter;
    // The same buffer as the filter list: the pattern last used becomes the next dialog's first filter.
    g_ofn.lpstrCustomFilter = g_file_filter;
    g_ofn.nMaxCustFilter = kMaxFileName;
    g_ofn.nFilterIndex = 0;
    g_ofn.lpstrFile = g_ofn_file; // keeps the last name, which the next dialog starts with
    g_ofn.nMaxFile = kMaxFileName;
    g_ofn.Flags = OFN_FILEMUSTEXIST;
    if (GetOpenFileNameA(&g_ofn) == 0)
        return;
    take_file_name(hwnd, g_ofn_file);
}

void on_drop_files(HWND hwnd, HDROP drop)
{
    char name[kMaxFileName] = "";
    DragQueryFileA(drop, 0, name, kMaxFileName); // only the first of several files is taken
    DragFinish(drop);
    take_file_name(hwnd, name);
}

void show_help(HWND hwnd) { show_message(hwnd, IDS_HELP); }
void show_about(HWND hwnd) { show_message(hwnd, IDS_ABOUT); }

static void exit_app(HWND hwnd) { SendMessageA(hwnd, WM_CLOSE, 0, 0); }

int copy_text_to_clipboard(const char *text)
{
    char work[kClipboardCopy];
    lstrcpynA(work, text, kClipboardCopy);
    size_t n = strlen(work);

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, 2 * n + 1);
    if (block == NULL)
        return CLIP_NO_MEMORY;
    char *dest = (char *)GlobalLock(block);
    if (dest == NULL) {
        GlobalFree(block);
        return CLIP_NO_MEMORY;
    }
    // Zeros after the terminator too: Wine hands X clients the whole block, not the text up to the NUL.
    memset(dest, 0, 2 * n + 1);
    memcpy(dest, work, n + 1);
    GlobalUnlock(block);

    if (!OpenClipboard(NULL)) {
        GlobalFree(block);
        return CLIP_NOT_OPENED;
    }
    EmptyClipboard();
    if (SetClipboardData(CF_TEXT, block) == NULL) {
        // Refused: the block is still ours, and nothing was copied.
        CloseClipboard();
        GlobalFree(block);
        return CLIP_NOT_TAKEN;
    }
    CloseClipboard(); // the block is the clipboard's from here on
    return CLIP_OK;
}

// A button and its menu item run the same action; 0 stands for "no button".
struct COMMAND_ROW {
    int button;
    int menu_item;
    void (*action)(HWND hwnd);
};

static const COMMAND_ROW g_commands[] = {
    {0, IDM_OPEN, choose_file},
    {0, IDM_EXIT, exit_app},
    {IDC_CALC_ALL, IDM_CALC_ALL, calc_all},
    {IDC_CALC_CRC32, IDM_CALC_CRC32, calc_crc32},
    {IDC_CALC_MD5, IDM_CALC_MD5, calc_md5},
    {IDC_CALC_SHA1, IDM_CALC_SHA1, calc_sha1},
    {IDC_COPY_CRC32, IDM_COPY_CRC32, copy_crc32},
    {IDC_COPY_MD5, IDM_COPY_MD5, copy_md5},
    {IDC_COPY_SHA1, IDM_COPY_SHA1, copy_sha1},
    {0, IDM_HELP, show_help},
    {0, IDM_ABOUT, show_about},
};

void on_command(HWND hwnd, WPARAM wparam, LPARAM)
{
    // The notification code in the high word does not matter; a click and a menu pick run alike.
    int id = LOWORD(wparam);
    if (id == 0)
        return;
    for (const COMMAND_ROW &row : g_commands) {
        if (row.button == id || row.menu_item == id) {
            row.action(hwnd);
            return;
        }
    }
}
