#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "AppTesting.h"
#include "TempDir.h"
#include "app/desktop/CMirovaApp.h"
#include "app/desktop/GuiRunUi.h"
#include "platform/InstanceGuard.h"
#include "ui/BitmapButton.h"
#include "ui/CMessageBox.h"
#include "ui/CProgressDlg.h"
#include "ui/CStatusDlg.h"

namespace mirova {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kTwiceMessage = "「Mirova」を複数起動することはできません。";
const std::string kOtherUserMessage = "「Mirova」は既に1ユーザーで起動中です。";

// Answers the next dialog that opens: polls the top-level windows from inside the event loop
// that the box's exec() runs and hands the first visible dialog to `answer`, once. A dialog
// nobody answered is closed after a long while, so that a fault fails a test instead of
// hanging it.
class NextBox {
public:
    explicit NextBox(std::function<void(QDialog*)> answer) : answer_(std::move(answer)) {
        clock_.start();
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }
    bool answered() const { return answered_; }

private:
    void Poll() {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(window);
            if (dialog == nullptr || !dialog->isVisible()) {
                continue;
            }
            if (clock_.elapsed() > 20000) {
                dialog->done(-1);
                continue;
            }
            timer_.stop();
            answered_ = true;
            answer_(dialog);
            return;
        }
    }

    std::function<void(QDialog*)> answer_;
    QTimer timer_;
    QElapsedTimer clock_;
    bool answered_ = false;
};

// What a box looked like when it was answered.
struct SeenBox {
    QString kind;  // "CMessageBox", "QMessageBox" or the class name
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    bool enabled = false;
};

SeenBox Describe(QDialog* dialog) {
    SeenBox seen;
    seen.title = dialog->windowTitle();
    seen.enabled = dialog->isEnabled();
    if (auto* own = qobject_cast<ui::CMessageBox*>(dialog)) {
        seen.kind = QStringLiteral("CMessageBox");
        seen.text = own->textLabel()->text();
    } else if (auto* standard = qobject_cast<QMessageBox*>(dialog)) {
        seen.kind = QStringLiteral("QMessageBox");
        seen.text = standard->text();
        seen.buttons = standard->standardButtons();
    } else {
        seen.kind = QString::fromLatin1(dialog->metaObject()->className());
    }
    return seen;
}

// Presses a button of either kind of box by its label ("OK", "はい", "いいえ" or a standard
// button), or Esc when the label is empty.
void Press(QDialog* dialog, const QString& label, QMessageBox::StandardButton standardButton) {
    if (label.isEmpty() && standardButton == QMessageBox::NoButton) {
        QTest::keyClick(dialog, Qt::Key_Escape);
    } else if (auto* own = qobject_cast<ui::CMessageBox*>(dialog)) {
        for (ui::BitmapButton* button : {own->okButton(), own->yesButton(), own->noButton()}) {
            if (button->text() == label && !button->isHidden()) {
                button->click();
            }
        }
    } else if (auto* standard = qobject_cast<QMessageBox*>(dialog)) {
        if (QAbstractButton* button = standard->button(standardButton)) {
            button->click();
        }
    }
}

class StartupTest : public ::testing::Test {
protected:
    // The desktop program on the offscreen platform, every box answered automatically.
    test::ProcessOutcome StartDesktop(const std::vector<std::string>& arguments) {
        test::ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
        test::ScopedEnv autoAnswer("MIROVA_TEST_AUTOANSWER", "1");
        return test::RunMirova(dir_, arguments);
    }

    test::TempDir dir_;
    test::ScopedConfigHome config_{dir_};
    test::ScopedLockDir lockDir_{dir_};
    test::ScopedEnv noAutoAnswer_{"MIROVA_TEST_AUTOANSWER", std::nullopt};
};

struct BoxRow {
    int type;
    QString label;  // the button pressed; empty with NoButton: Esc
    QMessageBox::StandardButton standardButton;
    QString kind;
    QMessageBox::StandardButtons buttons;
    int expected;
};

