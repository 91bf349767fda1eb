// CRC-32 behaviours that differ from the other engines: no running state kept in the record.
#include <gtest/gtest.h>

#include "engine_traits.h"

using tavro_test::DigestVector;
using tavro_test::Handle;
using tavro_test::TempDir;

namespace {

std::vector<DigestVector> vectors() { return tavro_test::load_digest_vectors(vector_path("expected.txt")); }

const DigestVector *vector_of(const std::vector<DigestVector> &list, uint64_t size)
{
    for (const DigestVector &v : list) {
        if (v.size == size) {
            return &v;
        }
    }
    return nullptr;
}

std::string hex8(uint32_t v)
{
    char s[9];
    snprintf(s, sizeof s, "%08x", static_cast<unsigned>(v));
    return s;
}

TEST(Crc32, RecordReusedWithoutInitGivesTheNewFilesValue)
{
    std::vector<DigestVector> list = vectors();
    const DigestVector *a = vector_of(list, 1000);
    const DigestVector *b = vector_of(list, 32769);
    ASSERT_TRUE(a && b);
    Handle ha = tavro_test::open_read(vector_path(a->name));
    Handle hb = tavro_test::open_read(vector_path(b->name));
    CRC32_INFO info;
    ASSERT_EQ(crc32_init(&info), RC_OK);
    ASSERT_EQ(crc32_set_input(&info, ha.get()), RC_OK);
    ASSERT_EQ(crc32_calc(&info), RC_OK);
    EXPECT_EQ(hex8(info.crc), a->crc32);
    ASSERT_EQ(crc32_set_input(&info, hb.get()), RC_OK);
    ASSERT_EQ(crc32_calc(&info), RC_OK);
    uint32_t value = 0;
    ASSERT_EQ(crc32_get(&info, &value), RC_OK);
    EXPECT_EQ(hex8(value), b->crc32);
}

TEST(Crc32, SecondRunOnTheSameHandleReadsNothingAndGivesZero)
{
    TempDir dir;
    ASSERT_TRUE(tavro_test::write_file(dir.file("d.bin"), "123456789"));
    Handle h = tavro_test::open_read(dir.file("d.bin"));
    CRC32_INFO info;
    ASSERT_EQ(crc32_init(&info), RC_OK);
    ASSERT_EQ(crc32_set_input(&info, h.get()), RC_OK);
    ASSERT_EQ(crc32_calc(&info), RC_OK);
    EXPECT_EQ(info.crc, 0xCBF43926u);
    EXPECT_EQ(crc32_calc(&info), RC_OK);
    EXPECT_EQ(info.crc, 0u);
    EXPECT_EQ(info.stt, STT_DONE);
}

TEST(Crc32, FailedRunKeepsThePreviousValueAndTheHandleForARetry)
{
    TempDir dir;
    ASSERT_TRUE(tavro_test::write_file(dir.file("d.bin"), "123456789"));
    Handle good = tavro_test::open_read(dir.file("d.bin"));
    Handle pipe = tavro_test::broken_pipe_with(std::string(40000, 'p'));
    ASSERT_TRUE(pipe.valid());
    CRC32_INFO info;
    ASSERT_EQ(crc32_init(&info), RC_OK);
    ASSERT_EQ(crc32_set_input(&info, good.get()), RC_OK);
    ASSERT_EQ(crc32_calc(&info), RC_OK);
    ASSERT_EQ(crc32_set_input(&info, pipe.get()), RC_OK);
    EXPECT_EQ(crc32_calc(&info), RC_READ_ERROR);
    EXPECT_EQ(info.stt, STT_READY);
    EXPECT_EQ(info.input_h, pipe.get());
    EXPECT_EQ(info.crc, 0xCBF43926u);
    uint32_t out = 0x12345678;
    EXPECT_EQ(crc32_get(&info, &out), RC_NOT_DONE);
    EXPECT_EQ(out, 0x12345678u);
    // Not busy: the caller may retry at once; the broken pipe fails again.
    EXPECT_EQ(crc32_calc(&info), RC_READ_ERROR);
    EXPECT_EQ(info.stt, STT_READY);
}

} // namespace
