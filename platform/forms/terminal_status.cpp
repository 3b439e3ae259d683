// The progress line redrawn in place, following the terminal's width.

#include "platform/forms/terminal_status.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <ostream>

#include "platform/base/text.h"
#include "platform/forms/terminal_grid.h"

namespace platform::forms {
namespace {

constexpr size_t kMinBar = 10;
constexpr size_t kMaxBar = 30;
// Room a caption keeps before the bar gives up its length.
constexpr size_t kCaptionRoom = 30;

std::atomic<bool> g_resized{false};

void OnWindowChange(int) {
  g_resized.store(true);
}

std::string Padded(std::string_view text, size_t width) {
  std::string out(text);
  for (size_t n = kv::CodePointCount(text); n < width; ++n) out += ' ';
  return out;
}

}  // namespace

std::string ProgressLineText(const ProgressFrame& frame, size_t width) {
  const size_t usable = std::max<size_t>(width, 2) - 1;
  const std::string caption = VisibleCell(frame.caption);
  // Only the share: a form sets its bar's range as it likes (often one less than its records), so a value/max
  // pair beside the caption's own count would read as a second, different count of records.
  std::string counts;
  double fraction = 0;
  if (frame.bar_shown) {
    const double span = frame.max - frame.min;
    fraction = span > 0 ? std::clamp((frame.value - frame.min) / span, 0.0, 1.0) : 0;
    counts = Padded(std::to_string(static_cast<int>(std::floor(fraction * 100))) + "%", 4);
  }
  std::string blink;
  if (!frame.blink.empty() || frame.blink_room > 0) {
    blink = "  ";
    blink += Padded(VisibleCell(frame.blink), std::max(frame.blink_room, kv::CodePointCount(frame.blink)));
  }

  auto fit = [usable](std::string text) {
    if (kv::CodePointCount(text) > usable) text = std::string(kv::LeftChars(text, usable));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  };
  if (!frame.bar_shown) return fit(caption + blink);

  // caption, two blanks, "[", bar, "] ", counts, blink
  const size_t fixed = 2 + 1 + 2 + kv::CodePointCount(counts);
  size_t blink_width = kv::CodePointCount(blink);
  // On a narrow screen the caption says more than "Please wait...".
  if (fixed + kMinBar + blink_width + std::min<size_t>(kv::CodePointCount(caption), 20) > usable) {
    blink.clear();
    blink_width = 0;
  }
  if (fixed + kMinBar > usable) return fit(caption + "  " + counts);
  // The bar keeps its length while the caption's count grows; a long caption is cut before the bar shrinks.
  const size_t room = usable - fixed - blink_width;  // at least kMinBar, as tested above
  const size_t wanted_caption = std::min(kv::CodePointCount(caption), kCaptionRoom);
  const size_t bar = room > wanted_caption ? std::clamp(room - wanted_caption, kMinBar, kMaxBar) : kMinBar;
  const size_t caption_room = room - bar;
  std::string shown_caption = caption;
  if (kv::CodePointCount(shown_caption) > caption_room) {
    shown_caption = caption_room > 3 ? std::string(kv::LeftChars(caption, caption_room - 3)) + "..." : "";
  }
  const auto filled = static_cast<size_t>(std::floor(fraction * static_cast<double>(bar)));
  std::string line = shown_caption + "  [" + std::string(filled, '#') + std::string(bar - filled, '.') + "] " + counts;
  return fit(line + blink);
}

size_t TerminalColumns(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

StatusLine::StatusLine(std::ostream& out, bool in_place, std::function<size_t()> width,
                       std::chrono::milliseconds interval)
    : out_(out), in_place_(in_place), width_(std::move(width)), interval_(interval) {
  if (in_place_) {
    // A resize is drawn at once, not an interval later: the old line may have wrapped on the narrower screen.
    struct sigaction sa {};
    sa.sa_handler = OnWindowChange;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &sa, nullptr);
  }
}

StatusLine::~StatusLine() {
  Commit();
  if (in_place_) signal(SIGWINCH, SIG_DFL);
}

void StatusLine::Update(const ProgressFrame& frame) {
  if (frame.Empty()) {
    // Hiding what the line shows ends its step; the last frame is what the user should keep.
    Commit();
    return;
  }
  frame_ = frame;
  pending_ = true;
  if (!in_place_) return;
  const auto now = std::chrono::steady_clock::now();
  if (g_resized.exchange(false) || !on_screen_ || now - last_draw_ >= interval_) {
    last_draw_ = now;
    Draw();
  }
}

void StatusLine::Draw() {
  const std::string text = ProgressLineText(frame_, width_());
  if (on_screen_ && text == drawn_) return;
  out_ << '\r' << text << "\x1b[K" << std::flush;
  drawn_ = text;
  on_screen_ = true;
  ++redraws_;
}

void StatusLine::Commit() {
  if (pending_) {
    const std::string text = ProgressLineText(frame_, width_());
    if (in_place_) out_ << '\r';
    out_ << text;
    if (in_place_) out_ << "\x1b[K";
    out_ << '\n' << std::flush;
  } else if (on_screen_) {
    out_ << "\r\x1b[K" << std::flush;
  }
  pending_ = false;
  on_screen_ = false;
  drawn_.clear();
}

}  // namespace platform::forms
