#pragma once

#include <string>

namespace mirova {

// Styles of a message box request, as the Windows message-box call numbers them.
inline constexpr int kMbOk = 0;
inline constexpr int kMbAbortRetryIgnore = 2;
inline constexpr int kMbYesNo = 4;
inline constexpr int kMbRetryCancel = 5;
// Style bit: the second button is the default one (a Yes/No question whose safe answer is No).
inline constexpr int kMbDefaultButton2 = 0x100;
// Style bits: the exclamation-mark icon of a warning.
inline constexpr int kMbIconWarning = 0x30;

// Buttons a message box returns.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdAbort = 3;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdIgnore = 5;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// The one way the core talks to the user: a text and a style in, the pressed button out. The
// GUI shows a dialog, the console prints and asks on the terminal, tests script the answers.
// Called from the scan worker thread too, so an implementation must be safe to call from any
// thread (and wait for the answer).
class MessageBoxHandler {
public:
    virtual ~MessageBoxHandler() = default;
    virtual int DoMessageBox(const std::string& text, int style) = 0;
};

}  // namespace mirova
