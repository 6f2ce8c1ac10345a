// What registry_test_writer writes, shared with the tests that check it: value i under a
// writer's prefix holds 256 bytes derived from i.
#pragma once

#include <string>
#include <vector>

#include "wintypes.h"

namespace cehost::test {

inline std::u16string WriterValueName(const std::u16string& prefix, unsigned long i) {
  std::u16string name = prefix;
  for (char c : std::to_string(i)) name.push_back(static_cast<char16_t>(c));
  return name;
}

inline std::vector<BYTE> WriterPayload(unsigned long i) {
  std::vector<BYTE> data(256);
  for (size_t j = 0; j < data.size(); ++j) data[j] = static_cast<BYTE>(i * 31 + j);
  return data;
}

}  // namespace cehost::test
