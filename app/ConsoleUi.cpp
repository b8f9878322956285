#include "app/ConsoleUi.h"

#include <cctype>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace mirova {
namespace {

struct Choice {
    char key;
    int button;
    const char* label;
};

// The buttons of each style, in the order the box shows them. The first entry is the answer
// without a terminal, except for Yes/No, which then counts as No.
std::vector<Choice> ChoicesOf(int style) {
    switch (style) {
        case kMbYesNo:
            return {{'n', kIdNo, "No"}, {'y', kIdYes, "Yes"}};
        case kMbAbortRetryIgnore:
            return {{'i', kIdIgnore, "Ignore"}, {'a', kIdAbort, "Abort"}, {'r', kIdRetry, "Retry"}};
        case kMbRetryCancel:
            return {{'c', kIdCancel, "Cancel"}, {'r', kIdRetry, "Retry"}};
        default:
            return {{'o', kIdOk, "OK"}};
    }
}

class ConsoleStatus final : public StatusWindow {
public:
    ConsoleStatus(std::ostream& err, bool show) : err_(err), show_(show) {}
    void SetStatusText(const std::string& text) override {
        if (show_) {
            err_ << text << "\n" << std::flush;
        }
    }

private:
    std::ostream& err_;
    bool show_;
};

}  // namespace

int ConsoleUi::DoMessageBox(const std::string& text, int style) {
    std::lock_guard lock(mutex_);
    err_ << text << "\n";
    const int answer = Ask(style);
    err_ << std::flush;
    return answer;
}

int ConsoleUi::Ask(int style) {
    const std::vector<Choice> choices = ChoicesOf(style);
    if (style == kMbOk) {
        return kIdOk;
    }
    if (style == kMbYesNo && answers_.assumeYes) {
        err_ << "-> Yes (--yes)\n";
        return kIdYes;
    }
    if (!answers_.interactive) {
        err_ << "-> " << choices.front().label << " (no terminal to ask)\n";
        return choices.front().button;
    }
    for (;;) {
        err_ << "[";
        for (std::size_t i = 0; i < choices.size(); ++i) {
            err_ << (i ? "/" : "") << choices[i].key << "=" << choices[i].label;
        }
        err_ << "]? " << std::flush;
        std::string line;
        if (!std::getline(in_, line)) {
            // The terminal went away: take the answer a missing terminal gets.
            err_ << "\n-> " << choices.front().label << "\n";
            return choices.front().button;
        }
        const std::size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos) {
            const char key =
                static_cast<char>(std::tolower(static_cast<unsigned char>(line[first])));
            for (const Choice& choice : choices) {
                if (choice.key == key) {
                    return choice.button;
                }
            }
        }
    }
}

std::unique_ptr<StatusWindow> ConsoleUi::ShowStatusWindow() {
    return std::make_unique<ConsoleStatus>(err_, answers_.showStatus);
}

void ConsoleUi::OpenWithShell(const std::string& path) {
    std::lock_guard lock(mutex_);
    err_ << path << "\n" << std::flush;
}

}  // namespace mirova
