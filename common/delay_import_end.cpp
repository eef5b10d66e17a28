// The zero descriptor that ends the table of a program's delayed libraries. dlltool puts
// each library's descriptor in section .text$2 and nothing after the last one; the linker
// sorts .text$3 right behind them, with no gap as long as it is aligned like them.
// Nothing refers to it: the link keeps it by name, and cmake/delay_import_directory.py
// makes the table the program's PE delay-import directory (tools_delay_import_directory).
#include <windows.h>

#include <delayimp.h>

extern "C" __attribute__((section(".text$3"), aligned(4)))
const ImgDelayDescr tools_delay_import_end = {};
