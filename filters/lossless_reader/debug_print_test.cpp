#include "debug_print.h"

#include <gtest/gtest.h>

#include <string>

#include "cehost/debug_capture.h"

namespace lossless_reader {
namespace {

TEST(DebugPrint, TagMessageAndLineEndInOneLine) {
  cehost::DebugCapture capture;
  DebugPrint(u"stsz[%d] > 65 kB (%ld) %c%c", 3, uint32_t(70000), int(u'o'), int(u'k'));
  ASSERT_EQ(capture.Messages().size(), 1u);
  EXPECT_EQ(capture.Messages()[0], "LOSSLESSREADER:stsz[3] > 65 kB (70000) ok\r\n");
}

TEST(DebugPrint, LongMessagesAreCutToTheBuffer) {
  cehost::DebugCapture capture;
  const std::u16string long_text(400, u'x');
  DebugPrint(u"%s", long_text.c_str());
  EXPECT_EQ(capture.Text(), "LOSSLESSREADER:" + std::string(255, 'x') + "\r\n");
}

}  // namespace
}  // namespace lossless_reader
