// The record's folder on Windows: the record's use of the folder judgement.
#include "record/record_folder_win32.h"

#include <windows.h>

#include <shlobj.h>

#include "record/service_sid_win32.h"
#include "record/update_record.h"
#include "version.h"

namespace clockagent {
namespace {

// Asked of the shell, not the environment: a service need not have the variable.
std::string Folder() {
  char data[MAX_PATH];
  if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, data) != S_OK) {
    return "";
  }
  return std::string(data) + "\\" CLOCKAGENT_COMPANY "\\" CLOCKAGENT_PRODUCT;
}

// The maker's folder's: the system and administrators in full, users to read.
constexpr char kCompanyFolderSecurity[] = "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";

}  // namespace

FolderAccess RecordFolderAccess() {
  // The service: on the folder, to list it and add files (0x1200ab); on the files it gets, to
  // read, write and remove them (0x1301bf).
  const std::string service = ServiceSidText();
  return {"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;" + service +
              ")(A;OIIO;0x1301bf;;;" + service + ")(A;OICI;FRFX;;;BU)",
          service};
}

std::string RecordPath() {
  const std::string folder = Folder();
  return folder.empty() ? "" : folder + "\\" + kRecordFileName;
}

std::string RecordFolder() { return Folder(); }

bool MakeRecordFolder(std::string* refusal, std::string* notice) {
  refusal->clear();
  const std::string folder = Folder();
  if (folder.empty()) return false;
  const std::string company = folder.substr(0, folder.find_last_of('\\'));
  const FolderAccess access = RecordFolderAccess();
  std::string why, companyAside, folderAside;
  // The maker's folder too: its owner could rename the record's folder and put another there.
  const bool secured =
      SecureFolder(company, {kCompanyFolderSecurity, access.adder}, &why, &companyAside) &&
      SecureFolder(folder, access, &why, &folderAside);
  if (!secured) {
    *refusal = "ClockAgent writes no record in " + folder + ": " +
               (why.empty() ? "it cannot be made" : why) +
               ", and only an administrator can set that right. Remove the folder, or give it to "
               "the administrators, and start ClockAgent again.";
    return false;
  }
  const std::string& aside = companyAside.empty() ? folderAside : companyAside;
  if (!aside.empty() && notice != nullptr) {
    *notice = "ClockAgent found a folder of its record that was not the administrators' alone, and "
              "set it aside, with what was in it, as " + aside +
              "; its record goes on in a fresh folder. Remove the old one once you have read it.";
  }
  return true;
}

bool MakeRecordFolder() {
  std::string refusal;
  return MakeRecordFolder(&refusal, nullptr);
}

bool RevokeRecordFolderGrant() {
  const std::string folder = Folder();
  return folder.empty() || RevokeFolderGrant(folder, ServiceSidText());
}

}  // namespace clockagent
