// Reads the debug dumps back.
#include "dump_reader.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

std::string capture_stdout(const std::function<void()> &print)
{
    char *buffer = nullptr;
    size_t length = 0;
    FILE *memory = open_memstream(&buffer, &length);
    if (memory == nullptr)
        return "";
    std::fflush(stdout);
    FILE *saved = stdout;
    stdout = memory; // glibc's printf writes wherever `stdout` points
    print();
    std::fflush(memory);
    stdout = saved;
    std::fclose(memory);
    std::string text(buffer, length);
    std::free(buffer);
    return text;
}

std::string pointer_text(const void *p)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08" PRIX32, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
    return text;
}

namespace {

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    for (std::string::size_type nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    if (start != text.size())
        lines.push_back(text.substr(start)); // an unterminated last line
    return lines;
}

} // namespace

std::string check_dump(const std::string &text, const char *type_name, const void *record, size_t size,
                       const std::vector<DumpField> &fields)
{
    if (text.empty() || text.back() != '\n')
        return "the dump does not end with a newline";
    std::vector<std::string> lines = split_lines(text);
    char size_line[96];
    std::snprintf(size_line, sizeof size_line, "%s size = %zu ( 0x%zx ) byte", type_name, size, size);
    const std::string header = "           +0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F";
    if (lines.size() < 5 || !lines[0].empty() || lines[1] != std::string(49, '-') || lines[2] != size_line ||
        lines[3] != header)
        return "frame lines wrong: " + text.substr(0, 200);

    // The byte block: one line per 16-byte row of memory, the first indented to its column.
    const uint8_t *bytes = static_cast<const uint8_t *>(record);
    size_t line = 4;
    size_t i = 0;
    while (i < size) {
        if (line >= lines.size())
            return "byte block ends early";
        const std::string &l = lines[line];
        std::string label = pointer_text(bytes + i) + " : ";
        if (l.compare(0, label.size(), label) != 0)
            return "byte line " + std::to_string(line) + " should start with '" + label + "': " + l;
        size_t column = reinterpret_cast<uintptr_t>(bytes + i) % 16;
        if (i > 0 && column != 0)
            return "a byte line starts off a 16-byte boundary";
        std::string expected = label + std::string(3 * column, ' ');
        for (; i < size; i++) {
            char cell[4];
            std::snprintf(cell, sizeof cell, "%02x ", bytes[i]);
            expected += cell;
            if (reinterpret_cast<uintptr_t>(bytes + i + 1) % 16 == 0) {
                i++;
                break;
            }
        }
        if (l != expected)
            return "byte line " + std::to_string(line) + " is '" + l + "', expected '" + expected + "'";
        line++;
    }

    // The field lines, in order; lines in between (continuations) are allowed.
    for (const DumpField &f : fields) {
        std::string start = std::string(" .") + f.name;
        std::string where = "( " + pointer_text(f.address) + " ) = ";
        while (line < lines.size() && lines[line].compare(0, start.size(), start) != 0)
            line++;
        if (line == lines.size())
            return std::string("no line for field ") + f.name;
        std::string::size_type at = lines[line].find(where);
        if (at == std::string::npos)
            return "field line '" + lines[line] + "' lacks '" + where + "'";
        if (!f.value.empty() && lines[line].substr(at + where.size()) != f.value)
            return "field line '" + lines[line] + "' should show '" + f.value + "'";
        line++;
    }
    return "";
}
