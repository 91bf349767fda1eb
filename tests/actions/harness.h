// Drives the real main window from a test: records what the user would see, answers the modal boxes.
#ifndef TAVRO_ACTIONS_HARNESS_H
#define TAVRO_ACTIONS_HARNESS_H

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "actions.h"

// What the user saw, in order: "status:DONE_MD5" for a status-bar text, "box:OPEN_FAILED" for a
// message box; texts are named by their string-table identifier.
typedef std::vector<std::string> Events;
std::string status(UINT id);
std::string box(UINT id);

// What the next open-file dialog is answered with: a name typed in and OK, or Cancel.
struct DialogPlan {
    bool cancel = false;
    std::string name;
    // Filled by the answer: how many dialogs were met and the name each one started with.
    int seen = 0;
    std::string initial_name;
};

// Paths of the test data (the working directory) and of the helper programs beside the test.
std::string data_path(const std::string &name);
std::string dos_path(const std::string &unix_path);
std::string in_quotes(const std::string &text); // in double quotes
extern std::string g_tavro_exe;                 // tavro.exe, as a DOS path
extern std::string g_clip_read_exe;             // clip_read.exe, as a DOS path

struct Expected {
    std::string name, crc32, md5, sha1;
};
const std::vector<Expected> &expected_digests(); // from expected.txt, made by zlib and hashlib
// A copy: a reference returned for a temporary name reads as dangling to GCC 14.
Expected expected(const std::string &name);

// A fresh main window for each test, as after a start without a file name.
class ShellWindow : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    void command(int id, int notification = 0); // WM_COMMAND as a click or a menu pick sends it
    void drop(const std::vector<std::string> &names);
    void give_file(const std::string &name); // dropped, then the log is cleared
    void type_file(const std::string &name); // typed into the file box
    std::string text(int control);
    Events take_events(); // the log so far, which is then cleared
    DialogPlan &dialog();

    HWND hwnd = NULL;
};

// Opens and holds the clipboard from another thread's window until released.
class ClipboardHolder {
  public:
    ClipboardHolder();
    ~ClipboardHolder();

  private:
    static DWORD WINAPI hold(void *arg);
    HANDLE ready_, release_, thread_;
};

std::string clipboard_text(); // CF_TEXT now on the clipboard, "<none>" when there is none
void set_clipboard_text(const char *text);

// Handles and GDI objects of this process, counted where the platform's own counters say 0.
int process_handles();
int gdi_objects();

#endif
