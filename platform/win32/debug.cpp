// Debug output: standard error on request, and the test capture hook.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "cehost/debug_capture.h"
#include "cehost/text.h"
#include "winbase.h"

namespace cehost {

namespace {

struct CaptureList {
  std::mutex lock;
  std::vector<DebugCapture*> active;  // guarded by lock
};

CaptureList& Captures() {
  static CaptureList* list = new CaptureList;  // never destroyed: used by static destructors
  return *list;
}

bool ToStderr() {
  static const bool on = [] {
    const char* v = std::getenv("CEHOST_DEBUG");
    return v && *v && std::strcmp(v, "0") != 0;
  }();
  return on;
}

void Emit(std::string text) {
  if (ToStderr()) {
    // One write per message keeps lines of different threads apart.
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  }
  CaptureList& list = Captures();
  std::lock_guard<std::mutex> guard(list.lock);
  for (DebugCapture* c : list.active) c->Append(text);
}

}  // namespace

DebugCapture::DebugCapture() {
  CaptureList& list = Captures();
  std::lock_guard<std::mutex> guard(list.lock);
  list.active.push_back(this);
}

DebugCapture::~DebugCapture() {
  CaptureList& list = Captures();
  std::lock_guard<std::mutex> guard(list.lock);
  std::erase(list.active, this);
}

std::vector<std::string> DebugCapture::Messages() const {
  std::lock_guard<std::mutex> guard(lock_);
  return messages_;
}

std::string DebugCapture::Text() const {
  std::lock_guard<std::mutex> guard(lock_);
  std::string all;
  for (const auto& m : messages_) all += m;
  return all;
}

bool DebugCapture::Contains(std::string_view fragment) const {
  return Text().find(fragment) != std::string::npos;
}

void DebugCapture::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  messages_.clear();
}

void DebugCapture::Append(std::string text) {
  std::lock_guard<std::mutex> guard(lock_);
  messages_.push_back(std::move(text));
}

}  // namespace cehost

extern "C" {

void OutputDebugStringW(LPCWSTR lpOutputString) {
  if (lpOutputString) cehost::Emit(cehost::ToUtf8(lpOutputString));
}

void OutputDebugStringA(LPCSTR lpOutputString) {
  if (!lpOutputString) return;
  // 8-bit debug text is taken as the ANSI code page, like the device's.
  const int n = MultiByteToWideChar(CP_ACP, 0, lpOutputString, -1, nullptr, 0);
  if (n <= 0) return;
  std::u16string wide(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, lpOutputString, -1, wide.data(), n);
  wide.pop_back();
  cehost::Emit(cehost::ToUtf8(wide));
}

void NKDbgPrintfW(LPCWSTR lpszFmt, ...) {
  va_list ap;
  va_start(ap, lpszFmt);
  const std::u16string text = cehost::FormatWide(lpszFmt, ap);
  va_end(ap);
  cehost::Emit(cehost::ToUtf8(text));
}

}  // extern "C"
