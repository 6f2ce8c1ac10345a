// Helpers for the NTLM tests: hex text, UTF-16LE bytes and one-message descriptors.
#pragma once

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "sspi.h"
#include "windows.h"

namespace ntlmtest {

inline std::vector<BYTE> Hex(std::string_view hex) {
  auto nibble = [](char c) { return static_cast<BYTE>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10); };
  std::vector<BYTE> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<BYTE>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
  return out;
}

inline std::string ToHex(const BYTE* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s.push_back(kDigits[p[i] >> 4]);
    s.push_back(kDigits[p[i] & 15]);
  }
  return s;
}
inline std::string ToHex(const std::vector<BYTE>& v) { return ToHex(v.data(), v.size()); }
template <size_t N>
std::string ToHex(const BYTE (&a)[N]) {
  return ToHex(a, N);
}

inline std::vector<BYTE> Utf16Le(std::u16string_view s) {
  std::vector<BYTE> out;
  for (char16_t c : s) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
  return out;
}

inline std::vector<BYTE> Bytes(std::string_view s) { return std::vector<BYTE>(s.begin(), s.end()); }

// A message of one data buffer followed by one 16-byte signature token; Desc() points a
// descriptor at them.
struct Message {
  explicit Message(std::vector<BYTE> bytes) : data(std::move(bytes)) {}
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;

  PSecBufferDesc Desc() {
    buffers[0] = {static_cast<ULONG>(data.size()), SECBUFFER_DATA, data.data()};
    buffers[1] = {sizeof token, SECBUFFER_TOKEN, token};
    desc = {SECBUFFER_VERSION, 2, buffers};
    return &desc;
  }
  std::string TokenHex() const { return ToHex(token, sizeof token); }

  std::vector<BYTE> data;
  BYTE token[16] = {};
  SecBuffer buffers[2] = {};
  SecBufferDesc desc = {};
};

}  // namespace ntlmtest
