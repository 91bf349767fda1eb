// Computing values in the window: results against zlib and hashlib, status texts, boxes and failures.
#include <string.h>

#include "harness.h"

namespace {

// What the user sees of one value; the tests' own copy, not the program's table.
struct Value {
    const char *name;
    int button, menu_item, box;
    int *done;
    UINT first, calculating, done_status, error, failed;
};
const Value kValues[] = {
    {"Crc32", IDC_CALC_CRC32, IDM_CALC_CRC32, IDC_EDIT_CRC32, &g_crc32_done, IDS_BLANK, IDS_CALCULATING_CRC32,
     IDS_DONE_CRC32, IDS_ERR_CRC32, IDS_FAILED_CRC32},
    {"Md5", IDC_CALC_MD5, IDM_CALC_MD5, IDC_EDIT_MD5, &g_md5_done, IDS_CALCULATING_MD5, IDS_CALCULATING_MD5,
     IDS_DONE_MD5, IDS_ERR_MD5, IDS_FAILED_MD5},
    {"Sha1", IDC_CALC_SHA1, IDM_CALC_SHA1, IDC_EDIT_SHA1, &g_sha1_done, IDS_CALCULATING_SHA1, IDS_CALCULATING_SHA1,
     IDS_DONE_SHA1, IDS_ERR_SHA1, IDS_FAILED_SHA1},
};
enum { CRC32, MD5, SHA1 };

Events succeeded(const Value &v) { return {status(v.first), status(v.calculating), status(v.done_status)}; }
Events not_opened(const Value &v) { return {status(v.first), box(IDS_OPEN_FAILED)}; }
Events engine_failed(const Value &v)
{
    return {status(v.first), status(v.calculating), box(v.error), status(v.failed)};
}
Events operator+(Events a, const Events &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string digest_of(const Expected &e, int value) { return value == CRC32 ? e.crc32 : value == MD5 ? e.md5 : e.sha1; }

// A named pipe that serves `connections` clients in turn: some bytes, then the server end closes,
// so the client's read after the data fails (ERROR_BROKEN_PIPE) instead of reaching an end of file.
// Every instance waits before the first client comes, each served by a thread of its own: a client
// that gives up without reading would otherwise find no instance when the next one comes.
class PipeServer {
  public:
    explicit PipeServer(int connections)
    {
        snprintf(name_, sizeof name_, "\\\\.\\pipe\\tavro-actions-%lu", GetCurrentProcessId());
        for (int i = 0; i < connections; i++) {
            HANDLE pipe = CreateNamedPipeA(name_, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                           PIPE_UNLIMITED_INSTANCES, 65536, 65536, 0, NULL);
            threads_.push_back(CreateThread(NULL, 0, serve, pipe, 0, NULL));
        }
    }
    ~PipeServer()
    {
        if (WaitForMultipleObjects(threads_.size(), threads_.data(), TRUE, 10000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the pipe was not opened as often as expected";
            for (HANDLE thread : threads_)
                TerminateThread(thread, 1);
        }
        for (HANDLE thread : threads_)
            CloseHandle(thread);
    }
    const char *name() const { return name_; }

  private:
    static DWORD WINAPI serve(void *pipe)
    {
        ConnectNamedPipe(pipe, NULL);
        static const char bytes[5000] = {};
        DWORD written = 0;
        WriteFile(pipe, bytes, sizeof bytes, &written, NULL);
        CloseHandle(pipe);
        return 0;
    }
    char name_[64];
    std::vector<HANDLE> threads_;
};

// A file whose size says more than it holds (the kernel's text files under /sys): reads come back
// short in the middle, which only the MD5 engine, reading exactly the size, takes for a failure.
std::string short_reading_file()
{
    const char *candidates[] = {
        "Z:\\sys\\devices\\system\\cpu\\vulnerabilities\\spectre_v2",
        "Z:\\sys\\devices\\system\\cpu\\vulnerabilities\\spectre_v1",
        "Z:\\sys\\devices\\system\\cpu\\vulnerabilities\\mds",
        "Z:\\sys\\devices\\system\\cpu\\modalias",
    };
    for (const char *name : candidates) {
        HANDLE h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        DWORD size = GetFileSize(h, NULL), total = 0, got = 0;
        char buf[4096];
        while (ReadFile(h, buf, sizeof buf, &got, NULL) && got > 0)
            total += got;
        CloseHandle(h);
        if (total > 64 && total < size)
            return name;
    }
    return "";
}

bool can_open_alone(const std::string &name)
{
    HANDLE h = CreateFileA(name.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

class Compute : public ShellWindow {};

class ComputeFile : public ShellWindow, public ::testing::WithParamInterface<const char *> {};

TEST_P(ComputeFile, EachValueMatchesIndependentDigest)
{
    const Expected &e = expected(GetParam());
    give_file(data_path(e.name));
    for (int v = CRC32; v <= SHA1; v++) {
        SCOPED_TRACE(kValues[v].name);
        command(kValues[v].button);
        EXPECT_EQ(text(kValues[v].box), digest_of(e, v));
        EXPECT_EQ(*kValues[v].done, 1);
        EXPECT_EQ(take_events(), succeeded(kValues[v]));
    }
}

TEST_P(ComputeFile, ComputeAllFillsAllThreeThenSaysAllDone)
{
    const Expected &e = expected(GetParam());
    give_file(data_path(e.name));
    command(IDM_CALC_ALL);
    for (int v = CRC32; v <= SHA1; v++) {
        EXPECT_EQ(text(kValues[v].box), digest_of(e, v)) << kValues[v].name;
        EXPECT_EQ(*kValues[v].done, 1) << kValues[v].name;
    }
    EXPECT_EQ(take_events(), succeeded(kValues[CRC32]) + succeeded(kValues[MD5]) + succeeded(kValues[SHA1]) +
                                 Events{status(IDS_DONE_ALL)});
    EXPECT_EQ(g_status_id, (UINT)IDS_DONE_ALL);
}

// Sizes around the engines' edges: MD5/SHA-1 padding at 55, 56 and 64, the 32768-byte reads.
INSTANTIATE_TEST_SUITE_P(Files, ComputeFile,
                         ::testing::Values("empty.bin", "check.txt", "lowcrc.txt", "rand_55.bin", "rand_56.bin",
                                           "rand_64.bin", "rand_1000.bin", "rand_32768.bin", "rand_32769.bin"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             std::string n = info.param;
                             return n.substr(0, n.find('.'));
                         });

TEST_F(Compute, EmptyFileShowsEightZeros)
{
    give_file(data_path("empty.bin"));
    command(IDC_CALC_CRC32);
    EXPECT_EQ(text(IDC_EDIT_CRC32), "00000000");
}

TEST_F(Compute, MenuItemsRunTheSameActionsAsButtons)
{
    const Expected &e = expected("check.txt");
    give_file(data_path(e.name));
    for (int v = CRC32; v <= SHA1; v++) {
        command(kValues[v].menu_item);
        EXPECT_EQ(text(kValues[v].box), digest_of(e, v)) << kValues[v].name;
        EXPECT_EQ(take_events(), succeeded(kValues[v])) << kValues[v].name;
    }
    command(IDC_CALC_ALL);
    EXPECT_EQ(take_events().back(), status(IDS_DONE_ALL));
}

// Without a file from the command line, the dialog or a drop, nothing is computed: one message only.
class NoFile : public ShellWindow, public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(NoFile, SaysBadFileOnceAndChangesNothing)
{
    auto [id, typed] = GetParam();
    if (typed)
        type_file(data_path("check.txt")); // typing alone does not give a file
    command(id);
    EXPECT_EQ(take_events(), Events{box(IDS_BAD_FILE)});
    EXPECT_EQ(g_status_id, (UINT)IDS_BLANK);
    EXPECT_EQ(g_file_set, 0);
    for (const Value &v : kValues) {
        EXPECT_EQ(text(v.box), "");
        EXPECT_EQ(*v.done, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, NoFile,
                         ::testing::Combine(::testing::Values(IDC_CALC_CRC32, IDM_CALC_MD5, IDC_CALC_SHA1, IDC_CALC_ALL,
                                                              IDM_CALC_ALL),
                                            ::testing::Bool()));

// Names that cannot be opened, each tried after a good file's values are shown.
struct Unopenable {
    const char *label;
    std::string (*name)();
    const char *held; // a file that the test keeps open without sharing meanwhile
};
const Unopenable kUnopenable[] = {
    {"Missing", [] { return data_path("no such file.bin"); }, NULL},
    {"Directory", [] { return data_path("sub dir"); }, NULL},
    {"QuotedName", [] { return in_quotes(data_path("check.txt")); }, NULL},
    {"HeldByAnother", [] { return data_path("rand_56.bin"); }, "rand_56.bin"},
};

class NotOpened : public ShellWindow, public ::testing::WithParamInterface<Unopenable> {
  protected:
    // Values of another file are on show, then the unopenable name is typed in.
    void prepare()
    {
        give_file(data_path("check.txt"));
        command(IDC_CALC_ALL);
        take_events();
        type_file(GetParam().name());
        if (GetParam().held != NULL)
            held_ = CreateFileA(data_path(GetParam().held).c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    }
    void TearDown() override
    {
        if (held_ != INVALID_HANDLE_VALUE)
            CloseHandle(held_);
        ShellWindow::TearDown();
    }
    HANDLE held_ = INVALID_HANDLE_VALUE;
};

TEST_P(NotOpened, OneValueSaysOpenFailedAndEmptiesItsBox)
{
    prepare();
    for (int v = CRC32; v <= SHA1; v++) {
        SCOPED_TRACE(kValues[v].name);
        command(kValues[v].button);
        EXPECT_EQ(take_events(), not_opened(kValues[v]));
        EXPECT_EQ(g_status_id, kValues[v].first); // blank for CRC-32, the calculating text else
        EXPECT_EQ(text(kValues[v].box), "");
        EXPECT_EQ(*kValues[v].done, 0);
    }
}

TEST_P(NotOpened, ComputeAllSaysOpenFailedThreeTimes)
{
    prepare();
    command(IDM_CALC_ALL);
    EXPECT_EQ(take_events(), not_opened(kValues[CRC32]) + not_opened(kValues[MD5]) + not_opened(kValues[SHA1]));
    EXPECT_EQ(g_status_id, (UINT)IDS_CALCULATING_SHA1);
    for (const Value &v : kValues)
        EXPECT_EQ(text(v.box), "");
}

INSTANTIATE_TEST_SUITE_P(Names, NotOpened, ::testing::ValuesIn(kUnopenable),
                         [](const ::testing::TestParamInfo<Unopenable> &info) { return info.param.label; });

// A pipe opens like a file but its reads fail once the writer is gone (MD5 fails sooner: a pipe has
// no size). Each engine's failure shows its message and failure status and leaks no handle.
TEST_F(Compute, ReadFailureShowsErrorThenFailedStatusAndClosesHandle)
{
    for (int round = 0; round < 2; round++) { // the first round loads what message boxes need
        for (int v = CRC32; v <= SHA1; v++) {
            SCOPED_TRACE(kValues[v].name);
            int before = process_handles();
            {
                PipeServer pipe(1);
                give_file(pipe.name());
                command(kValues[v].button);
            }
            EXPECT_EQ(take_events(), engine_failed(kValues[v]));
            EXPECT_EQ(text(kValues[v].box), "");
            EXPECT_EQ(*kValues[v].done, 0);
            if (round == 1) {
                EXPECT_EQ(process_handles(), before);
            }
        }
    }
}

TEST_F(Compute, ComputeAllOnFailingSourceReportsEachAndNeverAllDone)
{
    PipeServer pipe(3);
    give_file(pipe.name());
    command(IDC_CALC_ALL);
    EXPECT_EQ(take_events(),
              engine_failed(kValues[CRC32]) + engine_failed(kValues[MD5]) + engine_failed(kValues[SHA1]));
}

TEST_F(Compute, ShortReadInMidFileFailsOnlyMd5AndNotAllDone)
{
    std::string name = short_reading_file();
    if (name.empty())
        GTEST_SKIP() << "no file under /sys that reads shorter than its size";
    give_file(name);
    command(IDM_CALC_ALL);
    EXPECT_EQ(take_events(), succeeded(kValues[CRC32]) + engine_failed(kValues[MD5]) + succeeded(kValues[SHA1]));
    EXPECT_EQ(text(IDC_EDIT_CRC32).size(), 8u);
    EXPECT_EQ(text(IDC_EDIT_MD5), "");
    EXPECT_EQ(text(IDC_EDIT_SHA1).size(), 40u);
    EXPECT_EQ(g_md5_done, 0);
    EXPECT_TRUE(can_open_alone(name)) << "the failed computation left its handle open";
}

TEST_F(Compute, EveryComputationLetsGoOfTheFile)
{
    std::string name = data_path("rand_1000.bin");
    give_file(name);
    for (const Value &v : kValues) {
        command(v.button);
        EXPECT_TRUE(can_open_alone(name)) << v.name;
    }
}

TEST_F(Compute, EditedNameIsUsedAndOtherResultsStay)
{
    const Expected &first = expected("check.txt"), &second = expected("rand_55.bin");
    give_file(data_path(first.name));
    command(IDC_CALC_ALL);
    type_file(data_path(second.name));
    command(IDC_CALC_MD5);
    EXPECT_EQ(text(IDC_EDIT_MD5), second.md5);
    EXPECT_EQ(text(IDC_EDIT_CRC32), first.crc32);
    EXPECT_EQ(text(IDC_EDIT_SHA1), first.sha1);
    EXPECT_EQ(g_crc32_done + g_md5_done + g_sha1_done, 3);
}

} // namespace
