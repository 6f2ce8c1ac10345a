// Test hook on the debug output: while a DebugCapture lives, every OutputDebugString and
// NKDbgPrintfW text of every thread is also appended to it. Captures nest; each sees the text
// written during its own lifetime.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "wintypes.h"

namespace cehost {

class CEHOST_EXPORT DebugCapture {
 public:
  DebugCapture();
  ~DebugCapture();
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;

  // Each debug-output call's text, in UTF-8, in the order written.
  std::vector<std::string> Messages() const;
  // All text concatenated.
  std::string Text() const;
  bool Contains(std::string_view fragment) const;
  void Clear();

  // Called by the debug-output functions; not for other callers.
  void Append(std::string text);

 private:
  mutable std::mutex lock_;
  std::vector<std::string> messages_;  // guarded by lock_
};

}  // namespace cehost
