// tavro.exe's own resources read back raw: strings, menu, icon group and images, version block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include "ids.h"
#include "test_support.h"

namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

// The version as the build gives it, in bare numbers (app/CMakeLists.txt), and as text.
#define TAVRO_TEXT(x) #x
#define TAVRO_TEXT_OF(x) TAVRO_TEXT(x)
#define TAVRO_VERSION_TEXT L"" TAVRO_TEXT_OF(TAVRO_VERSION)

class Resources : public ::testing::Test {
  protected:
    static HMODULE exe;
    static tavro_test::PathStatus exe_path;
    static void SetUpTestSuite()
    {
        wchar_t path[MAX_PATH];
        exe_path = tavro_test::wide_path(TAVRO_EXE_PATH, path, MAX_PATH);
        if (exe_path == tavro_test::PATH_OK)
            exe = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite()
    {
        if (exe != nullptr)
            FreeLibrary(exe);
        exe = nullptr;
    }
    void SetUp() override
    {
        ASSERT_EQ(exe_path, tavro_test::PATH_OK) << tavro_test::path_problem(TAVRO_EXE_PATH, exe_path);
        ASSERT_NE(exe, nullptr) << TAVRO_EXE_PATH;
    }

    // Bytes of one resource in Japanese; empty when it is missing.
    static std::vector<BYTE> raw(LPCWSTR type, LPCWSTR name)
    {
        HRSRC res = FindResourceExW(exe, type, name, kJapanese);
        if (res == nullptr)
            return {};
        const BYTE *p = (const BYTE *)LockResource(LoadResource(exe, res));
        return std::vector<BYTE>(p, p + SizeofResource(exe, res));
    }
};
HMODULE Resources::exe;
tavro_test::PathStatus Resources::exe_path;

std::wstring load_w(HMODULE m, UINT id)
{
    const wchar_t *p = nullptr;
    int n = LoadStringW(m, id, (LPWSTR)&p, 0);
    return n > 0 ? std::wstring(p, n) : std::wstring();
}

// For failure messages: text as UTF-8, which the test log is read in.
std::string utf8_of(const std::wstring &w)
{
    std::string u(w.size() * 3, '\0');
    u.resize(WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), u.data(), (int)u.size(), nullptr, nullptr));
    return u;
}

// Code page 932 bytes as UTF-8.
std::string utf8_of(const std::string &cp932)
{
    std::wstring w(cp932.size(), L'\0');
    w.resize(MultiByteToWideChar(932, 0, cp932.data(), (int)cp932.size(), w.data(), (int)w.size()));
    return utf8_of(w);
}

// A text read back against the one wanted; a failure shows both, as text.
::testing::AssertionResult same_text(const std::wstring &got, const std::wstring &want)
{
    if (got == want)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got \"" << utf8_of(got) << "\", want \"" << utf8_of(want) << "\"";
}

struct Text {
    UINT id;
    const wchar_t *text;
};

// \u2026 ellipsis, \uFF01 full-width exclamation, \uFF1A full-width colon, \u3000 ideographic space.
const Text kStrings[] = {
    {IDS_BLANK, L""},
    {IDS_CALCULATING_CRC32, L"CRC32値を計算中です\u2026"},
    {IDS_CALCULATING_MD5, L"MD5ハッシュ値を計算中です\u2026"},
    {IDS_CALCULATING_SHA1, L"SHA-1ハッシュ値を計算中です\u2026"},
    {IDS_DONE_CRC32, L"CRC32値を算出しました"},
    {IDS_DONE_MD5, L"MD5ハッシュ値を算出しました"},
    {IDS_DONE_SHA1, L"SHA-1ハッシュ値を算出しました"},
    {IDS_DONE_ALL, L"全て算出しました"},
    {IDS_COPIED_CRC32, L"CRC32値をクリップボードにコピーしました"},
    {IDS_COPIED_MD5, L"MD5ハッシュ値をクリップボードにコピーしました"},
    {IDS_COPIED_SHA1, L"SHA-1ハッシュ値をクリップボードにコピーしました"},
    {IDS_FAILED_CRC32, L"CRC32値を算出できませんでした"},
    {IDS_FAILED_MD5, L"MD5ハッシュ値を算出できませんでした"},
    {IDS_FAILED_SHA1, L"SHA-1ハッシュ値を算出できませんでした"},
    {IDS_ABOUT,
     L"tavro バージョン " TAVRO_TEXT_OF(TAVRO_VERSION) "\nファイルの CRC32 値、MD5 と SHA-1 のハッシュ値を算出します"},
    {IDS_HELP, L"\u3000使い方は、見ればおおむね分かると思いますが、\n"
               L"細かいところは同梱の _README.txt をご覧\nください。"},
    {IDS_BAD_FILE, L"ファイルの指定が正しくありません\uFF01"},
    {IDS_OPEN_FAILED, L"ファイルがオープン出来ません\uFF01"},
    {IDS_ERR_CRC32, L"内部エラー\uFF1ACRC32 値の計算に失敗しました"},
    {IDS_ERR_MD5, L"内部エラー\uFF1AMD5 ハッシュの計算に失敗しました"},
    {IDS_ERR_SHA1, L"内部エラー\uFF1ASHA-1 ハッシュの計算に失敗しました"},
    {IDS_NO_CRC32, L"CRC32値が未計算です\uFF01"},
    {IDS_NO_MD5, L"MD5ハッシュが未計算です\uFF01"},
    {IDS_NO_SHA1, L"SHA-1ハッシュが未計算です\uFF01"},
};

