// is_large_file: the 2 GiB line that marks files outside the MD5 size count.
#include <gtest/gtest.h>

#include "engine_traits.h"

using tavro_test::Handle;
using tavro_test::TempDir;

namespace {

struct SizeCase {
    uint64_t size;
    int large;
};

TEST(IsLargeFile, AnswersOneFromTwoGiBUpwards)
{
    const SizeCase cases[] = {
        {0, 0},
        {0x7FFFFFFFull, 0},  // 2^31 - 1
        {0x80000000ull, 1},  // 2^31
        {0xFFFFFFFFull, 1},  // 2^32 - 1
        {0x100000000ull, 1}, // 2^32: the low half is 0
        {0x100000005ull, 1},
    };
    TempDir dir;
    for (const SizeCase &c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        std::string path = dir.file(std::to_string(c.size) + ".bin");
        ASSERT_TRUE(tavro_test::make_sized_file(path, c.size));
        {
            Handle h = tavro_test::open_read(path);
            ASSERT_TRUE(h.valid());
            EXPECT_EQ(is_large_file(h.get()), c.large);
        }
        DeleteFileA(path.c_str()); // one sparse giant at a time
    }
}

TEST(IsLargeFile, AnswersZeroWhenTheSizeCannotBeRead)
{
    Handle pipe = tavro_test::broken_pipe_with("bytes");
    ASSERT_TRUE(pipe.valid());
    EXPECT_EQ(is_large_file(pipe.get()), 0);
    EXPECT_EQ(is_large_file(INVALID_HANDLE_VALUE), 0);
    EXPECT_EQ(is_large_file(nullptr), 0);
}

} // namespace
