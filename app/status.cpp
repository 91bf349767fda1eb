// The status bar and the message boxes: every text the user reads comes from the string table here.
#include "shell.h"

#include <commctrl.h>

HWND create_status_bar(HWND hwnd)
{
    HWND bar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | CCS_BOTTOM, "", hwnd, IDC_STATUSBAR);
    // Texts go to part 255, which the bar draws only in simple mode; with no parts defined
    // simple mode is also the one text field across the whole bar.
    SendMessageA(bar, SB_SIMPLE, TRUE, 0);
    show_status(hwnd, IDS_BLANK);
    return bar;
}

void show_status(HWND hwnd, UINT id)
{
    char text[256];
    text[0] = '\0';
    LoadStringA(g_instance, id, text, sizeof text);
    SendMessageA(GetDlgItem(hwnd, IDC_STATUSBAR), SB_SETTEXTA, SB_SIMPLEID, (LPARAM)text);
    g_status_id = id;
    UpdateWindow(hwnd);
}

int show_message(HWND owner, UINT id)
{
    char text[1000];
    text[0] = '\0';
    LoadStringA(g_instance, id, text, sizeof text);
    return MessageBoxA(owner, text, "tavro", MB_OK);
}