TEST_F(Resources, EveryStringHasItsExactJapaneseText)
{
    for (const Text &t : kStrings)
        EXPECT_TRUE(same_text(load_w(exe, t.id), t.text)) << "string " << t.id;
    // Nothing else sits in the numbering range of the table.
    for (UINT id = 40100; id <= 40299; ++id) {
        bool known = false;
        for (const Text &t : kStrings)
            known = known || t.id == id;
        if (!known) {
            EXPECT_TRUE(same_text(load_w(exe, id), L"")) << "string " << id << ", not in the table";
        }
    }
}

TEST_F(Resources, StatusAndMessageTextsLoadAsShiftJis)
{
    char buf[256];
    ASSERT_GT(LoadStringA(exe, IDS_BAD_FILE, buf, sizeof buf), 0);
    // ファイルの指定が正しくありません！ in code page 932.
    EXPECT_STREQ(buf, "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xCC\x8E\x77\x92\xE8\x82\xAA\x90\xB3"
                      "\x82\xB5\x82\xAD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81\x49");
}

TEST_F(Resources, AboutTextNamesTavroAndBreaksAfterTheVersion)
{
    std::wstring about = load_w(exe, IDS_ABOUT);
    EXPECT_NE(about.find(L"tavro"), std::wstring::npos);
    size_t brk = about.find(L'\n');
    ASSERT_NE(brk, std::wstring::npos);
    const std::wstring version = TAVRO_VERSION_TEXT;
    ASSERT_GE(brk, version.size());
    EXPECT_EQ(about.substr(brk - version.size(), version.size()), version);
    EXPECT_EQ(about.find(L'\r'), std::wstring::npos);
}

// The manual beside tavro.exe quotes the program's texts between 「 and 」, and nothing else: a
// line break inside a quote is where the message box breaks the line. Both sides are compared as
// code page 932 bytes, the bytes LoadStringA gives the status bar and the message box.
TEST_F(Resources, ReadmeIsShiftJisWithCrlfAndQuotesEveryShownTextExactly)
{
    wchar_t path[MAX_PATH];
    tavro_test::PathStatus status = tavro_test::wide_path(TAVRO_README_PATH, path, MAX_PATH);
    ASSERT_EQ(status, tavro_test::PATH_OK) << tavro_test::path_problem(TAVRO_README_PATH, status);
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << TAVRO_README_PATH;
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(text.empty());
    EXPECT_GT(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text.data(), (int)text.size(), nullptr, 0), 0)
        << "not code page 932";

    // Trail bytes of code page 932 start at 0x40, so CR and LF are never part of a character.
    for (size_t i = 0; i < text.size(); ++i) {
        bool lone_lf = text[i] == '\n' && (i == 0 || text[i - 1] != '\r');
        bool lone_cr = text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n');
        ASSERT_FALSE(lone_lf || lone_cr) << "line end without CRLF at byte " << i;
    }

    std::set<std::string> quoted;
    std::string quote;
    bool open = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsDBCSLeadByteEx(932, (BYTE)text[i]) && i + 1 < text.size()) {
            std::string c = text.substr(i++, 2);
            if (c == "\x81\x75") { // 「
                ASSERT_FALSE(open) << "「 inside a quote, after " << utf8_of(quote);
                open = true;
                quote.clear();
            } else if (c == "\x81\x76") { // 」
                ASSERT_TRUE(open) << "」 without 「 at byte " << i;
                open = false;
                quoted.insert(quote);
            } else if (open) {
                quote += c;
            }
        } else if (open && text[i] != '\r') {
            quote += text[i];
        }
    }
    ASSERT_FALSE(open) << "unclosed quote: " << utf8_of(quote);

    // Every text of the table that the program can show: status texts and message-box texts.
    std::set<std::string> shown;
    for (UINT id = 40100; id <= 40299; ++id) {
        char buf[1000];
        int n = LoadStringA(exe, id, buf, sizeof buf);
        if (n > 0)
            shown.insert(std::string(buf, n));
    }
    ASSERT_FALSE(shown.empty());
    for (const std::string &q : quoted)
        EXPECT_TRUE(shown.count(q)) << "quoted, but not a text of the program: " << utf8_of(q);
    for (const std::string &s : shown)
        EXPECT_TRUE(quoted.count(s)) << "shown by the program, but not quoted: " << utf8_of(s);
}

