// libFuzzer target for the CSV reader. Besides "no crash, no hang" it holds
// the reader and writer to their promises: a refusal names a line of the
// text (0: the text as a whole); every code read is in the written form; and what was read, written
// again, reads back to the same codes and writes the same bytes.

#include <cstddef>
#include <cstdint>

#include "config/TableCsv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    TableCodes codes;
    CsvProblem problem;
    if (!ReadTableCsv(text, codes, &problem)) {
        // A line ends at LF, CR LF or a lone CR.
        if (problem.line < 0 || problem.line > text.count('\n') + text.count('\r') + 1 || problem.message.isEmpty()) __builtin_trap();
        return 0;
    }
    for (int row = 0; row < TableLayout::kRows; ++row) {
        if (!codes.title[row].isEmpty()) __builtin_trap();
        for (int column = 0; column < TableLayout::kColumns; ++column) {
            QString canonical;
            if (!CanonicalCode(codes.code[row][column], &canonical) || canonical != codes.code[row][column]) __builtin_trap();
            if (!TableLayout::IsValueCell(row, column) && !codes.code[row][column].isEmpty()) __builtin_trap();
        }
    }
    const QByteArray written = WriteTableCsv(codes);
    TableCodes again;
    if (!ReadTableCsv(written, again, nullptr) || !(again == codes)) __builtin_trap();
    if (WriteTableCsv(again) != written) __builtin_trap();
    return 0;
}
