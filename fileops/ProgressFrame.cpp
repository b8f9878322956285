#include "fileops/ProgressFrame.h"

#include "fileops/FileOperations.h"

namespace mirova {
namespace {

// From this many items on, the bar counts percent instead of items.
constexpr std::size_t kPercentFrom = 10000;

}  // namespace

ProgressFrame::ProgressFrame(FileOpsUi& ui, std::size_t itemCount)
    : ui_(ui), window_(ui.ShowProgressWindow()), stepEveryItem_(itemCount < kPercentFrom) {
    if (stepEveryItem_) {
        window_->SetRange(0, static_cast<int>(itemCount));
    } else {
        window_->SetRange(0, 100);
        increment_ = 100.0 / static_cast<double>(itemCount);
    }
    window_->SetStep(1);
}

bool ProgressFrame::BeginItem(std::string_view name, std::string_view action) {
    if (window_->TakeCancelRequest() && ui_.DoMessageBox(kReallyStopQuestion, kMbYesNo) == kIdYes) {
        return false;
    }
    status_.assign(name).append(action);
    window_->SetStatusText(status_);
    return true;
}

void ProgressFrame::EndItem() {
    if (stepEveryItem_) {
        window_->StepBar();
        return;
    }
    if (accumulated_ >= 1.0) {
        accumulated_ -= 1.0;
        window_->StepBar();
    }
    accumulated_ += increment_;
}

}  // namespace mirova
