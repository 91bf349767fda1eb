// Digests of published test messages and of random files hashed by Python at build time.
#include <gtest/gtest.h>

#include <tuple>

#include "engine_traits.h"

using tavro_test::DigestVector;
using tavro_test::Handle;
using tavro_test::TempDir;

namespace {

// Runs one engine over a whole file from a fresh record; "" when any step fails.
template <class E> std::string digest_file(const std::string &path)
{
    Handle h = tavro_test::open_read(path);
    if (!h.valid()) {
        return "<cannot open " + path + ">";
    }
    typename E::Info info;
    if (E::init(&info) != RC_OK || E::set_input(&info, h.get()) != RC_OK || E::calc(&info) != RC_OK) {
        return "";
    }
    return E::result(&info);
}

template <class E> std::string digest_bytes(const std::string &bytes)
{
    TempDir dir;
    std::string path = dir.file("message.bin");
    if (!tavro_test::write_file(path, bytes)) {
        return "<cannot write>";
    }
    return digest_file<E>(path);
}

std::string repeat(const std::string &s, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += s;
    }
    return out;
}

struct Answer {
    std::string message;
    const char *digest;
};

class KnownAnswers : public OnEnginePath<EnginePath> {
  protected:
    void SetUp() override { run_on(GetParam()); }
};

TEST_P(KnownAnswers, Crc32CheckValueOfDigitsIsCbf43926)
{
    EXPECT_EQ(digest_bytes<Crc32Engine>("123456789"), "cbf43926");
}

