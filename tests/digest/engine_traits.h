// One description per engine, so that tests of a shared behaviour run over all three engines.
#ifndef TAVRO_TEST_ENGINE_TRAITS_H
#define TAVRO_TEST_ENGINE_TRAITS_H

#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "cpu.h"
#include "crc32.h"
#include "md5.h"
#include "sha1.h"
#include "test_support.h"

// A result accessor: fills `out` (at most kMaxOutput bytes) and returns a code.
struct Getter {
    const char *name;
    size_t size; // bytes it writes on success
    int (*call)(const void *info, void *out);
};
constexpr size_t kMaxOutput = 64;

struct Crc32Engine {
    using Info = CRC32_INFO;
    static constexpr const char *kType = "CRC32_INFO";
    static constexpr int32_t kFailedState = STT_READY; // after a read failure
    static Info *create() { return crc32_create(); }
    static int init(Info *i) { return crc32_init(i); }
    static int set_input(Info *i, HANDLE h) { return crc32_set_input(i, h); }
    static int calc(Info *i) { return crc32_calc(i); }
    static void free_record(Info *i) { crc32_free(i); }
    static void dump(const Info *i) { crc32_dump(i); }
    static constexpr Getter kGetters[] = {
        {"crc32_get", 4,
         [](const void *i, void *o) { return crc32_get(static_cast<const Info *>(i), static_cast<uint32_t *>(o)); }},
    };
    // The result as lower-case hex, for comparison with Python's values; "" when get fails.
    static std::string result(const Info *i)
    {
        uint32_t v = 0;
        if (crc32_get(i, &v) != RC_OK) {
            return "";
        }
        char s[9];
        snprintf(s, sizeof s, "%08x", static_cast<unsigned>(v));
        return s;
    }
    static std::string expected(const tavro_test::DigestVector &v) { return v.crc32; }
    // What init leaves besides zeros: nothing.
    static void initial_values(Info *) {}
};

struct Md5Engine {
    using Info = MD5_INFO;
    static constexpr const char *kType = "MD5_INFO";
    static constexpr int32_t kFailedState = STT_BUSY;
    static Info *create() { return md5_create(); }
    static int init(Info *i) { return md5_init(i); }
    static int set_input(Info *i, HANDLE h) { return md5_set_input(i, h); }
    static int calc(Info *i) { return md5_calc(i); }
    static void free_record(Info *i) { md5_free(i); }
    static void dump(const Info *i) { md5_dump(i); }
    static constexpr Getter kGetters[] = {
        {"md5_get_digest", 16,
         [](const void *i, void *o) {
             return md5_get_digest(static_cast<const Info *>(i), static_cast<uint8_t *>(o));
         }},
        {"md5_get_string", 33,
         [](const void *i, void *o) { return md5_get_string(static_cast<const Info *>(i), static_cast<char *>(o)); }},
    };
    static std::string result(const Info *i)
    {
        char s[33];
        return md5_get_string(i, s) == RC_OK ? std::string(s, strnlen(s, sizeof s)) : "";
    }
    static std::string expected(const tavro_test::DigestVector &v) { return v.md5; }
    // RFC 1321, 3.3.
    static void initial_values(Info *i)
    {
        i->abcd[0] = 0x67452301;
        i->abcd[1] = 0xefcdab89;
        i->abcd[2] = 0x98badcfe;
        i->abcd[3] = 0x10325476;
    }
};

struct Sha1Engine {
    using Info = SHA1_INFO;
    static constexpr const char *kType = "SHA1_INFO";
    static constexpr int32_t kFailedState = STT_BUSY;
    static Info *create() { return sha1_create(); }
    static int init(Info *i) { return sha1_init(i); }
    static int set_input(Info *i, HANDLE h) { return sha1_set_input(i, h); }
    static int calc(Info *i) { return sha1_calc(i); }
    static void free_record(Info *i) { sha1_free(i); }
    static void dump(const Info *i) { sha1_dump(i); }
    static constexpr Getter kGetters[] = {
        {"sha1_get_digest", 20,
         [](const void *i, void *o) {
             return sha1_get_digest(static_cast<const Info *>(i), static_cast<uint8_t *>(o));
         }},
        {"sha1_get_string", 41,
         [](const void *i, void *o) { return sha1_get_string(static_cast<const Info *>(i), static_cast<char *>(o)); }},
    };
    static std::string result(const Info *i)
    {
        char s[41];
        return sha1_get_string(i, s) == RC_OK ? std::string(s, strnlen(s, sizeof s)) : "";
    }
    static std::string expected(const tavro_test::DigestVector &v) { return v.sha1; }
    // FIPS 180-1, 7.
    static void initial_values(Info *i)
    {
        i->inter_hash[0] = 0x67452301;
        i->inter_hash[1] = 0xEFCDAB89;
        i->inter_hash[2] = 0x98BADCFE;
        i->inter_hash[3] = 0x10325476;
        i->inter_hash[4] = 0xC3D2E1F0;
    }
};

// The paths through the engines: each runs with the instruction sets capped to `allowed`, and is
// skipped on a processor that offers none of `needs`.
struct EnginePath {
    const char *name;
    uint32_t allowed;
    uint32_t needs;
};
constexpr EnginePath kEnginePaths[] = {
    {"Portable", 0, 0},
    {"Sse", CPU_CLMUL | CPU_SHA, CPU_CLMUL | CPU_SHA},
    {"Avx512", ~0u, CPU_VPCLMUL512},
};

// Base of the tests that run once per path; gives every instruction set back afterwards.
template <class Param> class OnEnginePath : public ::testing::TestWithParam<Param> {
  protected:
    void run_on(const EnginePath &path)
    {
        cpu_cap_features(~0u);
        if (path.needs != 0 && (cpu_features() & path.needs) == 0)
            GTEST_SKIP() << "this processor has no " << path.name << " path";
        cpu_cap_features(path.allowed);
    }
    void TearDown() override { cpu_cap_features(~0u); }
};

// The raw bytes of a record, for "nothing changed" checks.
template <class Info> std::string bytes_of(const Info &info)
{
    return std::string(reinterpret_cast<const char *>(&info), sizeof info);
}

// Directory of the build-time vectors in the ANSI code page, which open_read and read_file's calls
// read; "" when it has no such form.
inline const std::string &vector_dir()
{
    static const std::string dir = [] {
        char ansi[MAX_PATH];
        return tavro_test::ansi_path(TAVRO_VECTOR_DIR, ansi, sizeof ansi) == tavro_test::PATH_OK ? std::string(ansi)
                                                                                                 : std::string();
    }();
    return dir;
}

// A vector directory that the ANSI calls cannot name stops the program before its first test, in
// one line, instead of failing every test that reads a vector.
class VectorDirReachable : public ::testing::Environment {
  public:
    void SetUp() override
    {
        char ansi[MAX_PATH];
        tavro_test::PathStatus status = tavro_test::ansi_path(TAVRO_VECTOR_DIR, ansi, sizeof ansi);
        ASSERT_EQ(status, tavro_test::PATH_OK) << tavro_test::path_problem(TAVRO_VECTOR_DIR, status);
    }
};
inline ::testing::Environment *const vector_dir_reachable = ::testing::AddGlobalTestEnvironment(new VectorDirReachable);

// A file of the build-time vectors, or one of its lists.
inline std::string vector_path(const std::string &name) { return vector_dir() + "/" + name; }

#endif
