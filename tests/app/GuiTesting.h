#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <deque>
#include <functional>
#include <memory>

#include "AppTesting.h"
#include "app/desktop/CMirovaApp.h"
#include "app/desktop/CMirovaDlg.h"
#include "fileops/MessageBox.h"
#include "settings/SettingsStore.h"

namespace mirova::test {

struct Box {
    std::string text;
    int type = 0;
};

// The main window over the test's own folders, with every box recorded. A scripted step may act
// on the window while a box is "up", which is in the middle of a run; without a scripted answer
// a question is declined.
class MainWindowTest : public ::testing::Test {
protected:
    static constexpr int kRunTimeoutMs = 20000;

    MainWindowTest() {
        app_.SetMessageBoxHookForTesting([this](const QString& prompt, int type) {
            boxes_.push_back({prompt.toStdString(), type});
            if (onBox_) {
                onBox_(boxes_.back());
            }
            if (answers_.empty()) {
                return type == kMbYesNo ? kIdNo : kIdOk;
            }
            const int answer = answers_.front();
            answers_.pop_front();
            return answer;
        });
    }

    CMirovaDlg& OpenOver(SettingsStore& store) {
        dialog_ = std::make_unique<CMirovaDlg>(app_, store);
        dialog_->show();
        return *dialog_;
    }
    // Opens the window over the memory store, which holds table_ then.
    CMirovaDlg& Open() {
        SaveSettings(table_, store_);
        return OpenOver(store_);
    }
    bool WaitForRunEnd() {
        return QTest::qWaitFor([&] { return !dialog_->runInProgress(); }, kRunTimeoutMs);
    }
    QAction* MenuItem(const QString& text) const {
        for (QAction* menu : dialog_->menuBar()->actions()) {
            for (QAction* item : menu->menu()->actions()) {
                if (item->text() == text) {
                    return item;
                }
            }
        }
        ADD_FAILURE() << "no menu item " << text.toStdString();
        return nullptr;
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const Box& box : boxes_) {
            texts.push_back(box.text);
        }
        return texts;
    }

    TempDir dir_;
    ScopedConfigHome config_{dir_};
    ScopedLockDir lock_{dir_};
    CMirovaApp app_;
    PresetTable table_;
    MemorySettingsStore store_;
    std::vector<Box> boxes_;
    std::deque<int> answers_;
    std::function<void(const Box&)> onBox_;
    std::unique_ptr<CMirovaDlg> dialog_;  // goes first: it saves to the store as it closes
};

}  // namespace mirova::test
