#include "app/console/ConsoleUi.h"

#include <cctype>
#include <csignal>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "app/console/ConsoleProgress.h"
#include "fileops/FileOperations.h"

namespace mirova {
namespace {

volatile std::sig_atomic_t interruptPending = 0;

extern "C" void OnInterrupt(int signal) {
    if (interruptPending != 0) {
        // Nobody took the first request: the user wants out now.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    interruptPending = 1;
}

struct Choice {
    char key;
    int button;
    const char* label;
};

// The buttons of each style. The first entry is the answer without a terminal.
std::vector<Choice> ChoicesOf(const std::string& text, int style) {
    // Only the button bits choose the buttons; without a terminal the first entry answers.
    switch (style & 0xF) {
        case kMbYesNo:
            // After Ctrl-C the user has already said "stop"; without a terminal that stands.
            if (text == kReallyStopQuestion) {
                return {{'y', kIdYes, "Yes"}, {'n', kIdNo, "No"}};
            }
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
    if (answers_.showStatus) {
        // A box starts on a line of its own, not after a progress line.
        err_ << "\r\033[K";
    }
    err_ << text << "\n";
    const int answer = Ask(text, style);
    err_ << std::flush;
    return answer;
}

void ConsoleUi::TellUnshown(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (answers_.showStatus) {
        err_ << "\r\033[K";
    }
    err_ << text << "\n" << std::flush;
}

void ConsoleUi::ListChange(const std::string& line) {
    if (listing_ != nullptr) {
        std::lock_guard lock(mutex_);
        *listing_ << line << "\n" << std::flush;
    }
}

int ConsoleUi::Ask(const std::string& text, int style) {
    if (style == kMbOk) {
        return kIdOk;
    }
    if ((style & 0xF) == kMbYesNo && answers_.assumeYes) {
        err_ << "-> Yes (--yes)\n";
        return kIdYes;
    }
    const std::vector<Choice> choices = ChoicesOf(text, style);
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

std::unique_ptr<ProgressWindow> ConsoleUi::ShowProgressWindow() {
    return std::make_unique<ConsoleProgress>(err_, answers_.showStatus);
}

std::unique_ptr<StatusWindow> ConsoleUi::ShowStatusWindow() {
    return std::make_unique<ConsoleStatus>(err_, answers_.showStatus);
}

void ConsoleUi::OpenWithShell(const std::string& path) {
    std::lock_guard lock(mutex_);
    err_ << path << "\n" << std::flush;
}

void ConsoleUi::InstallInterruptHandler() {
    interruptPending = 0;
    std::signal(SIGINT, OnInterrupt);
}

void ConsoleUi::RemoveInterruptHandler() {
    std::signal(SIGINT, SIG_DFL);
}

bool ConsoleUi::TakeInterrupt() {
    const bool pending = interruptPending != 0;
    interruptPending = 0;
    return pending;
}

void ConsoleUi::RequestInterrupt() {
    interruptPending = 1;
}

}  // namespace mirova
