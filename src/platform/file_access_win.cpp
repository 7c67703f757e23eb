// Windows side of who may read or write a file (the POSIX one is
// file_access.cpp). Mode bits mean nothing here: the file's ACL decides, so
// the configuration file's readers are read from its DACL, and whether a
// file may be read or written is asked of the system by opening it with
// exactly that access (which creates and changes nothing). And the change
// of the working directory that kranzel-check --installation makes, by the
// narrow (code page) path as given.
#ifdef _WIN32
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "platform/last_error_win.h"
#include "platform/platform.h"

namespace platform {

namespace {

struct LocalFreeDeleter {
  void operator()(void* p) const { LocalFree(p); }
};

std::string SidString(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "?";
  std::string s = text;
  LocalFree(text);
  return s;
}

// The account or group a SID names, as the system knows it.
struct Account {
  std::string name;
  std::string domain;
  SID_NAME_USE use{};
};

// Looks `sid` up on this machine; false when the system cannot name it.
bool LookUpAccount(PSID sid, Account& account) {
  char name[256];
  char domain[256];
  DWORD nameLength = sizeof name;
  DWORD domainLength = sizeof domain;
  if (!LookupAccountSidA(nullptr, sid, name, &nameLength, domain, &domainLength, &account.use))
    return false;
  account.name = name;
  account.domain = domainLength > 0 ? domain : "";
  return true;
}

// DOMAIN\name as the system names the account or group, or its SID.
std::string AccountName(PSID sid) {
  Account account;
  if (!LookUpAccount(sid, account)) return SidString(sid);
  return account.domain.empty() ? account.name : account.domain + "\\" + account.name;
}

// Accounts (not groups) that may hold the password: a named user or
// computer account (the task's service account, a group managed service
// account), and the built-in service accounts.
bool IsSingleAccount(PSID sid) {
  if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinLocalServiceSid) ||
      IsWellKnownSid(sid, WinNetworkServiceSid))
    return true;
  Account account;
  return LookUpAccount(sid, account) &&
         (account.use == SidTypeUser || account.use == SidTypeComputer);
}

constexpr ACCESS_MASK kReadRights = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;

}  // namespace

FileReaders ReadersOf(const std::string& path) {
  FileReaders r;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                            &dacl, nullptr, &sd) != ERROR_SUCCESS)
    return r;
  std::unique_ptr<void, LocalFreeDeleter> holdSd(sd);
  r.known = true;
  r.summary = "ACL";
  std::string removals;
  if (dacl == nullptr) {
    // A NULL DACL lets everybody do everything.
    r.readers = "Everyone (the file has no ACL)";
    r.others = r.readers;
  } else {
    std::vector<PSID> denied;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      if (!GetAce(dacl, i, &ace)) continue;
      const auto* header = static_cast<const ACE_HEADER*>(ace);
      // An ACE only for what is created inside does not apply to the file.
      if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
      if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
        auto* deny = static_cast<ACCESS_DENIED_ACE*>(ace);
        if ((deny->Mask & kReadRights) != 0) denied.push_back(&deny->SidStart);
        continue;
      }
      if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
      auto* allow = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      if ((allow->Mask & kReadRights) == 0) continue;
      PSID sid = &allow->SidStart;
      bool isDenied = false;
      for (PSID d : denied) isDenied = isDenied || EqualSid(d, sid);
      if (isDenied) continue;
      const bool isOwner = owner != nullptr && EqualSid(sid, owner);
      const std::string name = AccountName(sid) + (isOwner ? " (owner)" : "");
      r.readers += (r.readers.empty() ? "" : ", ") + name;
      if (isOwner || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsSingleAccount(sid))
        continue;
      r.others += (r.others.empty() ? "" : ", ") + name;
      // Inherited entries go with /inheritance:r; the file's own must be removed.
      if ((header->AceFlags & INHERITED_ACE) == 0) removals += " /remove:g *" + SidString(sid);
    }
  }
  // By SID, so the command works whatever the language of the system's
  // group names (Administratoren, Jeder, Benutzer).
  r.fix = "icacls \"" + path +
          "\" /inheritance:r /grant:r *S-1-5-32-544:(F) *S-1-5-18:(F) \"<task account>:(R)\"" +
          removals;
  return r;
}

bool MayAccess(const std::string& path, Access what) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    SetErrnoFromLastError();
    return false;
  }
  const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  DWORD access = GENERIC_READ;
  if (what == Access::Write) access = directory ? FILE_ADD_FILE : FILE_APPEND_DATA;
  // Opening with the access asked for is the system's own check of the ACL
  // (and of the read-only attribute); OPEN_EXISTING creates nothing.
  HANDLE h =
      CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, directory ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return false;
  }
  CloseHandle(h);
  return true;
}

bool ChangeDirectory(const std::string& dir) {
  if (SetCurrentDirectoryA(dir.c_str())) return true;
  SetErrnoFromLastError();
  return false;
}

}  // namespace platform

#endif  // _WIN32
