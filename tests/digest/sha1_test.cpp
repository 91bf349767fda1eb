// SHA-1 behaviours of its own: one digest per record, the 64-bit length guard and the
// finalisation guard, reached through the record's fields and the internal steps.
#include <gtest/gtest.h>

#include "engine_traits.h"

using tavro_test::Handle;
using tavro_test::TempDir;

namespace {

const char kAbcDigest[] = "a9993e364706816aba3e25717850c26c9cd0d89d";

class Sha1Record : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(sha1_init(&info_), RC_OK); }

    Handle file_with(const std::string &name, const std::string &bytes)
    {
        EXPECT_TRUE(tavro_test::write_file(dir_.file(name), bytes));
        return tavro_test::open_read(dir_.file(name));
    }

    std::string text() const
    {
        char s[41] = {};
        return sha1_get_string(&info_, s) == RC_OK ? std::string(s) : "";
    }

    // Sets the bit count to 2^64 - bits.
    void set_length_short_of_overflow(uint32_t bits)
    {
        info_.length_low = 0u - bits;
        info_.length_high = 0xFFFFFFFFu;
    }

    TempDir dir_;
    SHA1_INFO info_;
};

TEST_F(Sha1Record, ReattachedAtEndOfFileGivesTheSameDigestAgain)
{
    Handle h = file_with("abc.bin", "abc");
    Handle empty = file_with("empty.bin", "");
    ASSERT_EQ(sha1_set_input(&info_, h.get()), RC_OK);
    ASSERT_EQ(sha1_calc(&info_), RC_OK);
    ASSERT_EQ(text(), kAbcDigest);
    for (HANDLE again : {h.get(), empty.get()}) {
        EXPECT_EQ(sha1_set_input(&info_, again), RC_OK);
        EXPECT_EQ(sha1_calc(&info_), RC_OK);
        EXPECT_EQ(info_.stt, STT_DONE);
        EXPECT_EQ(text(), kAbcDigest);
        EXPECT_EQ(info_.corrupted, SHA_OK);
    }
}

TEST_F(Sha1Record, ReattachedWithDataFailsWithSha1ErrorAndStaysBusy)
{
    Handle h = file_with("abc.bin", "abc");
    Handle more = file_with("more.bin", "more data");
    ASSERT_EQ(sha1_set_input(&info_, h.get()), RC_OK);
    ASSERT_EQ(sha1_calc(&info_), RC_OK);
    EXPECT_EQ(sha1_set_input(&info_, more.get()), RC_OK);
    EXPECT_EQ(sha1_calc(&info_), RC_SHA1_ERROR);
    EXPECT_EQ(info_.stt, STT_BUSY);
    EXPECT_EQ(info_.corrupted, SHA_STATE_ERROR);
    EXPECT_EQ(text(), "");
    EXPECT_EQ(sha1_set_input(&info_, h.get()), RC_BUSY);
    EXPECT_EQ(sha1_calc(&info_), RC_BUSY);
}

TEST_F(Sha1Record, FinalisedRecordKeepsNoMessageBytesOrLength)
{
    Handle h = file_with("abc.bin", "abc");
    ASSERT_EQ(sha1_set_input(&info_, h.get()), RC_OK);
    ASSERT_EQ(sha1_calc(&info_), RC_OK);
    EXPECT_EQ(info_.computed, 1);
    EXPECT_EQ(info_.length_low, 0u);
    EXPECT_EQ(info_.length_high, 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(info_.msg_block), 64), std::string(64, '\0'));
    EXPECT_EQ(tavro_test::hex_lower(info_.msg_digest, 20), kAbcDigest);
}

TEST_F(Sha1Record, EmptyInputToFinalisedRecordIsAccepted)
{
    const uint8_t byte = 'x';
    info_.computed = 1;
    EXPECT_EQ(sha1_input(&info_, &byte, 0), SHA_OK);
    EXPECT_EQ(info_.corrupted, SHA_OK);
}

