// The main window: its class, creation sequence, message dispatch, painting and closing.
#include "shell.h"

#include <commctrl.h>

HINSTANCE g_instance;
char g_file_name[kMaxFileName + 1];
int g_file_set;
int g_crc32_done, g_md5_done, g_sha1_done;
UINT g_status_id;
HFONT g_font;
HWND g_status_bar;
int g_win_w, g_win_h, g_font_pt;

static const char kClassName[] = "Default Class Name";
static const char kTitle[] = "tavro";

// show_status refreshes the window while on_paint has not yet validated it; this marks
// that refresh so the paint it triggers is only validated, not handled a second time.
static bool s_in_paint;

HWND create_main_window(void)
{
    WNDCLASSEXA wc = {};
    HICON icon =
        (HICON)LoadImageA(g_instance, MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE);
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = main_window_proc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = g_instance;
    wc.hIcon = icon;
    wc.hIconSm = icon;
    wc.hCursor = (HCURSOR)LoadImageA(nullptr, MAKEINTRESOURCEA(32512), IMAGE_CURSOR, 0, 0, LR_SHARED | LR_DEFAULTSIZE);
    wc.hbrBackground = CreateSolidBrush(GetSysColor(COLOR_MENU));
    wc.lpszMenuName = "MAINMENU";
    wc.lpszClassName = kClassName;
    if (RegisterClassExA(&wc) == 0) {
        // The class did not take the brush, so it is still ours.
        DeleteObject(wc.hbrBackground);
        return nullptr;
    }
    return CreateWindowExA(WS_EX_ACCEPTFILES, kClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           kBaseWinW, kBaseWinH, nullptr, nullptr, g_instance, nullptr);
}

void reset_state(void)
{
    g_status_id = IDS_BLANK;
    g_crc32_done = 0;
    g_md5_done = 0;
    g_sha1_done = 0;
}

static void on_create(HWND hwnd)
{
    g_win_w = kBaseWinW;
    g_win_h = kBaseWinH;
    g_font_pt = kBaseFontPt;
    InitCommonControls();
    g_font = create_ui_font(hwnd, window_dpi(hwnd) * g_font_pt / 72, kUiFaceName);
    create_controls(hwnd, g_font);
    g_status_bar = create_status_bar(hwnd);
    if (g_file_name[0] != '\0') {
        g_file_set = 1;
        SetDlgItemTextA(hwnd, IDC_EDIT_FILE, g_file_name);
    } else {
        g_file_set = 0;
        SetDlgItemTextA(hwnd, IDC_EDIT_FILE, "");
    }
    reset_state();
}

void on_paint(HWND hwnd)
{
    if (!s_in_paint) {
        s_in_paint = true;
        show_status(hwnd, g_status_id);
        s_in_paint = false;
    }
    PAINTSTRUCT ps;
    BeginPaint(hwnd, &ps);
    EndPaint(hwnd, &ps);
}

void on_close(HWND hwnd)
{
    DeleteObject(g_font);
    g_font = nullptr;
    DestroyWindow(hwnd);
}

LRESULT CALLBACK main_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case WM_CREATE:
        on_create(hwnd);
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        on_size(hwnd, wparam, lparam, &g_font);
        break;
    case WM_PAINT:
        on_paint(hwnd);
        break;
    case WM_CLOSE:
        on_close(hwnd);
        break;
    case WM_COMMAND:
        on_command(hwnd, wparam, lparam);
        break;
    case WM_SIZING:
        on_sizing(hwnd, wparam, (RECT *)lparam);
        break;
    case WM_DROPFILES:
        on_drop_files(hwnd, (HDROP)wparam);
        break;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}
