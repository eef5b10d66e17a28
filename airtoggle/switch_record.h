// The record of a switch under way. A switch stops and starts services; a run ended
// between the two (an installer's time-out, a user, the utility closer) would leave a
// service stopped that the next run takes for one the user stopped. So a run records,
// before its first change, that it is switching, and before it changes a service's state,
// the state it found it in; it removes the record as its sequence ends. A run that finds
// a record puts those services back first. The record is a volatile key, gone after a
// restart, which starts every service by its start type anyway. The 9x family has no
// services: there nothing is written or read.
#pragma once

#include "platform/kernel.h"

// Puts every service a record left by an ended run names back into the state recorded
// for it (bounded waits), then removes the record. Nothing when there is no record.
void FinishEndedSwitch();
// Records that a switch is under way; called before the first change of a run.
void BeginSwitchRecord();
// Adds `service` with the state it was found in (SERVICE_STOPPED or SERVICE_RUNNING);
// called before its state is changed. Nothing when no switch is recorded.
void NoteServiceState(const char* service, DWORD state);
// Removes the record; called when the sequence has ended.
void EndSwitchRecord();
