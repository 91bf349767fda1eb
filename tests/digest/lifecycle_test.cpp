// States and result codes that the three engines share.
#include <gtest/gtest.h>

#include "engine_traits.h"

using tavro_test::Handle;
using tavro_test::TempDir;

namespace {

template <class E> class Lifecycle : public ::testing::Test {
  protected:
    using Info = typename E::Info;

    // A record on the stack of the test, initialised.
    Info info_{};
    TempDir dir_;

    void SetUp() override { ASSERT_EQ(E::init(&info_), RC_OK); }

    Handle file_with(const std::string &name, const std::string &bytes)
    {
        std::string path = dir_.file(name);
        EXPECT_TRUE(tavro_test::write_file(path, bytes));
        return tavro_test::open_read(path);
    }

    // The record as init must leave it: zeros and the engine's initial values.
    static std::string fresh_bytes()
    {
        Info expect;
        memset(&expect, 0, sizeof expect);
        E::initial_values(&expect);
        return bytes_of(expect);
    }
};

using Engines = ::testing::Types<Crc32Engine, Md5Engine, Sha1Engine>;
class EngineNames {
  public:
    template <class E> static std::string GetName(int) { return E::kType; }
};
TYPED_TEST_SUITE(Lifecycle, Engines, EngineNames);

TYPED_TEST(Lifecycle, NullRecordIsRefusedByEveryOperation)
{
    using E = TypeParam;
    Handle h = this->file_with("a.bin", "abc");
    EXPECT_EQ(E::init(nullptr), RC_NULL_INFO);
    EXPECT_EQ(E::set_input(nullptr, h.get()), RC_NULL_INFO);
    EXPECT_EQ(E::calc(nullptr), RC_NULL_INFO);
    for (const Getter &g : E::kGetters) {
        uint8_t out[kMaxOutput];
        memset(out, 0xA5, sizeof out);
        EXPECT_EQ(g.call(nullptr, out), RC_NULL_INFO) << g.name;
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out), sizeof out), std::string(sizeof out, '\xA5')) << g.name;
    }
    E::free_record(nullptr); // must simply return
}

TYPED_TEST(Lifecycle, InitResetsAnyRecordToClearWithInitialValues)
{
    using E = TypeParam;
    memset(&this->info_, 0xCC, sizeof this->info_);
    this->info_.stt = STT_BUSY;
    EXPECT_EQ(E::init(&this->info_), RC_OK);
    EXPECT_EQ(this->info_.stt, STT_CLEAR);
    EXPECT_EQ(bytes_of(this->info_), this->fresh_bytes());
}

TYPED_TEST(Lifecycle, CreateGivesInitialisedRecordFromProcessHeap)
{
    using E = TypeParam;
    typename E::Info *info = E::create();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->myheap_h, GetProcessHeap());
    EXPECT_EQ(HeapSize(GetProcessHeap(), 0, info), sizeof(typename E::Info));
    typename E::Info expect = *info;
    std::string fresh = this->fresh_bytes();
    memcpy(&expect, fresh.data(), sizeof expect);
    expect.myheap_h = GetProcessHeap();
    EXPECT_EQ(bytes_of(*info), bytes_of(expect));
    E::free_record(info);
}

// Counts the blocks in use on `heap`.
int busy_blocks(HANDLE heap)
{
    int busy = 0;
    PROCESS_HEAP_ENTRY entry;
    entry.lpData = nullptr;
    while (HeapWalk(heap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
            ++busy;
        }
    }
    return busy;
}

TYPED_TEST(Lifecycle, FreeReturnsRecordToTheHeapItNames)
{
    using E = TypeParam;
    HANDLE heap = HeapCreate(0, 0, 0);
    ASSERT_NE(heap, nullptr);
    int before = busy_blocks(heap);
    auto *info = static_cast<typename E::Info *>(HeapAlloc(heap, 0, sizeof(typename E::Info)));
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(E::init(info), RC_OK);
    info->myheap_h = heap;
    EXPECT_EQ(busy_blocks(heap), before + 1);
    E::free_record(info);
    EXPECT_EQ(busy_blocks(heap), before);
    HeapDestroy(heap);
}

