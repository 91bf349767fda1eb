// The real main window in this process: class, creation, controls, relayout, status bar, paint and close.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "shell.h"

#include <commctrl.h>

// Found by argument lookup, so they live beside CONTROL_RECT in the global namespace.
static bool operator==(const CONTROL_RECT &a, const CONTROL_RECT &b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

[[maybe_unused]] static void PrintTo(const CONTROL_RECT &r, std::ostream *os)
{
    *os << "{" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << "}";
}

namespace {

std::string cp932(const wchar_t *text)
{
    char buf[512];
    int n = WideCharToMultiByte(932, 0, text, -1, buf, sizeof buf, nullptr, nullptr);
    return n > 0 ? std::string(buf, n - 1) : std::string();
}

std::string window_text(HWND hwnd)
{
    char buf[512] = "";
    SendMessageA(hwnd, WM_GETTEXT, sizeof buf, (LPARAM)buf);
    return buf;
}

std::string status_text(HWND bar)
{
    char buf[512] = "";
    SendMessageA(bar, SB_GETTEXTA, 0, (LPARAM)buf);
    return buf;
}

std::string loaded(UINT id)
{
    char buf[256] = "";
    LoadStringA(GetModuleHandleA(nullptr), id, buf, sizeof buf);
    return buf;
}

CONTROL_RECT client_rect_of(HWND ctl)
{
    RECT r;
    GetWindowRect(ctl, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(ctl), (POINT *)&r, 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

int cell_height(HFONT font)
{
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return tm.tmHeight;
}

class MainWindow : public ::testing::Test {
  protected:
    HWND hwnd = nullptr;
    bool quit_seen = false;
    WPARAM quit_code = 99;

    void SetUp() override
    {
        g_instance = GetModuleHandleA(nullptr);
        g_file_name[0] = '\0';
        hwnd = create_main_window();
        ASSERT_NE(hwnd, nullptr);
        ShowWindow(hwnd, SW_SHOW);
        UpdateWindow(hwnd);
        pump();
    }

    void TearDown() override
    {
        if (IsWindow(hwnd))
            SendMessageA(hwnd, WM_CLOSE, 0, 0);
        pump();
        // The class keeps its brush for the process's life; the tests register it anew each time.
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        if (GetClassInfoExA(g_instance, "Default Class Name", &wc)) {
            UnregisterClassA("Default Class Name", g_instance);
            DeleteObject(wc.hbrBackground);
        }
    }

    void pump()
    {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit_seen = true;
                quit_code = msg.wParam;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    void resize(int w, int h)
    {
        SetWindowPos(hwnd, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        pump();
    }

    HWND bar() { return GetDlgItem(hwnd, IDC_STATUSBAR); }
};

TEST_F(MainWindow, ClassCarriesIconCursorMenuColourBrushAndProcedure)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    ASSERT_TRUE(GetClassInfoExA(g_instance, "Default Class Name", &wc));
    EXPECT_EQ(wc.style, (UINT)(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(wc.lpfnWndProc, &main_window_proc);
    EXPECT_EQ(wc.cbClsExtra, 0);
    EXPECT_EQ(wc.cbWndExtra, 0);
    EXPECT_EQ(wc.hInstance, g_instance);

    // Shared images come back as the very handles the class holds.
    HANDLE icon = LoadImageA(g_instance, MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(wc.hIcon, icon);
    EXPECT_EQ(wc.hIconSm, icon);
    EXPECT_EQ(wc.hCursor, LoadImageA(nullptr, MAKEINTRESOURCEA(32512), IMAGE_CURSOR, 0, 0, LR_SHARED | LR_DEFAULTSIZE));

    LOGBRUSH lb = {};
    ASSERT_EQ(GetObjectType(wc.hbrBackground), (DWORD)OBJ_BRUSH);
    GetObjectA(wc.hbrBackground, sizeof lb, &lb);
    EXPECT_EQ(lb.lbStyle, (UINT)BS_SOLID);
    EXPECT_EQ(lb.lbColor, GetSysColor(COLOR_MENU));
    ASSERT_NE(wc.lpszMenuName, nullptr);
    EXPECT_STREQ(wc.lpszMenuName, "MAINMENU");
}

TEST_F(MainWindow, OpensAs524By160TitledTavroWithMenuAndAcceptsDrops)
{
    EXPECT_EQ(window_text(hwnd), "tavro");
    RECT r;
    GetWindowRect(hwnd, &r);
    EXPECT_EQ(r.right - r.left, 524);
    EXPECT_EQ(r.bottom - r.top, 160);
    LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    EXPECT_EQ(style & ~(WS_VISIBLE | WS_CLIPSIBLINGS), (LONG)WS_OVERLAPPEDWINDOW);
    EXPECT_TRUE(style & WS_VISIBLE);
    EXPECT_EQ(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, WS_EX_ACCEPTFILES);
    EXPECT_EQ(GetParent(hwnd), nullptr);
    ASSERT_NE(GetMenu(hwnd), nullptr);
    EXPECT_EQ(GetMenuItemCount(GetMenu(hwnd)), 4);
    EXPECT_EQ(g_win_w, 524);
    EXPECT_EQ(g_win_h, 160);
    EXPECT_EQ(g_font_pt, 6);
}

TEST_F(MainWindow, StartsWithEmptyFileBoxClearFlagsAndBlankStatus)
{
    EXPECT_EQ(window_text(GetDlgItem(hwnd, IDC_EDIT_FILE)), "");
    EXPECT_EQ(g_file_set, 0);
    EXPECT_EQ(g_crc32_done, 0);
    EXPECT_EQ(g_md5_done, 0);
    EXPECT_EQ(g_sha1_done, 0);
    EXPECT_EQ(g_status_id, (UINT)IDS_BLANK);
    EXPECT_EQ(status_text(bar()), "");
    EXPECT_EQ(g_status_bar, bar());
}

struct ExpectedControl {
    int id;
    const char *cls;
    const wchar_t *text;
    LONG style;
    CONTROL_RECT at96;
};

const ExpectedControl kControls[] = {
    {IDC_LABEL_FILE, "Static", L"ファイル名", 0x50000100, {8, 4, 58, 12}},
    {IDC_LABEL_CRC32, "Static", L"CRC32値", 0x50000100, {16, 40, 53, 12}},
    {IDC_LABEL_MD5, "Static", L"MD5ハッシュ値", 0x50000100, {16, 58, 72, 12}},
    {IDC_LABEL_SHA1, "Static", L"SHA-1ハッシュ値", 0x50000100, {16, 77, 80, 12}},
    {IDC_EDIT_FILE, "Edit", L"", 0x50400080, {8, 16, 501, 16}},
    {IDC_EDIT_CRC32, "Edit", L"", 0x50400880, {90, 37, 56, 16}},
    {IDC_EDIT_MD5, "Edit", L"", 0x50400880, {90, 56, 200, 16}},
    {IDC_EDIT_SHA1, "Edit", L"", 0x50400880, {90, 74, 248, 16}},
    {IDC_CALC_CRC32, "Button", L"算出", 0x50010001, {346, 37, 37, 17}},
    {IDC_CALC_MD5, "Button", L"算出", 0x50010001, {346, 56, 37, 17}},
    {IDC_CALC_SHA1, "Button", L"算出", 0x50010001, {346, 74, 37, 17}},
    {IDC_CALC_ALL, "Button", L"全算出", 0x50010001, {389, 37, 40, 54}},
    {IDC_COPY_CRC32, "Button", L"CRC32をコピー", 0x50010001, {432, 37, 77, 17}},
    {IDC_COPY_MD5, "Button", L"MD5をコピー", 0x50010001, {432, 56, 77, 17}},
    {IDC_COPY_SHA1, "Button", L"SHA-1をコピー", 0x50010001, {432, 74, 77, 17}},
};

TEST_F(MainWindow, FifteenControlsInTableOrderThenTheStatusBar)
{
    ASSERT_EQ(window_dpi(hwnd), 96) << "the pixel rectangles below hold at 96 dpi";
    HWND child = GetWindow(hwnd, GW_CHILD);
    for (const ExpectedControl &e : kControls) {
        SCOPED_TRACE(e.id);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(GetDlgCtrlID(child), e.id);
        char cls[64] = "";
        GetClassNameA(child, cls, sizeof cls);
        EXPECT_STRCASEEQ(cls, e.cls);
        EXPECT_EQ(window_text(child), cp932(e.text));
        EXPECT_EQ(GetWindowLongA(child, GWL_STYLE), e.style);
        // The system adds the window edge to any window with a dialog frame; no client edge.
        EXPECT_EQ(GetWindowLongA(child, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE, 0);
        EXPECT_EQ(client_rect_of(child), e.at96);
        child = GetWindow(child, GW_HWNDNEXT);
    }
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetDlgCtrlID(child), IDC_STATUSBAR);
    EXPECT_EQ(GetWindow(child, GW_HWNDNEXT), nullptr);
}

TEST_F(MainWindow, TableTextsAndFaceNameAreCp932Bytes)
{
    for (size_t i = 0; i < std::size(kControls); ++i) {
        EXPECT_EQ(std::string(g_controls[i].text), cp932(kControls[i].text)) << i;
        EXPECT_EQ(g_controls[i].id, kControls[i].id);
    }
    EXPECT_EQ(g_controls[std::size(kControls)].id, IDC_END);
    EXPECT_STREQ(g_controls[0].text, "\x83\x74\x83\x40\x83\x43\x83\x8B\x96\xBC"); // ファイル名
    const char face[] = "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E";
    EXPECT_EQ(std::string(kUiFaceName), std::string(face, 15));
}

TEST_F(MainWindow, EveryControlUsesTheUiFontOfTenPixelCells)
{
    ASSERT_NE(g_font, nullptr);
    LOGFONTA lf = {};
    ASSERT_EQ(GetObjectA(g_font, sizeof lf, &lf), (int)sizeof lf);
    EXPECT_EQ(lf.lfHeight, 10);
    EXPECT_EQ(lf.lfWidth, 0);
    EXPECT_EQ(lf.lfWeight, FW_DONTCARE);
    EXPECT_EQ(lf.lfCharSet, SHIFTJIS_CHARSET);
    EXPECT_EQ(lf.lfQuality, ANTIALIASED_QUALITY);
    EXPECT_EQ(lf.lfPitchAndFamily, VARIABLE_PITCH | FF_DONTCARE);
    EXPECT_EQ(std::string(lf.lfFaceName), std::string(kUiFaceName));
    EXPECT_EQ(cell_height(g_font), 10);
    for (const ExpectedControl &e : kControls)
        EXPECT_EQ((HFONT)SendMessageA(GetDlgItem(hwnd, e.id), WM_GETFONT, 0, 0), g_font) << e.id;
    EXPECT_NE((HFONT)SendMessageA(bar(), WM_GETFONT, 0, 0), g_font);
}

struct Relayout {
    int w, h, pt, cell;
    CONTROL_RECT file_box, calc_all;
};

TEST_F(MainWindow, ResizingScalesControlsAndFont)
{
    const Relayout cases[] = {
        {1048, 320, 12, 21, {16, 32, 1002, 32}, {778, 74, 80, 109}},
        {1048, 160, 6, 10, {16, 16, 1002, 16}, {778, 37, 80, 54}},
        {700, 200, 7, 12, {10, 20, 669, 20}, {520, 46, 53, 68}},
        {524, 160, 6, 10, {8, 16, 501, 16}, {389, 37, 40, 54}},
    };
    for (const Relayout &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        resize(c.w, c.h);
        RECT r;
        GetWindowRect(hwnd, &r);
        ASSERT_EQ(r.right - r.left, c.w) << "the display is too small for this size";
        ASSERT_EQ(r.bottom - r.top, c.h);
        EXPECT_EQ(g_win_w, c.w);
        EXPECT_EQ(g_win_h, c.h);
        EXPECT_EQ(g_font_pt, c.pt);
        EXPECT_EQ(cell_height(g_font), c.cell);
        EXPECT_EQ(client_rect_of(GetDlgItem(hwnd, IDC_EDIT_FILE)), c.file_box);
        EXPECT_EQ(client_rect_of(GetDlgItem(hwnd, IDC_CALC_ALL)), c.calc_all);
        for (const CONTROL_INFO *t = g_controls; t->id != IDC_END; ++t)
            EXPECT_EQ(client_rect_of(GetDlgItem(hwnd, t->id)), layout_rect(*t, 96, c.w, c.h)) << t->id;
    }
}

TEST_F(MainWindow, MinimisingKeepsTheLayoutAndRestoringRedoesIt)
{
    resize(700, 200);
    HFONT before_min = g_font;
    CONTROL_RECT file_box = client_rect_of(GetDlgItem(hwnd, IDC_EDIT_FILE));
    ShowWindow(hwnd, SW_MINIMIZE);
    pump();
    EXPECT_EQ(g_font, before_min);
    EXPECT_EQ(g_font_pt, 7);
    EXPECT_EQ(client_rect_of(GetDlgItem(hwnd, IDC_EDIT_FILE)), file_box);

    ShowWindow(hwnd, SW_RESTORE);
    pump();
    EXPECT_NE(g_font, before_min);
    EXPECT_EQ(GetObjectType(before_min), 0u) << "the replaced font must be deleted";
    EXPECT_EQ(g_win_w, 700);
    EXPECT_EQ(g_font_pt, 7);
    EXPECT_EQ(client_rect_of(GetDlgItem(hwnd, IDC_EDIT_FILE)), file_box);
}

TEST_F(MainWindow, ManyRelayoutsLeaveExactlyOneUiFont)
{
    DWORD gdi_before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    std::vector<HFONT> seen;
    for (int i = 0; i < 30; ++i) {
        seen.push_back(g_font);
        resize(524 + 7 * i, 160 + 3 * i);
    }
    for (HFONT f : seen)
        EXPECT_EQ(GetObjectType(f), 0u);
    EXPECT_EQ(GetObjectType(g_font), (DWORD)OBJ_FONT);
    for (const CONTROL_INFO *t = g_controls; t->id != IDC_END; ++t)
        EXPECT_EQ((HFONT)SendMessageA(GetDlgItem(hwnd, t->id), WM_GETFONT, 0, 0), g_font);
    resize(524, 160);
    DWORD gdi_after = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (gdi_before != 0) {
        EXPECT_EQ(gdi_after, gdi_before);
    }
}

TEST_F(MainWindow, DraggingCannotShrinkTheWindowBelowBaseSize)
{
    // The window procedure applies the limit to the rectangle WM_SIZING hands it.
    RECT drag = {100, 100, 400, 200};
    SendMessageA(hwnd, WM_SIZING, WMSZ_BOTTOMRIGHT, (LPARAM)&drag);
    EXPECT_EQ(drag.right, 100 + 524);
    EXPECT_EQ(drag.bottom, 100 + 160);
}

TEST_F(MainWindow, StatusBarShowsEachTextAcrossItsWidth)
{
    EXPECT_TRUE(SendMessageA(bar(), SB_ISSIMPLE, 0, 0));
    for (UINT id = IDS_CALCULATING_CRC32; id <= IDS_FAILED_SHA1; ++id) {
        show_status(hwnd, id);
        ASSERT_FALSE(loaded(id).empty()) << id;
        EXPECT_EQ(status_text(bar()), loaded(id)) << id;
        EXPECT_EQ(g_status_id, id);
    }
    show_status(hwnd, IDS_BLANK);
    EXPECT_EQ(status_text(bar()), "");
    EXPECT_EQ(g_status_id, (UINT)IDS_BLANK);
}

TEST_F(MainWindow, StatusBarStaysDockedAlongTheBottom)
{
    const SIZE sizes[] = {{524, 160}, {1000, 600}, {700, 200}, {300, 100}, {524, 160}};
    for (SIZE s : sizes) {
        resize(s.cx, s.cy);
        RECT client, sb;
        GetClientRect(hwnd, &client);
        GetWindowRect(bar(), &sb);
        MapWindowPoints(HWND_DESKTOP, hwnd, (POINT *)&sb, 2);
        EXPECT_EQ(sb.left, 0) << s.cx << "x" << s.cy;
        EXPECT_EQ(sb.right, client.right) << s.cx << "x" << s.cy;
        EXPECT_EQ(sb.bottom, client.bottom) << s.cx << "x" << s.cy;
        EXPECT_GT(sb.bottom - sb.top, 0);
    }
    ShowWindow(hwnd, SW_MAXIMIZE);
    pump();
    RECT client, sb;
    GetClientRect(hwnd, &client);
    GetWindowRect(bar(), &sb);
    MapWindowPoints(HWND_DESKTOP, hwnd, (POINT *)&sb, 2);
    EXPECT_EQ(sb.right, client.right);
    EXPECT_EQ(sb.bottom, client.bottom);
}

TEST_F(MainWindow, StatusTextComesBackAfterTheWindowIsUncovered)
{
    show_status(hwnd, IDS_DONE_MD5);
    // Spoil the bar's text behind the shell's back: only a repaint from g_status_id restores it.
    SendMessageA(bar(), SB_SETTEXTA, SB_SIMPLEID, (LPARAM) "stale");
    // Wine keeps a top-level window's pixels when something covering it goes away, so it
    // does not invalidate; ask for the repaint that uncovering brings on Windows.
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    pump();
    EXPECT_EQ(status_text(bar()), loaded(IDS_DONE_MD5));
    EXPECT_EQ(g_status_id, (UINT)IDS_DONE_MD5);
}

// Counts the bar's text changes and the depth of the main window's paints during one refresh.
WNDPROC g_main_proc, g_bar_proc;
int g_paint_depth, g_paint_max_depth, g_bar_texts;

LRESULT CALLBACK counting_main_proc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m != WM_PAINT)
        return CallWindowProcA(g_main_proc, h, m, w, l);
    ++g_paint_depth;
    if (g_paint_depth > g_paint_max_depth)
        g_paint_max_depth = g_paint_depth;
    LRESULT res = g_paint_depth < 50 ? CallWindowProcA(g_main_proc, h, m, w, l) : 0;
    --g_paint_depth;
    return res;
}

LRESULT CALLBACK counting_bar_proc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m == SB_SETTEXTA)
        ++g_bar_texts;
    return CallWindowProcA(g_bar_proc, h, m, w, l);
}

TEST_F(MainWindow, OnePaintRequestShowsTheStatusOnce)
{
    show_status(hwnd, IDS_DONE_ALL);
    g_main_proc = (WNDPROC)SetWindowLongPtrA(hwnd, GWLP_WNDPROC, (LONG_PTR)counting_main_proc);
    g_bar_proc = (WNDPROC)SetWindowLongPtrA(bar(), GWLP_WNDPROC, (LONG_PTR)counting_bar_proc);
    g_paint_depth = g_paint_max_depth = g_bar_texts = 0;

    InvalidateRect(hwnd, nullptr, TRUE);
    UpdateWindow(hwnd);

    SetWindowLongPtrA(bar(), GWLP_WNDPROC, (LONG_PTR)g_bar_proc);
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, (LONG_PTR)g_main_proc);
    EXPECT_EQ(g_bar_texts, 1);
    EXPECT_LE(g_paint_max_depth, 2) << "a paint started from inside the paint handling recursed";
    RECT upd;
    EXPECT_FALSE(GetUpdateRect(hwnd, &upd, FALSE)) << "the paint must validate the window";
    EXPECT_EQ(status_text(bar()), loaded(IDS_DONE_ALL));
}

// A character drawn in `font` as pixels, black on white, with whatever fonts the system falls back
// to for it.
std::vector<uint32_t> drawn(HFONT font, wchar_t ch)
{
    const int side = 64;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = side;
    bi.bmiHeader.biHeight = -side;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) {
        DeleteDC(dc);
        ADD_FAILURE() << "no bitmap to draw on";
        return {};
    }
    HGDIOBJ old_bitmap = SelectObject(dc, bitmap), old_font = SelectObject(dc, font);
    RECT all = {0, 0, side, side};
    FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    TextOutW(dc, 4, 4, &ch, 1);
    GdiFlush();
    std::vector<uint32_t> pixels(static_cast<uint32_t *>(bits), static_cast<uint32_t *>(bits) + side * side);
    SelectObject(dc, old_font);
    SelectObject(dc, old_bitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return pixels;
}

std::wstring menu_texts(HMENU menu)
{
    std::wstring texts;
    for (int i = 0; i < GetMenuItemCount(menu); i++) {
        wchar_t text[128] = L"";
        GetMenuStringW(menu, i, text, std::size(text), MF_BYPOSITION);
        texts += text;
        if (HMENU sub = GetSubMenu(menu, i))
            texts += menu_texts(sub);
    }
    return texts;
}

std::wstring loaded_texts(UINT first, UINT last)
{
    std::wstring texts;
    for (UINT id = first; id <= last; id++) {
        wchar_t text[256] = L"";
        LoadStringW(GetModuleHandleA(nullptr), id, text, std::size(text));
        texts += text;
    }
    return texts;
}

// The system's fonts for menus, the status bar and message boxes come from the system, not tavro:
// one without Japanese glyphs (and no fallback with them) draws each character as its missing-glyph
// box, the same box as a code point no font has.
TEST_F(MainWindow, MenuStatusBarAndMessageBoxFontsDrawEveryJapaneseCharacter)
{
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
    HFONT menu_font = CreateFontIndirectW(&metrics.lfMenuFont);
    HFONT message_font = CreateFontIndirectW(&metrics.lfMessageFont);
    const struct {
        const char *where;
        HFONT font;
        std::wstring texts;
    } uses[] = {
        {"menu", menu_font, menu_texts(GetMenu(hwnd))},
        {"status bar", (HFONT)SendMessageA(bar(), WM_GETFONT, 0, 0),
         loaded_texts(IDS_CALCULATING_CRC32, IDS_FAILED_SHA1)},
        {"message box", message_font, loaded_texts(IDS_ABOUT, IDS_NO_SHA1)},
    };
    for (const auto &use : uses) {
        ASSERT_NE(use.font, nullptr) << use.where;
        ASSERT_GT(use.texts.size(), 20u) << use.where;
        std::vector<uint32_t> box = drawn(use.font, 0x0378); // unassigned
        std::set<wchar_t> chars(use.texts.begin(), use.texts.end());
        std::string boxed;
        for (wchar_t c : chars) {
            if (c >= 0x80 && c != 0x3000 && drawn(use.font, c) == box) { // U+3000 is a space
                char code[16];
                snprintf(code, sizeof code, " U+%04X", (unsigned)c);
                boxed += code;
            }
        }
        EXPECT_EQ(boxed, "") << "drawn as missing-glyph boxes in the " << use.where << " font";
    }
    DeleteObject(menu_font);
    DeleteObject(message_font);
}

struct CloseWay {
    const char *name;
    UINT msg;
    WPARAM wparam;
};

TEST_F(MainWindow, ClosingDeletesTheFontDestroysTheWindowAndQuitsWithZero)
{
    const CloseWay ways[] = {{"WM_CLOSE", WM_CLOSE, 0}, {"close box", WM_SYSCOMMAND, SC_CLOSE}};
    for (const CloseWay &way : ways) {
        SCOPED_TRACE(way.name);
        if (!IsWindow(hwnd)) {
            TearDown();
            quit_seen = false;
            SetUp();
        }
        HFONT font = g_font;
        HWND box = GetDlgItem(hwnd, IDC_EDIT_FILE);
        SendMessageA(hwnd, way.msg, way.wparam, 0);
        pump();
        EXPECT_FALSE(IsWindow(hwnd));
        EXPECT_FALSE(IsWindow(box));
        EXPECT_EQ(GetObjectType(font), 0u);
        EXPECT_TRUE(quit_seen);
        EXPECT_EQ(quit_code, 0u);
    }
}

TEST_F(MainWindow, NameGivenBeforeCreationLandsInTheFileBox)
{
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    TearDown();
    lstrcpyA(g_file_name, "C:\\data\\a b.txt");
    hwnd = create_main_window();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(window_text(GetDlgItem(hwnd, IDC_EDIT_FILE)), "C:\\data\\a b.txt");
    EXPECT_EQ(g_file_set, 1);
    g_file_name[0] = '\0';
}

} // namespace