struct Item {
    const wchar_t *text; // nullptr: separator
    UINT id;
};
struct Popup {
    const wchar_t *text;
    std::vector<Item> items;
};

TEST_F(Resources, MenuHasFourPopupsWithTheirItemsAndSeparators)
{
    const Popup want[] = {
        {L"ファイル(&F)", {{L"開く(&O)", IDM_OPEN}, {nullptr, 0}, {L"終了(&X)", IDM_EXIT}}},
        {L"算出(&L)",
         {{L"全て(&A)", IDM_CALC_ALL},
          {nullptr, 0},
          {L"CRC32(&C)", IDM_CALC_CRC32},
          {L"MD5(&M)", IDM_CALC_MD5},
          {L"SHA-1(&S)", IDM_CALC_SHA1}}},
        {L"編集(&E)",
         {{L"CRC32をコピー(&C)", IDM_COPY_CRC32},
          {L"MD5をコピー(&M)", IDM_COPY_MD5},
          {L"SHA-1をコピー(&S)", IDM_COPY_SHA1}}},
        {L"ヘルプ(&H)", {{L"ヘルプ(&H)", IDM_HELP}, {nullptr, 0}, {L"バージョン情報(&A)", IDM_ABOUT}}},
    };
    ASSERT_FALSE(raw(MAKEINTRESOURCEW(4), L"MAINMENU").empty()) << "no Japanese MAINMENU";
    HMENU menu = LoadMenuW(exe, L"MAINMENU");
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 4);
    for (int p = 0; p < 4; ++p) {
        wchar_t text[64] = L"";
        MENUITEMINFOW mi = {};
        mi.cbSize = sizeof mi;
        mi.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING | MIIM_SUBMENU;
        mi.dwTypeData = text;
        mi.cch = 64;
        ASSERT_TRUE(GetMenuItemInfoW(menu, p, TRUE, &mi));
        EXPECT_TRUE(same_text(text, want[p].text)) << p;
        EXPECT_EQ(mi.fState, 0u);
        ASSERT_NE(mi.hSubMenu, nullptr);
        ASSERT_EQ(GetMenuItemCount(mi.hSubMenu), (int)want[p].items.size()) << p;
        for (int i = 0; i < (int)want[p].items.size(); ++i) {
            const Item &w = want[p].items[i];
            wchar_t itext[64] = L"";
            MENUITEMINFOW ii = {};
            ii.cbSize = sizeof ii;
            ii.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING | MIIM_ID | MIIM_SUBMENU;
            ii.dwTypeData = itext;
            ii.cch = 64;
            ASSERT_TRUE(GetMenuItemInfoW(mi.hSubMenu, i, TRUE, &ii));
            EXPECT_EQ(ii.hSubMenu, nullptr);
            if (w.text == nullptr) {
                EXPECT_TRUE(ii.fType & MFT_SEPARATOR) << p << "/" << i;
            } else {
                EXPECT_EQ(ii.fState, 0u) << p << "/" << i;
                EXPECT_FALSE(ii.fType & MFT_SEPARATOR) << p << "/" << i;
                EXPECT_TRUE(same_text(itext, w.text)) << p << "/" << i;
                EXPECT_EQ(ii.wID, w.id) << p << "/" << i;
            }
        }
    }
    DestroyMenu(menu);
}

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)
static_assert(sizeof(GroupEntry) == 14, "icon group directory entry");

