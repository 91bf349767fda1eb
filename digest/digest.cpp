// Operations every engine shares: the large-file test.
#include "digest.h"

int is_large_file(HANDLE file_h)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file_h, &info))
        return 0;
    return (info.nFileSizeHigh != 0 || info.nFileSizeLow >= 0x80000000u) ? 1 : 0;
}
