// Commands, dropped files, the open dialog and the clipboard export (placeholder until the actions land).
#include "shell.h"

void on_command(HWND, WPARAM, LPARAM) {}
void on_drop_files(HWND, HDROP) {}
int copy_text_to_clipboard(const char *) { return 3; }
