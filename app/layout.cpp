// The control table, the UI font, the relayout on every size change and the drag limits.
#include "shell.h"

// CP932 bytes, as every text of this file (compiled with that execution charset).
const char kUiFaceName[] = "ＭＳ Ｐゴシック";

// Positions and sizes in points at the base window size; table order is creation order.
const CONTROL_INFO g_controls[] = {
    {"ファイル名", IDC_LABEL_FILE, "STATIC", 0x50000100, 6, 3, 44, 9},
    {"CRC32値", IDC_LABEL_CRC32, "STATIC", 0x50000100, 12, 30, 40, 9},
    {"MD5ハッシュ値", IDC_LABEL_MD5, "STATIC", 0x50000100, 12, 44, 54, 9},
    {"SHA-1ハッシュ値", IDC_LABEL_SHA1, "STATIC", 0x50000100, 12, 58, 60, 9},
    {"", IDC_EDIT_FILE, "EDIT", 0x50400080, 6, 12, 376, 12},
    {"", IDC_EDIT_CRC32, "EDIT", 0x50400880, 68, 28, 42, 12},
    {"", IDC_EDIT_MD5, "EDIT", 0x50400880, 68, 42, 150, 12},
    {"", IDC_EDIT_SHA1, "EDIT", 0x50400880, 68, 56, 186, 12},
    {"算出", IDC_CALC_CRC32, "BUTTON", 0x50010001, 260, 28, 28, 13},
    {"算出", IDC_CALC_MD5, "BUTTON", 0x50010001, 260, 42, 28, 13},
    {"算出", IDC_CALC_SHA1, "BUTTON", 0x50010001, 260, 56, 28, 13},
    {"全算出", IDC_CALC_ALL, "BUTTON", 0x50010001, 292, 28, 30, 41},
    {"CRC32をコピー", IDC_COPY_CRC32, "BUTTON", 0x50010001, 324, 28, 58, 13},
    {"MD5をコピー", IDC_COPY_MD5, "BUTTON", 0x50010001, 324, 42, 58, 13},
    {"SHA-1をコピー", IDC_COPY_SHA1, "BUTTON", 0x50010001, 324, 56, 58, 13},
    {"", IDC_END, "", 0, 0, 0, 0, 0},
};

int window_dpi(HWND hwnd)
{
    HDC dc = GetDC(hwnd);
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(hwnd, dc);
    return dpi;
}

// Each value is stretched in points first, then converted once, so the base size gives
// exactly the creation geometry.
CONTROL_RECT layout_rect(const CONTROL_INFO &ctl, int dpi, int win_w, int win_h)
{
    CONTROL_RECT r;
    r.x = dpi * (ctl.x * win_w / kBaseWinW) / 72;
    r.y = dpi * (ctl.y * win_h / kBaseWinH) / 72;
    r.width = dpi * (ctl.width * win_w / kBaseWinW) / 72;
    r.height = dpi * (ctl.height * win_h / kBaseWinH) / 72;
    return r;
}

// Comparing W/524 with H/160 is the same as comparing 160W with 524H, without rounding.
int font_point_size(int win_w, int win_h)
{
    if (kBaseWinH * win_w >= kBaseWinW * win_h)
        return kBaseFontPt * win_h / kBaseWinH;
    return kBaseFontPt * win_w / kBaseWinW;
}

int font_cell_height(int dpi, int pt) { return (dpi * pt / 72) * dpi / 72; }

HFONT create_ui_font(HWND hwnd, int size, const char *face_name)
{
    int dpi = window_dpi(hwnd);
    return CreateFontA(size * dpi / 72, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH | FF_DONTCARE, face_name);
}

HWND create_control(HWND parent, HFONT font, const char *text, int id, const char *class_name, DWORD style, int x,
                    int y, int width, int height)
{
    int dpi = window_dpi(parent);
    HWND ctl = CreateWindowExA(0, class_name, text, style, x * dpi / 72, y * dpi / 72, width * dpi / 72,
                               height * dpi / 72, parent, (HMENU)(INT_PTR)id, g_instance, nullptr);
    SendMessageA(ctl, WM_SETFONT, (WPARAM)font, 1);
    return ctl;
}

void create_controls(HWND hwnd, HFONT font)
{
    for (const CONTROL_INFO *c = g_controls; c->id != IDC_END; ++c)
        create_control(hwnd, font, c->text, c->id, c->class_name, c->style, c->x, c->y, c->width, c->height);
}

void on_size(HWND hwnd, WPARAM size_type, LPARAM client_size, HFONT *font)
{
    if (size_type == SIZE_RESTORED || size_type == SIZE_MAXIMIZED) {
        RECT wr;
        GetWindowRect(hwnd, &wr);
        g_win_w = wr.right - wr.left;
        g_win_h = wr.bottom - wr.top;
        g_font_pt = font_point_size(g_win_w, g_win_h);

        int dpi = window_dpi(hwnd);
        HFONT old_font = *font;
        *font = create_ui_font(hwnd, dpi * g_font_pt / 72, kUiFaceName);
        for (const CONTROL_INFO *c = g_controls; c->id != IDC_END; ++c) {
            CONTROL_RECT r = layout_rect(*c, dpi, g_win_w, g_win_h);
            HWND ctl = GetDlgItem(hwnd, c->id);
            MoveWindow(ctl, r.x, r.y, r.width, r.height, TRUE);
            SendMessageA(ctl, WM_SETFONT, (WPARAM)*font, 1);
        }
        // Only now does no control refer to the old font any more.
        if (old_font != nullptr)
            DeleteObject(old_font);
    }
    SendMessageA(GetDlgItem(hwnd, IDC_STATUSBAR), WM_SIZE, size_type, client_size);
}

void on_sizing(HWND, WPARAM edge, RECT *drag)
{
    if (drag->right - drag->left < kBaseWinW) {
        if (edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT)
            drag->left = drag->right - kBaseWinW;
        else if (edge == WMSZ_RIGHT || edge == WMSZ_TOPRIGHT || edge == WMSZ_BOTTOMRIGHT)
            drag->right = drag->left + kBaseWinW;
    }
    if (drag->bottom - drag->top < kBaseWinH) {
        if (edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT)
            drag->top = drag->bottom - kBaseWinH;
        else if (edge == WMSZ_BOTTOM || edge == WMSZ_BOTTOMLEFT || edge == WMSZ_BOTTOMRIGHT)
            drag->bottom = drag->top + kBaseWinH;
    }
}
