#include "progress.h"

#include <unistd.h>

namespace mediahost {

ProgressDisplay::ProgressDisplay(FILE* out) : ProgressDisplay(out, isatty(fileno(out)) != 0) {}

ProgressDisplay::ProgressDisplay(FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

ProgressDisplay::~ProgressDisplay() { Finish(); }

std::string ProgressDisplay::FormatTime(REFERENCE_TIME time) {
  const long long seconds = time > 0 ? time / 10000000 : 0;
  char text[32];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
  return text;
}

std::string ProgressDisplay::Line(REFERENCE_TIME position, REFERENCE_TIME duration) {
  if (duration <= 0) return FormatTime(position);
  if (position > duration) position = duration;
  const int percent = static_cast<int>(position * 100 / duration);
  return FormatTime(position) + " / " + FormatTime(duration) + " (" + std::to_string(percent) + "%)";
}

void ProgressDisplay::Update(REFERENCE_TIME position, REFERENCE_TIME duration) {
  if (!terminal_) return;
  const std::string line = Line(position, duration);
  if (line == shown_) return;
  // Blank out what is left of a longer previous line.
  const size_t pad = shown_.size() > line.size() ? shown_.size() - line.size() : 0;
  std::fprintf(out_, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
  std::fflush(out_);
  shown_ = line;
}

void ProgressDisplay::Finish() {
  if (!terminal_ || shown_.empty()) return;
  std::fprintf(out_, "\n");
  std::fflush(out_);
  shown_.clear();
}

}  // namespace mediahost
