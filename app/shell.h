// The shell's process-wide state and the routines its files call in one another.
#ifndef TAVRO_SHELL_H
#define TAVRO_SHELL_H

#include <windows.h>

#include "ids.h"

constexpr int kMaxFileName = 260; // characters of a file name, terminator not counted
constexpr int kBaseWinW = 524;    // base outer window size in pixels
constexpr int kBaseWinH = 160;
constexpr int kBaseFontPt = 6; // base UI font size in points

// Process-wide state of the one main window (entry and window: main_window.cpp).
extern HINSTANCE g_instance;
extern char g_file_name[kMaxFileName + 1];
extern int g_file_set;
extern int g_crc32_done, g_md5_done, g_sha1_done;
extern UINT g_status_id;
extern HFONT g_font;
extern HWND g_status_bar;
extern int g_win_w, g_win_h, g_font_pt;

// main_window.cpp
HWND create_main_window(void);
LRESULT CALLBACK main_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
void reset_state(void);
void on_paint(HWND hwnd);
void on_close(HWND hwnd);

// layout.cpp: control table, UI font, relayout and drag limits.
struct CONTROL_INFO {
    char text[256]; // CP932, NUL-terminated
    int id;         // IDC_END ends the table
    char class_name[32];
    DWORD style;
    int x, y, width, height; // points at the base window size
};
extern const CONTROL_INFO g_controls[];
extern const char kUiFaceName[]; // face name of the UI font, CP932
HFONT create_ui_font(HWND hwnd, int size, const char *face_name);
HWND create_control(HWND parent, HFONT font, const char *text, int id, const char *class_name, DWORD style, int x,
                    int y, int width, int height);
void create_controls(HWND hwnd, HFONT font);
void on_size(HWND hwnd, WPARAM size_type, LPARAM client_size, HFONT *font);
void on_sizing(HWND hwnd, WPARAM edge, RECT *drag);

// The layout arithmetic, pure in the display resolution and the outer window size.
struct CONTROL_RECT {
    int x, y, width, height; // pixels in the main window's client area
};
// Vertical resolution of the window's display; the context is released right after the query.
int window_dpi(HWND hwnd);
// Where a table entry goes at this resolution and outer window size.
CONTROL_RECT layout_rect(const CONTROL_INFO &ctl, int dpi, int win_w, int win_h);
// UI font size in points for an outer window size: the smaller of the two stretch factors.
int font_point_size(int win_w, int win_h);
// Cell height in pixels of the font made for a point size (the size is converted twice).
int font_cell_height(int dpi, int pt);

// status.cpp: status bar and message boxes.
HWND create_status_bar(HWND hwnd);
void show_status(HWND hwnd, UINT id);
int show_message(HWND owner, UINT id);

// actions.cpp: commands, drops, the open dialog and the clipboard.
void on_command(HWND hwnd, WPARAM wparam, LPARAM lparam);
void on_drop_files(HWND hwnd, HDROP drop);
int copy_text_to_clipboard(const char *text);

#endif
