// Debug-dump frame shared by the engines.
#include "dump.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "digest.h"

namespace {

// The common header every record starts with.
struct RecordHeader {
    HANDLE myheap_h;
    int32_t stt;
    HANDLE input_h;
};

} // namespace

// "%p" differs between C runtimes (case, width, prefix); the dump always shows 8 upper-case digits,
// which on a 64-bit host (the sanitized test build) are the low half of the address.
void dump_pointer(const void *p) { printf("%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p))); }

bool dump_open(const char *type_name, const void *record)
{
    printf("\n");
    if (record == nullptr) {
        printf("NULL %s !\n", type_name);
        return false;
    }
    return true;
}

void dump_bytes(const char *type_name, const void *record, int size)
{
    printf("-------------------------------------------------\n");
    printf("%s size = %d ( 0x%x ) byte\n", type_name, size, static_cast<unsigned>(size));
    printf("           +0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F\n");

    const unsigned char *bytes = static_cast<const unsigned char *>(record);
    dump_pointer(bytes);
    printf(" : ");
    // Indent the first line so that each byte stands under its column.
    for (uintptr_t pad = reinterpret_cast<uintptr_t>(bytes) % 16; pad > 0; pad--)
        printf("   ");
    for (int i = 0; i < size; i++) {
        if (i > 0 && reinterpret_cast<uintptr_t>(bytes + i) % 16 == 0) {
            printf("\n");
            dump_pointer(bytes + i);
            printf(" : ");
        }
        printf("%02x ", bytes[i]);
    }
    printf("\n");
}

void dump_label(const char *name, int width, const void *field)
{
    printf(" .%-*s( ", width, name);
    dump_pointer(field);
    printf(" ) = ");
}

void dump_header_fields(const void *record, int width)
{
    // Every record starts with the same three words; read them by offset, not through a foreign type.
    const unsigned char *base = static_cast<const unsigned char *>(record);
    const unsigned char *heap_field = base + offsetof(RecordHeader, myheap_h);
    const unsigned char *stt_field = base + offsetof(RecordHeader, stt);
    const unsigned char *input_field = base + offsetof(RecordHeader, input_h);
    HANDLE heap_h;
    int32_t stt;
    HANDLE input_h;
    memcpy(&heap_h, heap_field, sizeof heap_h);
    memcpy(&stt, stt_field, sizeof stt);
    memcpy(&input_h, input_field, sizeof input_h);

    dump_label("myheap_h", width, heap_field);
    dump_pointer(heap_h);
    printf("\n");
    dump_label("stt", width, stt_field);
    printf("%d\n", static_cast<int>(stt));
    dump_label("input_h", width, input_field);
    dump_pointer(input_h);
    printf("\n");
}