TYPED_TEST(Lifecycle, FreeLeavesRecordWithoutHeapAlone)
{
    using E = TypeParam;
    HANDLE heap = HeapCreate(0, 0, 0);
    ASSERT_NE(heap, nullptr);
    auto *info = static_cast<typename E::Info *>(HeapAlloc(heap, 0, sizeof(typename E::Info)));
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(E::init(info), RC_OK); // myheap_h is null now
    int before = busy_blocks(heap);
    std::string bytes = bytes_of(*info);
    // HeapFree on no heap fails quietly under Wine; the last-error value is what betrays a call.
    SetLastError(0x1234);
    E::free_record(info);
    EXPECT_EQ(GetLastError(), 0x1234u);
    EXPECT_EQ(busy_blocks(heap), before);
    EXPECT_EQ(HeapSize(heap, 0, info), sizeof(typename E::Info));
    EXPECT_TRUE(HeapValidate(heap, 0, nullptr));
    EXPECT_EQ(bytes_of(*info), bytes);
    HeapFree(heap, 0, info);
    HeapDestroy(heap);
}

TYPED_TEST(Lifecycle, CalcWithoutInputIsRefusedAndChangesNothing)
{
    using E = TypeParam;
    std::string before = bytes_of(this->info_);
    EXPECT_EQ(E::calc(&this->info_), RC_NO_INPUT);
    EXPECT_EQ(this->info_.stt, STT_CLEAR);
    EXPECT_EQ(bytes_of(this->info_), before);
}

TYPED_TEST(Lifecycle, NullHandleAttachesButCalcRefusesIt)
{
    using E = TypeParam;
    EXPECT_EQ(E::set_input(&this->info_, nullptr), RC_OK);
    EXPECT_EQ(this->info_.stt, STT_READY);
    EXPECT_EQ(this->info_.input_h, nullptr);
    std::string before = bytes_of(this->info_);
    EXPECT_EQ(E::calc(&this->info_), RC_NO_INPUT);
    EXPECT_EQ(bytes_of(this->info_), before);
}

TYPED_TEST(Lifecycle, SetInputAttachesHandleAndMakesReady)
{
    using E = TypeParam;
    Handle h = this->file_with("a.bin", "abc");
    EXPECT_EQ(E::set_input(&this->info_, h.get()), RC_OK);
    EXPECT_EQ(this->info_.stt, STT_READY);
    EXPECT_EQ(this->info_.input_h, h.get());
}

TYPED_TEST(Lifecycle, BusyRecordRefusesInputAndCalcUntilInit)
{
    using E = TypeParam;
    Handle first = this->file_with("a.bin", "abc");
    Handle second = this->file_with("b.bin", "defg");
    ASSERT_EQ(E::set_input(&this->info_, first.get()), RC_OK);
    this->info_.stt = STT_BUSY;
    std::string before = bytes_of(this->info_);
    EXPECT_EQ(E::set_input(&this->info_, second.get()), RC_BUSY);
    EXPECT_EQ(bytes_of(this->info_), before);
    EXPECT_EQ(E::calc(&this->info_), RC_BUSY);
    EXPECT_EQ(bytes_of(this->info_), before);
    for (const Getter &g : E::kGetters) {
        uint8_t out[kMaxOutput] = {};
        EXPECT_EQ(g.call(&this->info_, out), RC_NOT_DONE) << g.name;
    }
    EXPECT_EQ(E::init(&this->info_), RC_OK);
    EXPECT_EQ(bytes_of(this->info_), this->fresh_bytes());
}

TYPED_TEST(Lifecycle, GetBeforeDoneLeavesOutputUntouched)
{
    using E = TypeParam;
    Handle h = this->file_with("a.bin", "abc");
    for (int attached = 0; attached < 2; ++attached) {
        if (attached) {
            ASSERT_EQ(E::set_input(&this->info_, h.get()), RC_OK);
        }
        for (const Getter &g : E::kGetters) {
            uint8_t out[kMaxOutput];
            memset(out, 0xA5, sizeof out);
            EXPECT_EQ(g.call(&this->info_, out), RC_NOT_DONE) << g.name << " attached=" << attached;
            EXPECT_EQ(std::string(reinterpret_cast<char *>(out), sizeof out), std::string(sizeof out, '\xA5'))
                << g.name;
        }
    }
}

