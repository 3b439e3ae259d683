#pragma once

// The terminal's one-line progress display: what a frame shows and how it is drawn.

#include <chrono>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>

namespace platform::forms {

// What one frame of a progress line shows: a caption, a bar with its percentage, and a blinking
// label (empty while it is blinked off).
struct ProgressFrame {
  std::string caption;
  bool bar_shown = false;
  double min = 0;
  double max = 100;
  double value = 0;
  std::string blink;
  // Columns kept for the blinking label while it is off, so the bar does not jump as the label blinks.
  size_t blink_room = 0;

  bool Empty() const { return caption.empty() && !bar_shown && blink.empty(); }
};

// The frame as one line of at most `width` columns (the last column of a terminal is left free: writing into
// it wraps on some terminals). Control characters of the caption are shown in caret notation.
std::string ProgressLineText(const ProgressFrame& frame, size_t width);

// The columns of the terminal on fd, following its resizing; 80 when fd is not a terminal or does not say.
size_t TerminalColumns(int fd);

// One status line of a terminal, redrawn in place as its step moves, at most once an interval however often it
// moves. A finished step's last frame stays on a line of its own in the scroll-back. Without cursor control
// (in_place false) only those last frames are written, one line per step.
class StatusLine {
 public:
  StatusLine(std::ostream& out, bool in_place, std::function<size_t()> width,
             std::chrono::milliseconds interval = std::chrono::milliseconds(50));
  ~StatusLine();
  StatusLine(const StatusLine&) = delete;
  StatusLine& operator=(const StatusLine&) = delete;

  // The current step moved to this frame; an empty frame ends the step as Commit does.
  void Update(const ProgressFrame& frame);
  // The step ended: its last frame becomes a line of the scroll-back. Nothing when nothing was shown since.
  void Commit();
  // In-place draws made so far (the committed lines not counted).
  size_t Redraws() const { return redraws_; }

 private:
  void Draw();

  std::ostream& out_;
  bool in_place_;
  std::function<size_t()> width_;
  std::chrono::milliseconds interval_;
  ProgressFrame frame_;
  bool pending_ = false;    // frame_ holds a step not committed yet
  bool on_screen_ = false;  // an unfinished line stands at the cursor
  std::string drawn_;
  std::chrono::steady_clock::time_point last_draw_{};
  size_t redraws_ = 0;
};

}  // namespace platform::forms
