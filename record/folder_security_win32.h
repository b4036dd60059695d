// Whether a folder is this program's own on Windows, and making it so. An elevated program that
// writes, renames and removes files in a folder must hold it alone: a folder someone else made or
// may change, or a junction put in its place, would let an ordinary user steer those writes to
// any file of the system.
#pragma once

#include <string>

namespace clockagent {

// The access a folder should have (SDDL without an owner, whose owner is to be the
// administrators), and an account (a SID as text; empty: none) that may add files to it and
// change those, but not remove the folder nor change its access.
struct FolderAccess {
  std::string security;
  std::string adder;
};

enum class FolderVerdict {
  Ours,             // the administrators' or the system's, with exactly its access
  Narrower,         // theirs, no one else may change it, its access not exactly the one asked
  OthersMayChange,  // someone else may write to it, remove it or change its access
  OthersOwn,        // another account than the administrators or the system owns it
  Unreadable,       // its owner and access cannot be read
  NotAFolder,
  Junction,         // a junction or link to elsewhere
  Missing,          // nothing can be opened there
};

// Why a folder of that verdict is refused; empty for Ours and Narrower.
const char* RefusalOf(FolderVerdict verdict);

// What a verdict rests on, read from the item itself, never from what a link there names: its
// attributes (FILE_ATTRIBUTE_*, INVALID_FILE_ATTRIBUTES when it cannot be opened), and its owner
// and access list as SDDL (empty when they cannot be read).
struct ItemSecurity {
  unsigned long attributes;
  std::string sddl;
};
ItemSecurity ReadItemSecurity(const std::string& path);

FolderVerdict JudgeFolder(const ItemSecurity& item, const FolderAccess& access);

// Whether anyone but the system, the administrators and Windows' installer may change the item
// itself (entries it only passes on aside), or its owner is another's: a program there could be
// replaced by theirs. True too when its security cannot be read.
bool OthersMayChangeItem(const ItemSecurity& item);

// Makes `folder` with `access`, or takes an existing one as it is when it is Ours, or Narrower (an
// administrator's narrowing is kept). Any other folder there is not repaired in place, since
// whoever opened it or its files before would keep their handles' rights: it is moved aside whole,
// renamed "<name> (set aside <UTC time>)" where it is (`setAside`, when given, gets its new path),
// and a fresh one is made, when this program may (elevated). Otherwise, or for a junction or a
// file there, it is refused, and `refusal` says why.
bool SecureFolder(const std::string& folder, const FolderAccess& access, std::string* refusal,
                  std::string* setAside = nullptr);

// A folder held for one use of what is in it: opened itself (a junction put in its place is not
// followed), kept from being renamed or removed while held, and judged again. While held, files
// opened by their paths in it are in this folder and no other.
class HeldFolder {
 public:
  HeldFolder(const std::string& folder, const FolderAccess& access);
  ~HeldFolder();
  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;

  // Why it is not to be used (RefusalOf its verdict now); empty when it is Ours or Narrower.
  const char* Refusal() const { return refusal_; }

 private:
  void* handle_;
  const char* refusal_ = "";
};

// Takes the entries that grant `sid` off the folder's access list. False when they stay; true
// also when there is no folder.
bool RevokeFolderGrant(const std::string& folder, const std::string& sid);

}  // namespace clockagent
