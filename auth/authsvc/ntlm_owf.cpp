// LM, NT and NTLMv2 one-way values.
#include "ntlm_owf.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "cryptlib.h"
#include "ntlm_flags.h"
#include "securezero.h"

namespace {

// Only the first 16 characters of a password count for LM, and only 14 bytes of those.
constexpr size_t kLmMaxChars = 16;
constexpr size_t kLmKeyBytes = 14;
constexpr unsigned char kLmMagic[8] = {'K', 'G', 'S', '!', '@', '#', '$', '%'};

// The longest password the UTF-16 helpers below accept: far beyond any real password, and
// small enough that byte counts fit the 32-bit lengths of the hash interfaces.
constexpr size_t kMaxPasswordChars = 0x10000000;

// Feeds UTF-16 text as little-endian bytes, optionally upper-casing each unit, through a
// small stack buffer: no allocation, and the buffer is wiped afterwards.
template <typename Sink>
void FeedUtf16Le(std::u16string_view text, bool upper, Sink sink) {
  unsigned char chunk[128];
  size_t used = 0;
  for (WCHAR c : text) {
    if (upper) c = towupper(c);
    chunk[used++] = static_cast<unsigned char>(c & 0xFF);
    chunk[used++] = static_cast<unsigned char>(c >> 8);
    if (used == sizeof chunk) {
      sink(chunk, static_cast<unsigned int>(used));
      used = 0;
    }
  }
  if (used) sink(chunk, static_cast<unsigned int>(used));
  SecureZeroMemory(chunk, sizeof chunk);
}

// ANSI text to UTF-16 in `out` (at most `capacity` units); the number of units or -1.
int AnsiToWide(std::string_view text, WCHAR* out, int capacity) {
  if (text.empty()) return 0;
  if (text.size() > static_cast<size_t>(capacity)) return -1;
  return MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out, capacity) > 0
             ? static_cast<int>(text.size())
             : -1;
}

}  // namespace

namespace {

// LM value of at most 16 bytes of 8-bit text: ASCII letters upper-cased, cut or zero-padded
// to 14 bytes, each 7-byte half a DES key over the magic text.
bool LmOwfOfBytes(const unsigned char* text, size_t n, BYTE owf[16]) {
  unsigned char key[kLmMaxChars] = {};  // zero padding included
  std::memcpy(key, text, std::min(n, kLmMaxChars));
  for (unsigned char& b : key)
    if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 'a' + 'A');
  std::memset(key + kLmKeyBytes, 0, sizeof key - kLmKeyBytes);
  const bool ok = DES_ECB_LM(ENCRYPT, key, kLmMagic, owf) && DES_ECB_LM(ENCRYPT, key + 7, kLmMagic, owf + 8);
  if (!ok) SecureZeroMemory(owf, 16);
  SecureZeroMemory(key, sizeof key);
  return ok;
}

}  // namespace

bool ComputeLmOwf(std::u16string_view password, BYTE owf[16]) {
  assert(owf);
  unsigned char bytes[kLmMaxChars] = {};
  const size_t chars = std::min(password.size(), kLmMaxChars);
  int n = 0;
  if (chars > 0) {
    // The ANSI page has one byte per character, so 16 characters fit 16 bytes.
    n = WideCharToMultiByte(NTLM_ANSI_CODE_PAGE, 0, password.data(), static_cast<int>(chars),
                            reinterpret_cast<char*>(bytes), sizeof bytes, nullptr, nullptr);
    if (n <= 0) {
      SecureZeroMemory(owf, 16);
      return false;
    }
  }
  const bool ok = LmOwfOfBytes(bytes, static_cast<size_t>(n), owf);
  SecureZeroMemory(bytes, sizeof bytes);
  return ok;
}

bool ComputeLmOwfA(std::string_view password, BYTE owf[16]) {
  assert(owf);
  return LmOwfOfBytes(reinterpret_cast<const unsigned char*>(password.data()), password.size(), owf);
}

bool ComputeNtOwf(std::u16string_view password, BYTE owf[16]) {
  assert(owf);
  if (password.size() > kMaxPasswordChars) return false;
  MD4_CTX md4;
  MD4Init(&md4);
  FeedUtf16Le(password, false, [&](const unsigned char* p, unsigned int n) { MD4Update(&md4, p, n); });
  MD4Final(&md4);
  std::memcpy(owf, md4.digest, 16);
  SecureZeroMemory(&md4, sizeof md4);
  return true;
}

bool ComputeNtOwfA(std::string_view password, BYTE owf[16]) {
  // Converted and hashed in pieces, so no copy of the whole password is made.
  MD4_CTX md4;
  MD4Init(&md4);
  WCHAR wide[64];
  bool ok = password.size() <= kMaxPasswordChars;
  for (size_t at = 0; ok && at < password.size(); at += 64) {
    const int n = AnsiToWide(password.substr(at, 64), wide, 64);
    ok = n >= 0;
    if (ok)
      FeedUtf16Le(std::u16string_view(wide, static_cast<size_t>(n)), false,
                  [&](const unsigned char* p, unsigned int len) { MD4Update(&md4, p, len); });
  }
  MD4Final(&md4);
  if (ok) std::memcpy(owf, md4.digest, 16);
  SecureZeroMemory(&md4, sizeof md4);
  SecureZeroMemory(wide, sizeof wide);
  return ok;
}

void ComputeNtOwfV2(const BYTE ntOwf[16], std::u16string_view user, std::u16string_view domain,
                    BYTE owf[16]) {
  assert(ntOwf && owf && user.size() <= kMaxPasswordChars && domain.size() <= kMaxPasswordChars);
  HMACMD5_CTX hmac;
  HMACMD5Init(&hmac, ntOwf, NTLM_OWF_LENGTH);
  auto sink = [&](const unsigned char* p, unsigned int n) { HMACMD5Update(&hmac, p, n); };
  FeedUtf16Le(user, true, sink);
  FeedUtf16Le(domain, false, sink);
  HMACMD5Final(&hmac, owf);
}
