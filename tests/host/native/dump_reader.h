// Reads the debug dumps back: captures standard output into memory and checks the frame and
// byte block against the record they claim to show.
#ifndef TAVRO_HOST_DUMP_READER_H
#define TAVRO_HOST_DUMP_READER_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// What `print` wrote to standard output.
std::string capture_stdout(const std::function<void()> &print);

// A named-field line of a dump: " .<name>", padding, "( <address> ) = " and the value text
// (not checked when empty).
struct DumpField {
    const char *name;
    const void *address;
    std::string value;
};

// A pointer as the dumps print it: 8 upper-case hexadecimal digits, the low half of a 64-bit address.
std::string pointer_text(const void *p);

// Empty when `text` is the dump of the `size` bytes at `record` with the given field lines in
// order (continuation lines between them allowed), else the first thing that is wrong.
std::string check_dump(const std::string &text, const char *type_name, const void *record, size_t size,
                       const std::vector<DumpField> &fields);

#endif
