// Stand-ins for programs of the platform that the programs start: each is a handler
// the machine runs as that program (see programs_state.h).
#pragma once

#include "platform/sim/programs_state.h"

namespace sim {

// The platform's INF installer as "rundll32.exe setupapi,InstallHinfSection <section>
// <mode> <inf path>": applies the AddReg and DelReg sections that the named install
// section lists to the machine's registry. Exits with 0 whatever happens, also when the
// INF is missing.
ProgramHandler InfInstaller();

// The registry editor as "regedit /s <file>" (the file name may be quoted): imports a
// registry script into the machine's registry (on the 9x family ANSI text beginning
// REGEDIT4; on the NT family also "Windows Registry Editor Version 5.00", ANSI or UTF-16LE
// with its byte-order mark, hex(2) and hex(7) data then UTF-16 strings): keys
// created or, written as [-key], deleted with everything below them; string, dword,
// hex, hex(2) and hex(7) values, and "name"=- deleting a value. A value whose data the
// editor refuses (dword: not 1 to 8 hexadecimal digits, hex data not bytes of one or two
// digits) is left out and the import goes on. Without "/s" the real
// program would ask first; the stand-in then imports nothing. Exits with 0.
ProgramHandler RegistryEditor();

}  // namespace sim
