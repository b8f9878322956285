#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "fileops/Progress.h"

namespace mirova {

// The progress window of one list operation, from its first item to the end of the list. The
// window closes when the frame goes out of scope, however the list ends.
class ProgressFrame {
public:
    ProgressFrame(FileOpsUi& ui, std::size_t itemCount);
    ProgressFrame(const ProgressFrame&) = delete;
    ProgressFrame& operator=(const ProgressFrame&) = delete;

    // Before an item: a Cancel the user pressed since the last item is confirmed with a
    // question. Returns false when the user chose to stop; otherwise the status line becomes
    // name + action.
    bool BeginItem(std::string_view name, std::string_view action);
    // After an item: advances the bar.
    void EndItem();

private:
    FileOpsUi& ui_;
    std::unique_ptr<ProgressWindow> window_;
    std::string status_;  // reused from item to item
    // Long lists step the bar about 100 times in all rather than once per item.
    bool stepEveryItem_;
    double increment_ = 0;
    double accumulated_ = 1.0;  // so that the first item steps the bar at once
};

}  // namespace mirova
