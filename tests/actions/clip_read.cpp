// Prints the clipboard's CF_TEXT between brackets, as a second process sees it.
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main()
{
    if (!OpenClipboard(NULL)) {
        printf("<not opened>");
        return 1;
    }
    HANDLE data = GetClipboardData(CF_TEXT);
    const char *text = data != NULL ? (const char *)GlobalLock(data) : NULL;
    if (text != NULL)
        printf("[%.*s]", (int)strnlen(text, GlobalSize(data)), text);
    else
        printf("<none>");
    if (text != NULL)
        GlobalUnlock(data);
    CloseClipboard();
    return 0;
}