TEST_F(StartupTest, BoxesGoToTheOwnBoxOrTheStandardOneAndReturnTheButton) {
    // As during a file operation: the main window is disabled by a progress window.
    QWidget mainWindow;
    mainWindow.show();
    mainWindow.setEnabled(false);
    const auto none = QMessageBox::NoButton;
    const QMessageBox::StandardButtons ari =
        QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    const QMessageBox::StandardButtons rc = QMessageBox::Retry | QMessageBox::Cancel;
    const QString own = QStringLiteral("CMessageBox");
    const QString standard = QStringLiteral("QMessageBox");
    const BoxRow rows[] = {
        {0, QStringLiteral("OK"), none, own, {}, 1},
        {4, QStringLiteral("はい"), none, own, {}, 6},
        {4, QStringLiteral("いいえ"), none, own, {}, 7},
        {2, QString(), QMessageBox::Abort, standard, ari, 3},
        {2, QString(), QMessageBox::Retry, standard, ari, 4},
        {2, QString(), none, standard, ari, 5},  // Esc: Ignore
        {5, QString(), QMessageBox::Retry, standard, rc, 4},
        {5, QString(), none, standard, rc, 2},  // Esc: Cancel
        // Style bits beyond the plain OK box leave the own box.
        {0x30, QString(), QMessageBox::Ok, standard, QMessageBox::Ok, 1},
    };
    CMirovaApp app;
    for (const BoxRow& row : rows) {
        SCOPED_TRACE(testing::Message() << "type " << row.type << " answer " << row.expected);
        SeenBox seen;
        NextBox next([&](QDialog* dialog) {
            seen = Describe(dialog);
            Press(dialog, row.label, row.standardButton);
        });
        const int answer = app.DoMessageBox(QStringLiteral("フォルダ /a/b"), row.type);
        ASSERT_TRUE(next.answered());
        EXPECT_EQ(seen.kind, row.kind);
        EXPECT_EQ(seen.title, QStringLiteral("Mirova"));
        EXPECT_EQ(seen.text, QStringLiteral("フォルダ /a/b"));
        EXPECT_EQ(seen.buttons, row.buttons);
        EXPECT_TRUE(seen.enabled);
        EXPECT_EQ(answer, row.expected);
    }
}

// Window titles are the windows' own texts: a display name set by the program would make Qt
// append " — Mirova" to each of them on X11. Without one, the display name follows the
// application's name.
TEST_F(StartupTest, TheProgramSetsNoDisplayNameThatWouldChangeWindowTitles) {
    ConfigureApplication();
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Mirova"));
    QCoreApplication::setApplicationName(QStringLiteral("probe"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("probe"));
    QCoreApplication::setApplicationName(QStringLiteral("Mirova"));
}

TEST_F(StartupTest, AWorkersBoxAndPostedCallsRunOnTheGuiThreadWhileTheWorkerWaits) {
    CMirovaApp app;
    GuiRunUi ui(app, nullptr);
    std::atomic<bool> workerDone{false};
    bool doneWhenShown = true;
    bool shownOnGuiThread = false;
    SeenBox seen;
    NextBox next([&](QDialog* dialog) {
        doneWhenShown = workerDone.load();
        shownOnGuiThread = QThread::currentThread() == qApp->thread();
        seen = Describe(dialog);
        Press(dialog, QStringLiteral("はい"), QMessageBox::NoButton);
    });
    int answer = 0;
    std::thread worker([&] {
        answer = ui.DoMessageBox("続行しますか？", 4);
        workerDone = true;
    });
    const bool finished = QTest::qWaitFor([&] { return workerDone.load(); }, 30000);
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(next.answered());
    EXPECT_FALSE(doneWhenShown);
    EXPECT_TRUE(shownOnGuiThread);
    EXPECT_EQ(seen.kind, QStringLiteral("CMessageBox"));
    EXPECT_EQ(seen.text, QStringLiteral("続行しますか？"));
    EXPECT_EQ(answer, 6);

    // Posted calls run later, on the GUI thread, in order.
    std::vector<int> order;
    bool allOnGuiThread = true;
    auto call = [&](int n) {
        return [&, n] {
            allOnGuiThread = allOnGuiThread && QThread::currentThread() == qApp->thread();
            order.push_back(n);
        };
    };
    ui.PostToRunThread(call(1));
    EXPECT_TRUE(order.empty());  // never inside the caller
    std::thread poster([&] { ui.PostToRunThread(call(2)); });
    poster.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return order.size() == 2; }, 30000));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_TRUE(allOnGuiThread);
}

