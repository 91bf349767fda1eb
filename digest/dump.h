// Debug-dump frame shared by the engines: null line, size line, byte block and field labels.
#ifndef TAVRO_DUMP_H
#define TAVRO_DUMP_H

// Prints the leading "\n"; for a null record also "NULL <type> !\n". False when the record is null.
bool dump_open(const char *type_name, const void *record);
// Prints the hyphen line, "<type> size = N ( 0xn ) byte", the column header and the byte block.
void dump_bytes(const char *type_name, const void *record, int size);
// Prints " .<name>" padded to `width` characters, then "( %p ) = " with the field's address.
void dump_label(const char *name, int width, const void *field);
// Prints a pointer as exactly 8 upper-case hexadecimal digits.
void dump_pointer(const void *p);
// Prints the three header-field lines (myheap_h, stt, input_h) with names padded to `width`.
void dump_header_fields(const void *record, int width);

#endif
