// Where the window program and the service keep the record on Windows: updates.csv in
// %ProgramData%\Velmora\ClockAgent, readable by users and writable by the programs that write it.
#pragma once

#include <string>

namespace clockagent {

// The folder's access: the system and administrators (the window program runs elevated) in full,
// LocalService (the service) to change, users to read.
constexpr char kRecordFolderSecurity[] =
    "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;LS)(A;OICI;FRFX;;;BU)";

// The record's file; empty when there is no ProgramData folder.
std::string RecordPath();

// Makes the record's folder with its access where it is missing. False when it is missing still.
bool MakeRecordFolder();

}  // namespace clockagent
