// Copying a value to the clipboard: only computed values, exactly the digits, nothing said on failure.
#include <string.h>

#include <utility>

#include "harness.h"

namespace {

struct Copy {
    const char *name;
    int button, menu_item, calc, box;
    UINT not_computed, copied;
    size_t digits;
};
const Copy kCopies[] = {
    {"Crc32", IDC_COPY_CRC32, IDM_COPY_CRC32, IDC_CALC_CRC32, IDC_EDIT_CRC32, IDS_NO_CRC32, IDS_COPIED_CRC32, 8},
    {"Md5", IDC_COPY_MD5, IDM_COPY_MD5, IDC_CALC_MD5, IDC_EDIT_MD5, IDS_NO_MD5, IDS_COPIED_MD5, 32},
    {"Sha1", IDC_COPY_SHA1, IDM_COPY_SHA1, IDC_CALC_SHA1, IDC_EDIT_SHA1, IDS_NO_SHA1, IDS_COPIED_SHA1, 40},
};

// Runs clip_read.exe, which prints the clipboard's CF_TEXT between brackets.
std::string clipboard_seen_by_another_process()
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
    HANDLE read_end, write_end;
    if (!CreatePipe(&read_end, &write_end, &sa, 0))
        return "<no pipe>";
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write_end;
    si.hStdError = write_end;
    PROCESS_INFORMATION pi = {};
    std::string cmd = in_quotes(g_clip_read_exe);
    BOOL started = CreateProcessA(NULL, &cmd[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi);
    CloseHandle(write_end);
    std::string out;
    if (started) {
        char buf[256];
        DWORD got;
        while (ReadFile(read_end, buf, sizeof buf, &got, NULL) && got > 0)
            out.append(buf, got);
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(read_end);
    return started ? out : "<not started>";
}

// This program's import slot of SetClipboardData, through which the shell calls it.
extern "C" HANDLE(WINAPI *g_set_clipboard_data_slot)(UINT, HANDLE) __asm__("__imp__SetClipboardData@8");

// While it lives, the platform refuses every block offered to the clipboard, as its documentation
// allows; the last block offered is kept for a look afterwards.
class ClipboardRefusal {
  public:
    ClipboardRefusal() { swap(); }
    ~ClipboardRefusal() { swap(); }
    static HANDLE offered;

  private:
    static HANDLE WINAPI refuse(UINT, HANDLE block)
    {
        offered = block;
        SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
        return NULL;
    }
    void swap()
    {
        DWORD old = 0;
        VirtualProtect(&g_set_clipboard_data_slot, sizeof g_set_clipboard_data_slot, PAGE_READWRITE, &old);
        std::swap(g_set_clipboard_data_slot, saved_);
        VirtualProtect(&g_set_clipboard_data_slot, sizeof g_set_clipboard_data_slot, old, &old);
    }
    HANDLE(WINAPI *saved_)(UINT, HANDLE) = refuse;
};
HANDLE ClipboardRefusal::offered;

class CopyValue : public ShellWindow, public ::testing::WithParamInterface<Copy> {};

TEST_P(CopyValue, BeforeComputingSaysNotComputedAndLeavesClipboard)
{
    set_clipboard_text("before");
    give_file(data_path("check.txt"));
    command(GetParam().button);
    command(GetParam().menu_item);
    EXPECT_EQ(take_events(), (Events{box(GetParam().not_computed), box(GetParam().not_computed)}));
    EXPECT_EQ(clipboard_text(), "before");
}

TEST_P(CopyValue, AfterFailedComputationSaysNotComputed)
{
    give_file(data_path("no such file.bin"));
    command(GetParam().calc);
    take_events();
    command(GetParam().button);
    EXPECT_EQ(take_events(), Events{box(GetParam().not_computed)});
}

TEST_P(CopyValue, AfterComputingPutsExactlyTheDigitsOnTheClipboard)
{
    give_file(data_path("rand_1000.bin"));
    command(IDC_CALC_ALL);
    take_events();
    std::string shown = text(GetParam().box);
    ASSERT_EQ(shown.size(), GetParam().digits);
    command(GetParam().menu_item);
    EXPECT_EQ(take_events(), Events{status(GetParam().copied)});
    EXPECT_EQ(clipboard_text(), shown); // no line end, nothing after the digits
    EXPECT_EQ(clipboard_seen_by_another_process(), "[" + shown + "]");
}

TEST_P(CopyValue, WhileAnotherWindowHoldsTheClipboardOrItRefusesTheTextNothingIsSaid)
{
    give_file(data_path("check.txt"));
    command(IDC_CALC_ALL);
    set_clipboard_text("before");
    take_events();
    {
        ClipboardHolder holder;
        command(GetParam().button);
    }
    EXPECT_EQ(take_events(), Events{});
    EXPECT_EQ(g_status_id, (UINT)IDS_DONE_ALL);
    EXPECT_EQ(clipboard_text(), "before");
    {
        ClipboardRefusal refusal;
        command(GetParam().menu_item);
    }
    EXPECT_EQ(take_events(), Events{});
    EXPECT_EQ(g_status_id, (UINT)IDS_DONE_ALL);
}

INSTANTIATE_TEST_SUITE_P(Values, CopyValue, ::testing::ValuesIn(kCopies),
                         [](const ::testing::TestParamInfo<Copy> &info) { return info.param.name; });

TEST(ClipboardExport, HeldClipboardAnswersThreeRefusedTextFourAndFreeClipboardOne)
{
    {
        ClipboardHolder holder;
        EXPECT_EQ(copy_text_to_clipboard("0123"), CLIP_NOT_OPENED);
    }
    {
        ClipboardRefusal refusal;
        ClipboardRefusal::offered = NULL;
        EXPECT_EQ(copy_text_to_clipboard("0123"), CLIP_NOT_TAKEN);
        ASSERT_NE(ClipboardRefusal::offered, (HANDLE)NULL);
        EXPECT_EQ(GlobalSize(ClipboardRefusal::offered), 0u) << "the refused block was not given back";
    }
    EXPECT_EQ(copy_text_to_clipboard("0123"), CLIP_OK);
    EXPECT_EQ(clipboard_text(), "0123");
}

TEST(ClipboardExport, OverlongTextIsCutToTheWorkingCopy)
{
    std::string text(6000, '7');
    EXPECT_EQ(copy_text_to_clipboard(text.c_str()), CLIP_OK);
    EXPECT_EQ(clipboard_text(), std::string(4999, '7'));
}

} // namespace
