// The user's actions one by one, and the open dialog's records, for the window tests and tools.
#ifndef TAVRO_ACTIONS_H
#define TAVRO_ACTIONS_H

#include <windows.h>

#include <commdlg.h>

#include "shell.h"

// Each takes the main window. A compute action needs g_file_set == 1 and reads the file box afresh;
// a copy action needs its done flag; a clear action empties its box and drops its flag.
void choose_file(HWND hwnd);
void calc_crc32(HWND hwnd);
void calc_md5(HWND hwnd);
void calc_sha1(HWND hwnd);
void calc_all(HWND hwnd);
void copy_crc32(HWND hwnd);
void copy_md5(HWND hwnd);
void copy_sha1(HWND hwnd);
void clear_crc32(HWND hwnd);
void clear_md5(HWND hwnd);
void clear_sha1(HWND hwnd);
void show_help(HWND hwnd);
void show_about(HWND hwnd);

// copy_text_to_clipboard (declared in shell.h) answers one of these. On CLIP_NOT_TAKEN the clipboard
// was opened and emptied but refused the text, and the block has been given back.
enum { CLIP_OK = 1, CLIP_NO_MEMORY = 2, CLIP_NOT_OPENED = 3, CLIP_NOT_TAKEN = 4 };

// The open dialog's record, its filter list (also its custom-filter buffer) and its file-name buffer,
// kept for the whole run so that each dialog starts where the last one ended.
extern OPENFILENAMEA g_ofn;
extern char g_file_filter[kMaxFileName];
extern char g_ofn_file[kMaxFileName];

#endif