TEST_F(Resources, IconGroupListsNineImagesWithTheirDirectoryValues)
{
    std::vector<BYTE> group = raw(MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(IDI_MAIN));
    ASSERT_EQ(group.size(), 6u + 9 * sizeof(GroupEntry));
    const WORD *head = (const WORD *)group.data();
    EXPECT_EQ(head[0], 0);
    EXPECT_EQ(head[1], 1);
    ASSERT_EQ(head[2], 9);
    struct {
        int size, colours, dir_bits, real_bits;
    } want[] = {
        {48, 16, 4, 4}, {32, 16, 4, 4},  {16, 16, 4, 4},  {48, 0, 24, 8},  {32, 0, 24, 8},
        {16, 0, 24, 8}, {48, 0, 24, 32}, {32, 0, 24, 32}, {16, 0, 24, 32},
    };
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(i + 1);
        GroupEntry e;
        memcpy(&e, group.data() + 6 + i * sizeof e, sizeof e);
        EXPECT_EQ(e.width, want[i].size);
        EXPECT_EQ(e.height, want[i].size);
        EXPECT_EQ(e.colours, want[i].colours);
        EXPECT_EQ(e.planes, 1);
        EXPECT_EQ(e.bit_count, want[i].dir_bits);
        EXPECT_EQ(e.id, i + 1);

        // The image itself: an uncompressed bitmap of the real depth with its 1-bit mask.
        std::vector<BYTE> img = raw(MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(e.id));
        ASSERT_EQ(img.size(), e.bytes);
        BITMAPINFOHEADER bi;
        ASSERT_GE(img.size(), sizeof bi);
        memcpy(&bi, img.data(), sizeof bi);
        int s = want[i].size, bits = want[i].real_bits;
        EXPECT_EQ(bi.biSize, 40u);
        EXPECT_EQ(bi.biWidth, s);
        EXPECT_EQ(bi.biHeight, 2 * s);
        EXPECT_EQ(bi.biPlanes, 1);
        EXPECT_EQ(bi.biBitCount, bits);
        EXPECT_EQ(bi.biCompression, (DWORD)BI_RGB);
        size_t palette = bits <= 8 ? (size_t)4 << bits : 0;
        size_t colour = (size_t)((s * bits + 31) / 32 * 4) * s;
        size_t mask = (size_t)((s + 31) / 32 * 4) * s;
        EXPECT_EQ(img.size(), 40 + palette + colour + mask);
    }
}

TEST_F(Resources, IconLoadsAtSmallAndLargeSizes)
{
    for (int s : {16, 32, 48}) {
        HICON icon = (HICON)LoadImageA(exe, MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON, s, s, 0);
        ASSERT_NE(icon, nullptr) << s;
        ICONINFO ii = {};
        ASSERT_TRUE(GetIconInfo(icon, &ii));
        BITMAP bm = {};
        GetObjectA(ii.hbmColor ? ii.hbmColor : ii.hbmMask, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, s);
        if (ii.hbmColor)
            DeleteObject(ii.hbmColor);
        if (ii.hbmMask)
            DeleteObject(ii.hbmMask);
        DestroyIcon(icon);
    }
}

// One node of a version block: length, value length, type, key, then value and children, 4-aligned.
struct Node {
    const BYTE *base;
    WORD length, value_length, type;
    std::wstring key;
    const BYTE *value;
    const BYTE *children, *end;
};

Node read_node(const BYTE *p)
{
    Node n;
    n.base = p;
    const WORD *w = (const WORD *)p;
    n.length = w[0];
    n.value_length = w[1];
    n.type = w[2];
    const wchar_t *k = (const wchar_t *)(p + 6);
    n.key = k;
    size_t off = 6 + (n.key.size() + 1) * 2;
    off = (off + 3) & ~(size_t)3;
    n.value = p + off;
    size_t value_bytes = n.type == 1 ? n.value_length * 2u : n.value_length;
    n.children = p + ((off + value_bytes + 3) & ~(size_t)3);
    n.end = p + n.length;
    return n;
}

std::vector<Node> children_of(const Node &n)
{
    std::vector<Node> out;
    for (const BYTE *p = n.children; p + 6 <= n.end;) {
        Node c = read_node(p);
        if (c.length == 0)
            break;
        out.push_back(c);
        p += (c.length + 3) & ~3;
    }
    return out;
}

