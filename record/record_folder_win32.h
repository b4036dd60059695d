// Where the window program and the service keep the record on Windows: updates.csv in
// %ProgramData%\Velmora\ClockAgent. The elevated window program and the service append to,
// rename and remove files there, so the folder (and the maker's folder above it) must be theirs
// alone: a folder someone else made or may change, or a junction put in its place, would let an
// ordinary user steer those writes to any file of the system.
#pragma once

#include <string>

namespace clockagent {

// The record folder's access, protected from what the folder above would pass on: the system and
// administrators in full; the service may add files to the folder (not remove it, nor change its
// access) and change the files in it; users may read.
std::string RecordFolderSecurity();
// The maker's folder's: the system and administrators in full, users to read.
constexpr char kCompanyFolderSecurity[] = "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";

// Makes `folder` with `security` (SDDL), or takes an existing one as it is when it is a folder,
// not a junction or link, owned by the administrators or the system, and no one else may write
// to it, remove it or change its access. One that is not so is given that owner and `security`
// when this program may (elevated, or holding the folder's rights); otherwise it is refused, and
// `refusal` says why. `found`, when given, tells what the folder was before.
enum class FolderFound { Ours, OthersMayChange, OthersOwn };
bool SecureFolder(const std::string& folder, const std::string& security, std::string* refusal,
                  FolderFound* found = nullptr);

// The record's file; empty when there is no ProgramData folder.
std::string RecordPath();

// Makes or checks the record's folder and the maker's folder above it, as SecureFolder does.
// False when no record may be written there; `refusal` then says why (empty when there is no
// ProgramData folder at all).
bool MakeRecordFolder(std::string* refusal);
bool MakeRecordFolder();

// Takes the service's grant off the record's folder, as the service goes. False when it stays.
bool RevokeRecordFolderGrant();

}  // namespace clockagent
