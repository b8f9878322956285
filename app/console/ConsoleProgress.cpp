#include "app/console/ConsoleProgress.h"

#include <algorithm>
#include <ostream>
#include <vector>

#include "app/console/ConsoleUi.h"
#include "platform/TextStep.h"

namespace mirova {
namespace {

constexpr std::size_t kShownCharacters = 60;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// The end of a long status text, cut on a character boundary: the file name is the part that
// tells the user most.
std::string TailOf(const std::string& text) {
    std::vector<std::size_t> starts;
    for (std::size_t pos = 0; pos < text.size();) {
        starts.push_back(pos);
        pos += std::max<std::size_t>(1, platform::CharLengthAt(text, pos));
    }
    if (starts.size() <= kShownCharacters) {
        return text;
    }
    return "..." + text.substr(starts[starts.size() - kShownCharacters]);
}

}  // namespace

ConsoleProgress::~ConsoleProgress() {
    if (drawn_) {
        err_ << "\r\033[K" << std::flush;
    }
}

void ConsoleProgress::SetStatusText(const std::string& text) {
    status_ = text;
    Draw(false);
}

void ConsoleProgress::SetRange(int low, int high) {
    low_ = low;
    high_ = high > low ? high : low + 1;
    position_ = low_;
    Draw(true);
}

int ConsoleProgress::StepBar() {
    const int before = position_;
    position_ += step_;
    // The bar wraps like the window's bar does when it is stepped past its end.
    if (position_ > high_) {
        position_ = low_ + (position_ - high_);
    }
    Draw(false);
    return before;
}

bool ConsoleProgress::TakeCancelRequest() {
    return ConsoleUi::TakeInterrupt();
}

int ConsoleProgress::percent() const {
    return static_cast<int>(100LL * (position_ - low_) / (high_ - low_));
}

void ConsoleProgress::Draw(bool force) {
    if (!show_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const int shown = percent();
    if (!force && shown == shownPercent_ && now - lastDraw_ < kRedrawInterval) {
        return;
    }
    shownPercent_ = shown;
    lastDraw_ = now;
    drawn_ = true;
    err_ << "\r\033[K"
         << (shown < 10    ? "  "
             : shown < 100 ? " "
                           : "")
         << shown << " % " << TailOf(status_) << std::flush;
}

}  // namespace mirova