TEST_F(Resources, VersionBlockHasFixedPartTranslationAndStringsInOrder)
{
    std::vector<BYTE> ver = raw(MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1));
    ASSERT_FALSE(ver.empty());
    Node root = read_node(ver.data());
    EXPECT_EQ(root.key, L"VS_VERSION_INFO");
    ASSERT_EQ(root.value_length, sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO f;
    memcpy(&f, root.value, sizeof f);
    EXPECT_EQ(f.dwSignature, 0xFEEF04BDu);
    const DWORD version_ms = (TAVRO_VERSION_MAJOR << 16) | TAVRO_VERSION_MINOR;
    const DWORD version_ls = (TAVRO_VERSION_PATCH << 16) | TAVRO_VERSION_TWEAK;
    EXPECT_EQ(f.dwFileVersionMS, version_ms);
    EXPECT_EQ(f.dwFileVersionLS, version_ls);
    EXPECT_EQ(f.dwProductVersionMS, version_ms);
    EXPECT_EQ(f.dwProductVersionLS, version_ls);
    EXPECT_EQ(f.dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(f.dwFileFlags, 0u);
    EXPECT_EQ(f.dwFileOS, (DWORD)VOS__WINDOWS32);
    EXPECT_EQ(f.dwFileType, (DWORD)VFT_APP);
    EXPECT_EQ(f.dwFileSubtype, 0u);
    EXPECT_EQ(f.dwFileDateMS, 0u);
    EXPECT_EQ(f.dwFileDateLS, 0u);

    std::vector<Node> top = children_of(root);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[0].key, L"VarFileInfo");
    EXPECT_EQ(top[1].key, L"StringFileInfo");

    std::vector<Node> var = children_of(top[0]);
    ASSERT_EQ(var.size(), 1u);
    EXPECT_EQ(var[0].key, L"Translation");
    ASSERT_EQ(var[0].value_length, 4);
    const WORD *tr = (const WORD *)var[0].value;
    EXPECT_EQ(tr[0], 0x0411);
    EXPECT_EQ(tr[1], 0x04B0);

    std::vector<Node> tables = children_of(top[1]);
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].key, L"041104B0");
    const std::pair<std::wstring, std::wstring> want[] = {
        {L"Comments", L"<Comments>"},
        {L"CompanyName", L"<CompanyName>"},
        {L"FileDescription", L"tavro"},
        {L"FileVersion", TAVRO_VERSION_TEXT},
        {L"InternalName", L"<InternalName>"},
        {L"LegalCopyright", L""},
        {L"OriginalFilename", L"tavro.exe"},
        {L"ProductName", L"tavro"},
        {L"ProductVersion", TAVRO_VERSION_TEXT},
    };
    std::vector<Node> strings = children_of(tables[0]);
    ASSERT_EQ(strings.size(), std::size(want));
    for (size_t i = 0; i < strings.size(); ++i) {
        EXPECT_TRUE(same_text(strings[i].key, want[i].first)) << i;
        EXPECT_EQ(strings[i].type, 1);
        std::wstring value((const wchar_t *)strings[i].value);
        if (want[i].first == L"LegalCopyright")
            EXPECT_FALSE(value.empty());
        else
            EXPECT_TRUE(same_text(value, want[i].second)) << i;
    }
}

struct Census {
    std::vector<ULONG_PTR> types;
    int resources = 0, non_japanese = 0;
};

BOOL CALLBACK count_language(HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR arg)
{
    Census *c = (Census *)arg;
    ++c->resources;
    if (lang != kJapanese)
        ++c->non_japanese;
    return TRUE;
}

BOOL CALLBACK count_name(HMODULE m, LPCWSTR type, LPWSTR name, LONG_PTR arg)
{
    EnumResourceLanguagesW(m, type, name, count_language, arg);
    return TRUE;
}

BOOL CALLBACK count_type(HMODULE m, LPWSTR type, LONG_PTR arg)
{
    ((Census *)arg)->types.push_back(IS_INTRESOURCE(type) ? (ULONG_PTR)type : 0);
    EnumResourceNamesW(m, type, count_name, arg);
    return TRUE;
}

TEST_F(Resources, EveryResourceIsJapaneseAndNoOtherKindExists)
{
    Census seen;
    EnumResourceTypesW(exe, count_type, (LONG_PTR)&seen);
    // Icons (9 images and the group), the menu, four string blocks and the version block.
    EXPECT_EQ(seen.resources, 9 + 1 + 1 + 4 + 1);
    EXPECT_EQ(seen.non_japanese, 0);
    std::vector<ULONG_PTR> want = {3, 4, 6, 14, 16}; // icon, menu, string, icon group, version
    std::sort(seen.types.begin(), seen.types.end());
    EXPECT_EQ(seen.types, want) << "no manifest, dialog or accelerator table";
}

} // namespace
