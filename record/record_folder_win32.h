// Where the window program and the service keep the record on Windows: kRecordFileName in
// %ProgramData%\Velmora\ClockAgent. The elevated window program and the service append to,
// rename and remove files there, so the folder (and the maker's folder above it) must be theirs
// alone (SecureFolder).
#pragma once

#include <string>

#include "record/folder_security_win32.h"

namespace clockagent {

// The record folder's access, protected from what the folder above would pass on: the system and
// administrators in full; the service may add files to the folder (not remove it, nor change its
// access) and change the files in it; users may read.
FolderAccess RecordFolderAccess();

// The record's file; empty when there is no ProgramData folder.
std::string RecordPath();

// The record's folder; empty when there is no ProgramData folder.
std::string RecordFolder();

// Makes or checks the record's folder and the maker's folder above it, as SecureFolder does. False
// when no record may be written there; `refusal` then says why (empty when there is no
// ProgramData folder at all). A folder that was set aside is told in `notice`, when given.
bool MakeRecordFolder(std::string* refusal, std::string* notice);
bool MakeRecordFolder();

// Takes the service's grant off the record's folder, as the service goes. False when it stays.
bool RevokeRecordFolderGrant();

}  // namespace clockagent
