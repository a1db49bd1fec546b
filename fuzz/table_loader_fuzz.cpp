// libFuzzer target for the table-file loader. Besides "no crash, no hang, no
// unbounded allocation" it holds the loader and writer to one promise: a
// file that loads is written back in a form that loads again to the same bytes.

#include <cstddef>
#include <cstdint>

#include "config/TableFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TableContent table;
    if (!ParseTableFile(reinterpret_cast<const char*>(data), qsizetype(size), table)) return 0;
    const QByteArray written = WriteTableFile(table);
    TableContent again;
    if (!ParseTableFile(written, again)) __builtin_trap();
    if (WriteTableFile(again) != written) __builtin_trap();
    return 0;
}
