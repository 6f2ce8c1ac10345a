// ProgressDisplay: "position / duration" of a long run, redrawn in place on a terminal
// (standard error by default) and silent when the output is not a terminal, so that logs
// and pipes stay clean. `play` and the other long-running commands update it as they go.
//
// Threads: one thread updates a display.
#pragma once

#include <cstdio>
#include <string>

#include "windows.h"

namespace mediahost {

class ProgressDisplay {
 public:
  // Shows on `out` when it is a terminal.
  explicit ProgressDisplay(FILE* out = stderr);
  // Shows on `out` when `terminal` says so (for output that is not a real terminal).
  ProgressDisplay(FILE* out, bool terminal);
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // Redraws the line when its text changed. A duration of 0 or less is unknown.
  void Update(REFERENCE_TIME position, REFERENCE_TIME duration);
  // Ends the line (once); the destructor does it too.
  void Finish();

  // "m:ss" (or "h:mm:ss") of a time, rounded down to whole seconds.
  static std::string FormatTime(REFERENCE_TIME time);
  // The line Update draws, without the carriage return.
  static std::string Line(REFERENCE_TIME position, REFERENCE_TIME duration);

 private:
  FILE* out_;
  bool terminal_;
  std::string shown_;  // the line last drawn
};

}  // namespace mediahost
