// The service's own SID, worked out from its name as Windows does.
#include "record/service_sid_win32.h"

#include <windows.h>

#include <sddl.h>
#include <wincrypt.h>

#include "version.h"

namespace clockagent {

bool ServiceSidOf(const char* serviceName, std::vector<unsigned char>* sid) {
  // The upper-cased name in UTF-16LE, its SHA-1, and the hash's five 32-bit little-endian words
  // after the service authority's 80.
  const int length = MultiByteToWideChar(CP_UTF8, 0, serviceName, -1, nullptr, 0);
  if (length <= 1) return false;
  std::wstring name(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, serviceName, -1, &name[0], length);
  name.resize(static_cast<std::size_t>(length - 1));
  CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
  std::vector<unsigned char> bytes;
  for (wchar_t c : name) {
    bytes.push_back(static_cast<unsigned char>(c & 0xFF));
    bytes.push_back(static_cast<unsigned char>((c >> 8) & 0xFF));
  }
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    return false;
  }
  BYTE digest[20];
  DWORD digestSize = sizeof digest;
  HCRYPTHASH hash = 0;
  const bool hashed = CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash) &&
                      CryptHashData(hash, bytes.data(), static_cast<DWORD>(bytes.size()), 0) &&
                      CryptGetHashParam(hash, HP_HASHVAL, digest, &digestSize, 0) &&
                      digestSize == sizeof digest;
  if (hash != 0) CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);
  if (!hashed) return false;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  sid->assign(GetSidLengthRequired(6), 0);
  if (!InitializeSid(sid->data(), &nt, 6)) return false;
  *GetSidSubAuthority(sid->data(), 0) = SECURITY_SERVICE_ID_BASE_RID;
  for (DWORD i = 0; i < 5; ++i) {
    *GetSidSubAuthority(sid->data(), i + 1) =
        static_cast<DWORD>(digest[4 * i]) | static_cast<DWORD>(digest[4 * i + 1]) << 8 |
        static_cast<DWORD>(digest[4 * i + 2]) << 16 | static_cast<DWORD>(digest[4 * i + 3]) << 24;
  }
  return true;
}

bool ServiceSid(std::vector<unsigned char>* sid) { return ServiceSidOf(CLOCKAGENT_SERVICE_NAME, sid); }

std::string ServiceSidText() {
  std::vector<unsigned char> sid;
  char* text = nullptr;
  if (!ServiceSid(&sid) || !ConvertSidToStringSidA(sid.data(), &text)) return std::string();
  std::string result = text;
  LocalFree(text);
  return result;
}

}  // namespace clockagent
