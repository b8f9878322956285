#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace mirova {

// What runs one preset unattended every day: a crontab line, or a pair of systemd user units.
// Each runs "PROGRAM /A N"; the program path is quoted as the shell and systemd need it.
struct ScheduleEntries {
    QString crontabLine;    // "0 2 * * * PROGRAM /A N"
    QString serviceName;    // "mirova-preset-N.service"
    QString serviceUnit;    // its text
    QString timerName;      // "mirova-preset-N.timer"
    QString timerUnit;      // its text: daily, caught up after the machine was off
    QString enableCommand;  // the systemctl command that starts the timer
};

ScheduleEntries MakeScheduleEntries(int presetNumber, const QString& programPath);

// Linux has no scheduler console to open: this window shows, for the current preset, the lines
// that run it unattended, each ready to copy, and says how to install them.
class ScheduleDlg : public QDialog {
    Q_OBJECT
public:
    // presetNumber is 1-based, as "/A" takes it.
    ScheduleDlg(int presetNumber, const QString& programPath, QWidget* parent = nullptr);

    // For tests and screenshots.
    QLineEdit* crontabField() const { return crontab_; }
    QPlainTextEdit* serviceField() const { return service_; }
    QPlainTextEdit* timerField() const { return timer_; }
    QLineEdit* enableField() const { return enable_; }
    QPushButton* crontabCopyButton() const { return crontabCopy_; }
    QPushButton* serviceCopyButton() const { return serviceCopy_; }
    QPushButton* timerCopyButton() const { return timerCopy_; }
    QPushButton* enableCopyButton() const { return enableCopy_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLineEdit* crontab_ = nullptr;
    QPlainTextEdit* service_ = nullptr;
    QPlainTextEdit* timer_ = nullptr;
    QLineEdit* enable_ = nullptr;
    QPushButton* crontabCopy_ = nullptr;
    QPushButton* serviceCopy_ = nullptr;
    QPushButton* timerCopy_ = nullptr;
    QPushButton* enableCopy_ = nullptr;
};

}  // namespace mirova