TEST_F(Sha1Record, InputToFinalisedRecordSpoilsIt)
{
    const uint8_t byte = 'x';
    info_.computed = 1;
    EXPECT_EQ(sha1_input(&info_, &byte, 1), SHA_STATE_ERROR);
    EXPECT_EQ(info_.corrupted, SHA_STATE_ERROR);
    EXPECT_EQ(info_.block_index, 0);
    EXPECT_EQ(sha1_result(&info_), SHA_STATE_ERROR);
}

TEST_F(Sha1Record, NullRecordOrSourceIsRefused)
{
    const uint8_t byte = 'x';
    EXPECT_EQ(sha1_input(nullptr, &byte, 1), SHA_NULL);
    EXPECT_EQ(sha1_input(&info_, nullptr, 1), SHA_NULL);
    EXPECT_EQ(sha1_result(nullptr), SHA_NULL);
    EXPECT_EQ(info_.corrupted, SHA_OK);
}

TEST_F(Sha1Record, ByteThatOverflowsTheBitCountIsStoredAndTheRestDropped)
{
    set_length_short_of_overflow(8); // the next byte wraps the 64-bit bit count
    const uint8_t bytes[] = {0x11, 0x22, 0x33};
    EXPECT_EQ(sha1_input(&info_, bytes, sizeof bytes), SHA_OK);
    EXPECT_EQ(info_.corrupted, SHA_TOO_LONG);
    EXPECT_EQ(info_.block_index, 1);
    EXPECT_EQ(info_.msg_block[0], 0x11);
    EXPECT_EQ(info_.msg_block[1], 0x00);
    EXPECT_EQ(info_.length_low, 0u);
    EXPECT_EQ(info_.length_high, 0u);
    // The next input and the finalisation report it; nothing more is taken.
    EXPECT_EQ(sha1_input(&info_, bytes, 1), SHA_TOO_LONG);
    EXPECT_EQ(info_.block_index, 1);
    EXPECT_EQ(sha1_result(&info_), SHA_TOO_LONG);
    EXPECT_EQ(info_.computed, 0);
}

TEST_F(Sha1Record, BytesShortOfTheOverflowAreAccepted)
{
    set_length_short_of_overflow(16);
    const uint8_t byte = 0x11;
    EXPECT_EQ(sha1_input(&info_, &byte, 1), SHA_OK);
    EXPECT_EQ(info_.corrupted, SHA_OK);
    EXPECT_EQ(info_.length_low, 0xFFFFFFF8u);
    EXPECT_EQ(info_.length_high, 0xFFFFFFFFu);
}

TEST_F(Sha1Record, FileThatOverflowsTheBitCountFailsWithSha1Error)
{
    // One read that ends at end of file (reported by the finalisation) and several reads
    // (reported by the next input).
    for (size_t size : {1000u, 100000u}) {
        SCOPED_TRACE("file of " + std::to_string(size) + " bytes");
        ASSERT_EQ(sha1_init(&info_), RC_OK);
        Handle h = file_with("big.bin", std::string(size, 'o'));
        set_length_short_of_overflow(8 * 10);
        ASSERT_EQ(sha1_set_input(&info_, h.get()), RC_OK);
        EXPECT_EQ(sha1_calc(&info_), RC_SHA1_ERROR);
        EXPECT_EQ(info_.stt, STT_BUSY);
        EXPECT_EQ(info_.corrupted, SHA_TOO_LONG);
        EXPECT_EQ(info_.computed, 0);
    }
}

TEST_F(Sha1Record, FinalisationRepeatedRewritesTheSameDigest)
{
    Handle h = file_with("abc.bin", "abc");
    ASSERT_EQ(sha1_set_input(&info_, h.get()), RC_OK);
    ASSERT_EQ(sha1_calc(&info_), RC_OK);
    memset(info_.msg_digest, 0, sizeof info_.msg_digest);
    EXPECT_EQ(sha1_result(&info_), SHA_OK);
    EXPECT_EQ(tavro_test::hex_lower(info_.msg_digest, 20), kAbcDigest);
}

} // namespace
