// Pakrun's start-up and run sequence: the start-up values, the single-instance guard,
// section PARAMS of the settings file, the setup program's command line, and the fixed
// order of the preparation and follow-up steps around the setup program.
#pragma once

#include <cstddef>

#include "platform/kernel.h"

// Formed once at start-up, read-only afterwards. Each path holds MAX_PATH characters.
struct StartupValues {
  char programPath[MAX_PATH];
  char programDirectory[MAX_PATH];
  char shortProgramDirectory[MAX_PATH];  // the long directory when no short form exists
  bool shortFormMissing;                  // no short form could be obtained
  char programFileName[MAX_PATH];
  char settingsPath[MAX_PATH];  // empty when it would not fit
  char scriptPath[MAX_PATH];    // empty when it would not fit
  const char* osSuffix;
};

// The INI file named to the setup program when CMDINI is not given.
constexpr char kDefaultCmdIni[] = "Netprep.ini";

// The switches and names of section PARAMS.
struct RunParams {
  bool swapCmd = false;
  bool cleanUp = false;
  bool rename = false;
  bool refresh = false;
  bool staticReg = false;
  bool driverReg = false;
  bool staticRegFromFile = false;
  bool namesFit = true;  // CMDEXE and CMDINI were read whole
  char cmdExe[MAX_PATH] = {};
  char cmdIni[MAX_PATH] = {};
};

// Reads the nine keys of section PARAMS.
void ReadParams(const char* settingsPath, RunParams* params);

// The setup program's command line, composed in `capacity` characters (the run uses
// kCommandLineCapacity, what RunAndWait starts); false, and nothing to start, when the
// setup path, the INI path or the whole line would not fit.
bool ComposeSetupCommandLine(const StartupValues& values, const RunParams& params,
                             const char* tail, char* commandLine, std::size_t capacity);

// Forms the start-up values. False when the program's own path cannot be obtained
// whole: then there is nothing the run could safely do.
bool FormStartupValues(StartupValues* values);

// "_2000", "_XP", "_2003" for Windows 2000, XP and Server 2003; "_ELSE" otherwise and
// when the version cannot be read.
const char* OsSuffix();

// The part of `commandLine` after the program name and the blanks and tabs that follow
// it, with the name split off as the C runtime splits it: a quoted name ends at its
// closing quote, an unquoted one at the first blank or tab. Empty text when there is none.
const char* CommandTail(const char* commandLine);

// The whole run for the process whose command line is `commandLine`. Returns the exit
// code, which is 1 on every path.
int PakrunMain(const char* commandLine);