TYPED_TEST(Lifecycle, GettersWriteExactlyTheirSizeRepeatAndRefuseANullOutput)
{
    using E = TypeParam;
    Handle h = this->file_with("a.bin", "abc");
    ASSERT_EQ(E::set_input(&this->info_, h.get()), RC_OK);
    ASSERT_EQ(E::calc(&this->info_), RC_OK);
    EXPECT_EQ(this->info_.stt, STT_DONE);
    std::string after_calc = bytes_of(this->info_);
    for (const Getter &g : E::kGetters) {
        uint8_t first[kMaxOutput];
        uint8_t second[kMaxOutput];
        memset(first, 0xA5, sizeof first);
        memset(second, 0x5A, sizeof second);
        EXPECT_EQ(g.call(&this->info_, first), RC_OK) << g.name;
        EXPECT_EQ(g.call(&this->info_, second), RC_OK) << g.name;
        EXPECT_EQ(memcmp(first, second, g.size), 0) << g.name;
        EXPECT_EQ(g.call(&this->info_, nullptr), RC_NULL_INFO) << g.name;
        for (size_t i = g.size; i < kMaxOutput; ++i) {
            ASSERT_EQ(first[i], 0xA5) << g.name << " wrote byte " << i;
        }
    }
    EXPECT_EQ(bytes_of(this->info_), after_calc);
}

TYPED_TEST(Lifecycle, SetInputAfterDoneHidesTheResult)
{
    using E = TypeParam;
    Handle first = this->file_with("a.bin", "abc");
    Handle second = this->file_with("b.bin", "");
    ASSERT_EQ(E::set_input(&this->info_, first.get()), RC_OK);
    ASSERT_EQ(E::calc(&this->info_), RC_OK);
    EXPECT_EQ(E::set_input(&this->info_, second.get()), RC_OK);
    EXPECT_EQ(this->info_.stt, STT_READY);
    EXPECT_EQ(this->info_.input_h, second.get());
    for (const Getter &g : E::kGetters) {
        uint8_t out[kMaxOutput];
        memset(out, 0xA5, sizeof out);
        EXPECT_EQ(g.call(&this->info_, out), RC_NOT_DONE) << g.name;
        EXPECT_EQ(out[0], 0xA5) << g.name;
    }
}

TYPED_TEST(Lifecycle, HandleWithoutReadAccessFailsTheRun)
{
    using E = TypeParam;
    std::string path = this->dir_.file("w.bin");
    ASSERT_TRUE(tavro_test::write_file(path, std::string(1000, 'x')));
    Handle h = tavro_test::open_with(path, GENERIC_WRITE);
    ASSERT_TRUE(h.valid());
    ASSERT_EQ(E::set_input(&this->info_, h.get()), RC_OK);
    EXPECT_EQ(E::calc(&this->info_), RC_READ_ERROR);
    EXPECT_EQ(this->info_.stt, E::kFailedState);
    EXPECT_EQ(this->info_.input_h, h.get());
    EXPECT_EQ(E::result(&this->info_), "");
}

TYPED_TEST(Lifecycle, PipeBrokenInMidStreamFailsTheRun)
{
    using E = TypeParam;
    Handle pipe = tavro_test::broken_pipe_with(std::string(1000, 'p'));
    ASSERT_TRUE(pipe.valid());
    ASSERT_EQ(E::set_input(&this->info_, pipe.get()), RC_OK);
    EXPECT_EQ(E::calc(&this->info_), RC_READ_ERROR);
    EXPECT_EQ(this->info_.stt, E::kFailedState);
    EXPECT_EQ(this->info_.input_h, pipe.get());
    for (const Getter &g : E::kGetters) {
        uint8_t out[kMaxOutput] = {};
        EXPECT_EQ(g.call(&this->info_, out), RC_NOT_DONE) << g.name;
    }
}

TYPED_TEST(Lifecycle, RecordWorksAgainAfterFailureAndInit)
{
    using E = TypeParam;
    Handle pipe = tavro_test::broken_pipe_with(std::string(1000, 'p'));
    ASSERT_TRUE(pipe.valid());
    ASSERT_EQ(E::set_input(&this->info_, pipe.get()), RC_OK);
    ASSERT_EQ(E::calc(&this->info_), RC_READ_ERROR);
    std::vector<tavro_test::DigestVector> list = tavro_test::load_digest_vectors(vector_path("expected.txt"));
    ASSERT_FALSE(list.empty());
    const tavro_test::DigestVector &v = list.back();
    Handle h = tavro_test::open_read(vector_path(v.name));
    ASSERT_TRUE(h.valid());
    EXPECT_EQ(E::init(&this->info_), RC_OK);
    EXPECT_EQ(E::set_input(&this->info_, h.get()), RC_OK);
    EXPECT_EQ(E::calc(&this->info_), RC_OK);
    EXPECT_EQ(E::result(&this->info_), E::expected(v));
}

} // namespace
