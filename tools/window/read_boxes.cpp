// Prints the three result boxes of a running tavro, waiting until they are filled: read_boxes.exe [SECONDS].
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "ids.h"

int main(int argc, char **argv)
{
    int wait_ms = (argc > 1 ? atoi(argv[1]) : 30) * 1000;
    const int boxes[] = {IDC_EDIT_CRC32, IDC_EDIT_MD5, IDC_EDIT_SHA1};
    const char *labels[] = {"CRC32", "MD5", "SHA-1"};
    char texts[3][64];
    for (int waited = 0;; waited += 100) {
        HWND main = FindWindowA("Default Class Name", "tavro");
        int filled = 0;
        for (int i = 0; i < 3; i++) {
            texts[i][0] = '\0';
            // Another process's edit box answers WM_GETTEXT, not GetWindowTextA.
            if (main != NULL)
                SendMessageA(GetDlgItem(main, boxes[i]), WM_GETTEXT, sizeof texts[i], (LPARAM)texts[i]);
            filled += texts[i][0] != '\0';
        }
        if (filled == 3 || waited >= wait_ms) {
            for (int i = 0; i < 3; i++)
                printf("%-6s %s\n", labels[i], texts[i]);
            return filled == 3 ? 0 : 1;
        }
        Sleep(100);
    }
}
