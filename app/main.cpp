// Program entry: takes the file name from the command line, shows the main window and runs the loop.
#include <shlwapi.h>

#include "shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmd_line, int)
{
    g_instance = instance;

    // The whole tail is one file name; the cut comes first, so an over-long quoted name
    // keeps its opening quote.
    g_file_name[0] = '\0';
    lstrcpynA(g_file_name, cmd_line, kMaxFileName + 1);
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
