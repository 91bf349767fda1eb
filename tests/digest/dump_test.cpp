// The debug dump, whole, against text built here from the record's bytes and real address.
#include <gtest/gtest.h>

#include <cstdarg>

#include "engine_traits.h"

using tavro_test::Handle;
using tavro_test::TempDir;

namespace {

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

// A pointer as the dump shows it: 8 upper-case hex digits, no prefix.
std::string ptr(const void *p) { return format("%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p))); }
std::string ptr(uintptr_t a) { return format("%08X", static_cast<unsigned>(a)); }

std::string hex_bytes(const uint8_t *p, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += format("%02x ", p[i]);
    }
    return s;
}

// Blank line, rule, size line, column header and the byte block broken at multiples of 16.
std::string frame(const char *type, const void *record, size_t size)
{
    std::string s = "\n" + std::string(49, '-') + "\n";
    s += format("%s size = %u ( 0x%x ) byte\n", type, static_cast<unsigned>(size), static_cast<unsigned>(size));
    s += "           +0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F\n";
    uintptr_t base = reinterpret_cast<uintptr_t>(record);
    const uint8_t *bytes = static_cast<const uint8_t *>(record);
    s += ptr(base) + " : " + std::string(3 * (base % 16), ' ');
    for (size_t i = 0; i < size; ++i) {
        if (i > 0 && (base + i) % 16 == 0) {
            s += '\n';
            s += ptr(base + i);
            s += " : ";
        }
        s += format("%02x ", bytes[i]);
    }
    return s + "\n";
}

// "<label>( <field address> ) = <value>\n"
std::string field(const char *label, const void *address, const std::string &value)
{
    return std::string(label) + "( " + ptr(address) + " ) = " + value + "\n";
}

std::string expected_dump(const CRC32_INFO &r)
{
    return frame("CRC32_INFO", &r, sizeof r) + field(" .myheap_h ", &r.myheap_h, ptr(r.myheap_h)) +
           field(" .stt      ", &r.stt, std::to_string(r.stt)) + field(" .input_h  ", &r.input_h, ptr(r.input_h)) +
           field(" .crc      ", &r.crc, format("%08x", static_cast<unsigned>(r.crc)));
}

std::string expected_dump(const MD5_INFO &r)
{
    std::string buf = hex_bytes(r.buf, 16);
    for (int row = 1; row < 4; ++row) {
        buf += "\n" + std::string(26, ' ') + hex_bytes(r.buf + 16 * row, 16);
    }
    return frame("MD5_INFO", &r, sizeof r) + field(" .myheap_h ", &r.myheap_h, ptr(r.myheap_h)) +
           field(" .stt      ", &r.stt, std::to_string(r.stt)) + field(" .input_h  ", &r.input_h, ptr(r.input_h)) +
           field(" .buf[64]  ", r.buf, buf) +
           field(" .count[2] ", r.count,
                 format("%08x, %08x", static_cast<unsigned>(r.count[0]), static_cast<unsigned>(r.count[1]))) +
           field(" .abcd[4]  ", r.abcd,
                 format("%08x, %08x, %08x, %08x", static_cast<unsigned>(r.abcd[0]), static_cast<unsigned>(r.abcd[1]),
                        static_cast<unsigned>(r.abcd[2]), static_cast<unsigned>(r.abcd[3])));
}

std::string expected_dump(const SHA1_INFO &r)
{
    return frame("SHA1_INFO", &r, sizeof r) + field(" .myheap_h     ", &r.myheap_h, ptr(r.myheap_h)) +
           field(" .stt          ", &r.stt, std::to_string(r.stt)) +
           field(" .input_h      ", &r.input_h, ptr(r.input_h)) +
           field(" .msg_digest[] ", r.msg_digest, hex_bytes(r.msg_digest, 20));
}

template <class E> class Dump : public ::testing::Test {
};
using Engines = ::testing::Types<Crc32Engine, Md5Engine, Sha1Engine>;
class EngineNames {
  public:
    template <class E> static std::string GetName(int) { return E::kType; }
};
TYPED_TEST_SUITE(Dump, Engines, EngineNames);

TYPED_TEST(Dump, NullRecordPrintsOnlyTheNullLine)
{
    using E = TypeParam;
    std::string out = tavro_test::capture_stdout([] { E::dump(nullptr); });
    EXPECT_EQ(out, std::string("\nNULL ") + E::kType + " !\n");
}

// Aligned, and 4 and 12 bytes past a multiple of 16 (leading gap, lines broken mid-record).
TYPED_TEST(Dump, RecordIsPrintedWholeAtItsOwnAddress)
{
    using E = TypeParam;
    using Info = typename E::Info;
    TempDir dir;
    // 150 bytes: MD5's buf holds a tail and count a non-trivial length.
    std::string message;
    for (int i = 0; i < 150; ++i) {
        message += static_cast<char>(i * 37 + 11);
    }
    ASSERT_TRUE(tavro_test::write_file(dir.file("m.bin"), message));
    alignas(16) unsigned char storage[sizeof(Info) + 32];
    for (size_t offset : {0u, 4u, 12u}) {
        SCOPED_TRACE("offset " + std::to_string(offset));
        Handle h = tavro_test::open_read(dir.file("m.bin"));
        Info *info = reinterpret_cast<Info *>(storage + offset);
        ASSERT_EQ(E::init(info), RC_OK);
        ASSERT_EQ(E::set_input(info, h.get()), RC_OK);
        ASSERT_EQ(E::calc(info), RC_OK);
        // Letters in the hex digits show the case of "%p".
        info->myheap_h = reinterpret_cast<HANDLE>(0x00ABCDEF);
        std::string out = tavro_test::capture_stdout([info] { E::dump(info); });
        EXPECT_EQ(out, expected_dump(*info));
    }
}

TYPED_TEST(Dump, FreshRecordIsPrintedWhole)
{
    using E = TypeParam;
    typename E::Info info;
    ASSERT_EQ(E::init(&info), RC_OK);
    std::string out = tavro_test::capture_stdout([&info] { E::dump(&info); });
    EXPECT_EQ(out, expected_dump(info));
}

} // namespace
