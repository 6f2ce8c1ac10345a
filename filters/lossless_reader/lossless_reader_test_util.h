// Test helpers for the source filter: references released at scope end, a filter made through
// its creation function, fixture paths and hand-built files written to disk.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cehost/text.h"
#include "lossless_reader_filter.h"
#include "strmif.h"
#include "testsupport.h"

namespace lossless_reader::test {

// Holds one reference.
template <typename T>
class Ref {
 public:
  Ref() = default;
  ~Ref() { reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  T** out() {
    reset();
    return &p_;
  }
  void** void_out() { return reinterpret_cast<void**>(out()); }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// A new filter, as the class factory makes it, seen through its interfaces.
struct Reader {
  Reader() {
    HRESULT hr = S_OK;
    CUnknown* object = CLosslessReaderFilter::CreateInstance(nullptr, &hr);
    EXPECT_EQ(hr, S_OK);
    if (!object) return;
    object->NonDelegatingAddRef();
    EXPECT_EQ(object->NonDelegatingQueryInterface(IID_IBaseFilter, filter.void_out()), S_OK);
    EXPECT_EQ(object->NonDelegatingQueryInterface(IID_IFileSourceFilter, file.void_out()), S_OK);
    object->NonDelegatingRelease();
    Ref<IPin> pin;
    EXPECT_EQ(filter->FindPin(u"Output", pin.out()), S_OK);
    EXPECT_EQ(pin->QueryInterface(IID_IMediaSeeking, seeking.void_out()), S_OK);
  }
  HRESULT Load(const std::filesystem::path& path) {
    return file->Load(cehost::FromUtf8(path.string()).c_str(), nullptr);
  }

  Ref<IBaseFilter> filter;
  Ref<IFileSourceFilter> file;
  Ref<IMediaSeeking> seeking;  // the output pin's
};

inline std::filesystem::path Fixture(const std::string& name) {
  return cehost::test::SourcePath("tests/fixtures/alac/" + name);
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
}

}  // namespace lossless_reader::test
