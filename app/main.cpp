// Program entry: takes the file name from the command line, shows the main window and runs the loop.
#include <shlwapi.h>

#include "shell.h"

// The command line after the program's name and the blanks and tabs that follow it. Bytes are
// tested as unsigned: a Shift_JIS lead byte (0x81 and up) is part of a name, never a blank. No
// trail byte of code page 932 is a blank, a tab or a double quote, so a byte-wise scan is exact.
static const char *command_line_tail(const char *line)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(line);
    if (*p == '"') {
        // A quoted name ends at the next double quote, blanks and all.
        ++p;
        while (*p != '\0' && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p != '\0' && *p != ' ' && *p != '\t')
            ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return reinterpret_cast<const char *>(p);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    g_instance = instance;

    // The whole tail is one file name; the cut comes first, so an over-long quoted name
    // keeps its opening quote. The runtime's own tail is not used: it takes every byte of
    // 0x80 and up for a blank and so cuts Japanese names.
    g_file_name[0] = '\0';
    lstrcpynA(g_file_name, command_line_tail(GetCommandLineA()), kMaxFileName + 1);
    PathUnquoteSpacesA(g_file_name);

    HWND hwnd = create_main_window();
    if (hwnd == nullptr)
        return 0;
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
