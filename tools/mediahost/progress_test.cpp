// The progress line: its text, redrawing only on change, and silence off a terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "progress.h"

namespace {

using mediahost::ProgressDisplay;
constexpr REFERENCE_TIME kSecond = 10000000;

TEST(Progress, Text) {
  EXPECT_EQ(ProgressDisplay::FormatTime(0), "0:00");
  EXPECT_EQ(ProgressDisplay::FormatTime(61 * kSecond + kSecond / 2), "1:01");
  EXPECT_EQ(ProgressDisplay::FormatTime(3 * 3600 * kSecond + 5 * kSecond), "3:00:05");
  EXPECT_EQ(ProgressDisplay::FormatTime(-kSecond), "0:00");
  EXPECT_EQ(ProgressDisplay::Line(30 * kSecond, 120 * kSecond), "0:30 / 2:00 (25%)");
  EXPECT_EQ(ProgressDisplay::Line(200 * kSecond, 120 * kSecond), "2:00 / 2:00 (100%)");  // capped
  EXPECT_EQ(ProgressDisplay::Line(7 * kSecond, 0), "0:07");                              // no duration
}

std::string Drawn(bool terminal) {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  {
    ProgressDisplay display(out, terminal);
    display.Update(65 * kSecond, 600 * kSecond);
    display.Update(65 * kSecond + 1, 600 * kSecond);  // same text: not drawn again
    display.Update(5 * kSecond, 0);                    // shorter: the rest is blanked
  }
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

TEST(Progress, RedrawsInPlaceOnATerminalAndStaysQuietElsewhere) {
  EXPECT_EQ(Drawn(true), "\r1:05 / 10:00 (10%)\r0:05              \n");
  EXPECT_EQ(Drawn(false), "");
  // A file is not a terminal: the display finds that out by itself.
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    ProgressDisplay display(file);
    display.Update(kSecond, 2 * kSecond);
  }
  EXPECT_EQ(std::ftell(file), 0);
  std::fclose(file);
}

}  // namespace