TEST_F(StartupTest, ProgressWindowDisablesTheMainWindowWhileItLives) {
    CMirovaApp app;
    QWidget mainWindow;
    mainWindow.show();
    GuiRunUi ui(app, &mainWindow);
    {
        std::unique_ptr<ProgressWindow> progress = ui.ShowProgressWindow();
        auto* window = dynamic_cast<ui::CProgressDlg*>(progress.get());
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(mainWindow.isEnabled());
    }
    EXPECT_TRUE(mainWindow.isEnabled());
    std::unique_ptr<StatusWindow> status = ui.ShowStatusWindow();
    auto* statusWindow = dynamic_cast<ui::CStatusDlg*>(status.get());
    ASSERT_NE(statusWindow, nullptr);
    EXPECT_TRUE(statusWindow->isVisible());
    EXPECT_TRUE(mainWindow.isEnabled());
}

TEST_F(StartupTest, ASecondCopyIsRefusedWhileTheFirstOrAnotherUsersRunsAndStartsAfterwards) {
    // Preset 1 mirrors "src" (one file newer than its copy) into "dst".
    dir_.createFile("src/a.txt", "new", 1700000100);
    dir_.createFile("dst/a.txt", "old", 1700000000);
    dir_.createFile("config/TK-ORVELAN/Mirova.conf",
                    "[Settings]\nPRESETNO=0\nP1SRCFOLDER=" + (dir_ / "src") +
                        "\nP1TARFOLDER=" + (dir_ / "dst") + "\n");
    {
        // Another user's copy holds only the machine-wide lock.
        const std::string machineLock = platform::InstanceGuard::MachineLockPath("Mirova");
        const int fd = ::open(machineLock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        const test::ProcessOutcome other = StartDesktop({});
        ::close(fd);
        EXPECT_EQ(other.status, 1) << other.err;
        EXPECT_THAT(other.err, HasSubstr(kOtherUserMessage + "\n-> OK"));
    }
    {
        // The first copy: this process holds the guard of the program.
        platform::InstanceGuard first;
        ASSERT_EQ(first.Acquire("Mirova", dir_.logDir()),
                  platform::InstanceGuard::Result::Acquired);
        const test::ProcessOutcome second = StartDesktop({});
        EXPECT_EQ(second.status, 1) << second.err;
        EXPECT_THAT(second.err, HasSubstr(kTwiceMessage + "\n-> OK"));
        // It ended before the main dialog and the list: nothing ran, nothing was saved.
        EXPECT_EQ(dir_.read("dst/a.txt"), "old");
        EXPECT_THAT(dir_.readLog(), Not(HasSubstr("OptionA=")));
    }
    // The first copy has ended: the list runs in the desktop program and closes it. An
    // argument it does not know, even one with a dash, is ignored.
    const test::ProcessOutcome later = StartDesktop({"/A", "1", "-x"});
    EXPECT_EQ(later.status, 0) << later.err;
    EXPECT_THAT(later.err, Not(HasSubstr(kTwiceMessage)));
    EXPECT_EQ(dir_.read("dst/a.txt"), "new");
    EXPECT_THAT(dir_.readLog(), HasSubstr("OptionD=OFF OptionA=1 menbers=1"));
}

TEST_F(StartupTest, ASettingsFileThatCannotBeReadEndsTheProgramBeforeTheDialog) {
    // Saving the dialog's empty table over it would lose every preset.
    dir_.createFolder("config/TK-ORVELAN/Mirova.conf");
    const test::ProcessOutcome outcome = StartDesktop({"/A", "1"});
    EXPECT_EQ(outcome.status, 1) << outcome.err;
    EXPECT_THAT(
        outcome.err,
        HasSubstr("Mirova.conf が読めません。\nﾌﾟﾘｾｯﾄが失われないよう、起動を中止します。\n-> OK"));
    EXPECT_THAT(dir_.readLog(), Not(HasSubstr("OptionA=")));
}

TEST_F(StartupTest, WithoutADisplayTheDesktopProgramExplainsWhy) {
    const std::string needsDisplay =
        "mirova: the desktop program needs a display (DISPLAY or WAYLAND_DISPLAY); see mirova "
        "--help for the console commands.\n";
    const test::ScopedNoDisplay noDisplay;
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, {"/D"}, {"/A"}}) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const test::ProcessOutcome outcome = test::RunMirova(dir_, arguments);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.err, needsDisplay);
    }
    // The console's own commands need no display either, nor does a list (tested with the
    // console's commands).
    const test::ProcessOutcome help = test::RunMirova(dir_, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("mirova --compare SOURCE TARGET"));
}

}  // namespace
}  // namespace mirova