TEST_P(KnownAnswers, EmptyInputGivesEachAlgorithmsEmptyDigest)
{
    EXPECT_EQ(digest_bytes<Crc32Engine>(""), "00000000");
    EXPECT_EQ(digest_bytes<Md5Engine>(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(digest_bytes<Sha1Engine>(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

// RFC 1321, A.5.
TEST_P(KnownAnswers, Md5MatchesRfc1321TestSuite)
{
    const Answer answers[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {repeat("1234567890", 8), "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Answer &a : answers) {
        EXPECT_EQ(digest_bytes<Md5Engine>(a.message), a.digest) << '"' << a.message << '"';
    }
}

// RFC 3174, section 7.3 (TEST1 to TEST4, with their repeat counts).
TEST_P(KnownAnswers, Sha1MatchesRfc3174Vectors)
{
    const Answer answers[] = {
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {repeat("0123456701234567012345670123456701234567012345670123456701234567", 10),
         "dea356a2cddd90c7a7ecedc5ebb563934f460452"},
    };
    for (const Answer &a : answers) {
        EXPECT_EQ(digest_bytes<Sha1Engine>(a.message), a.digest) << "message of " << a.message.size() << " bytes";
    }
}

// The digest bytes and the digest text describe the same value, byte i as character pair i.
TEST_P(KnownAnswers, DigestBytesMatchDigestText)
{
    TempDir dir;
    std::string path = dir.file("abc.bin");
    ASSERT_TRUE(tavro_test::write_file(path, "abc"));
    MD5_INFO md5;
    {
        Handle h1 = tavro_test::open_read(path); // opened without sharing: one at a time
        ASSERT_EQ(md5_init(&md5), RC_OK);
        ASSERT_EQ(md5_set_input(&md5, h1.get()), RC_OK);
        ASSERT_EQ(md5_calc(&md5), RC_OK);
    }
    uint8_t md5_bytes[16];
    ASSERT_EQ(md5_get_digest(&md5, md5_bytes), RC_OK);
    EXPECT_EQ(tavro_test::hex_lower(md5_bytes, sizeof md5_bytes), "900150983cd24fb0d6963f7d28e17f72");

    Handle h2 = tavro_test::open_read(path);
    SHA1_INFO sha1;
    ASSERT_EQ(sha1_init(&sha1), RC_OK);
    ASSERT_EQ(sha1_set_input(&sha1, h2.get()), RC_OK);
    ASSERT_EQ(sha1_calc(&sha1), RC_OK);
    uint8_t sha1_bytes[20];
    ASSERT_EQ(sha1_get_digest(&sha1, sha1_bytes), RC_OK);
    EXPECT_EQ(tavro_test::hex_lower(sha1_bytes, sizeof sha1_bytes), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

// Calls fn(arg) with the stack pointer `skew` bytes short of a 16-byte boundary at the call: the
// system promises 32-bit programs only 4-byte alignment, as when it enters a window procedure.
__attribute__((noinline)) int call_with_stack_skew(int (*fn)(void *), void *arg, uint32_t skew)
{
    int result;
    __asm__ volatile("mov %%esp, %%esi\n\t"
                     "and $-16, %%esp\n\t"
                     "sub %[skew], %%esp\n\t"
                     "sub $12, %%esp\n\t"
                     "push %[arg]\n\t"
                     "call *%[fn]\n\t"
                     "mov %%esi, %%esp"
                     : "=a"(result)
                     : [fn] "r"(fn), [arg] "r"(arg), [skew] "r"(skew)
                     : "ecx", "edx", "esi", "memory", "cc"); // built for i686: no vector values live here
    return result;
}

struct SkewedRun {
    std::string path, crc32, sha1;
};

// An aligned spill slot on a misaligned stack faults; a wrong digest would show a lost value.
// Python: zlib.crc32 and hashlib.sha1 of the same 65604 bytes.
TEST_P(KnownAnswers, VectorCodeRunsOnAStackAlignedToFourBytesOnly)
{
    TempDir dir;
    SkewedRun run{dir.file("m.bin"), "", ""};
    ASSERT_TRUE(tavro_test::write_file(run.path, repeat("0123456789abcdef", 4100) + "tail"));
    for (uint32_t skew : {4u, 8u, 12u}) {
        int rc = call_with_stack_skew(
            [](void *p) {
                SkewedRun &r = *static_cast<SkewedRun *>(p);
                r.crc32 = digest_file<Crc32Engine>(r.path);
                r.sha1 = digest_file<Sha1Engine>(r.path);
                return 1;
            },
            &run, skew);
        EXPECT_EQ(rc, 1);
        EXPECT_EQ(run.crc32, "95be753a") << "skew " << skew;
        EXPECT_EQ(run.sha1, "6a82974b9ee70740a7bf25ea36837d2d58db0d18") << "skew " << skew;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, KnownAnswers, ::testing::ValuesIn(kEnginePaths),
                         [](const ::testing::TestParamInfo<EnginePath> &p) { return std::string(p.param.name); });

// Random files of every boundary size, against Python's hashlib and zlib, on every path.
class SecondOpinion : public OnEnginePath<std::tuple<EnginePath, uint32_t>> {
  protected:
    static void SetUpTestSuite() { list_ = tavro_test::load_digest_vectors(vector_path("expected.txt")); }
    void SetUp() override { run_on(std::get<0>(GetParam())); }
    static std::vector<DigestVector> list_;

    const DigestVector *find(uint32_t size)
    {
        for (const DigestVector &v : list_) {
            if (v.size == size) {
                return &v;
            }
        }
        return nullptr;
    }
};
std::vector<DigestVector> SecondOpinion::list_;

TEST_P(SecondOpinion, AllThreeEnginesAgreeWithPython)
{
    const DigestVector *v = find(std::get<1>(GetParam()));
    ASSERT_NE(v, nullptr) << "no vector of " << std::get<1>(GetParam()) << " bytes in " << vector_path("expected.txt");
    std::string path = vector_path(v->name);
    EXPECT_EQ(digest_file<Crc32Engine>(path), v->crc32);
    EXPECT_EQ(digest_file<Md5Engine>(path), v->md5);
    EXPECT_EQ(digest_file<Sha1Engine>(path), v->sha1);
}

constexpr uint32_t kVectorSizes[] = {TAVRO_VECTOR_SIZES};
INSTANTIATE_TEST_SUITE_P(Sizes, SecondOpinion,
                         ::testing::Combine(::testing::ValuesIn(kEnginePaths), ::testing::ValuesIn(kVectorSizes)),
                         [](const ::testing::TestParamInfo<std::tuple<EnginePath, uint32_t>> &p) {
                             return std::string(std::get<0>(p.param).name) + "Bytes" +
                                    std::to_string(std::get<1>(p.param));
                         });

} // namespace
