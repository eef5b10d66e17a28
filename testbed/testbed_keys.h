// Registry places where the test bed's stand-ins take their script and leave their record.
#pragma once

// The radio library stand-in: one subkey per adapter ("0", "1", ...) with "Name" (text)
// and "Code" (dword); "Signalled" (text) receives, line by line, "<name> <option>" for
// each SetControlOption.
#define TESTBED_RADIO_KEY "SOFTWARE\\AdapterTestbed\\Radio"

// The service stand-in: per service, under its own key's "Parameters", "StartDelayMs" and
// "StopDelayMs" (dword). Every start and stop of either service is appended, one line
// each, to "Journal" (text) under TESTBED_SERVICE_KEY: "<name> start <flags>" or
// "<name> stop", where <flags> lists "{interface}=0xXXXXXXXX" for each interface record
// as found at that start.
#define TESTBED_SERVICE_KEY "SOFTWARE\\AdapterTestbed\\Services"
