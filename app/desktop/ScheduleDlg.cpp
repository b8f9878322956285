#include "app/desktop/ScheduleDlg.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <functional>

#include "fileops/RunLog.h"
#include "ui/BitmapButton.h"
#include "ui/DialogParts.h"
#include "ui/Look.h"

namespace mirova {

namespace {

bool OnlySafeCharacters(const QString& word) {
    if (word.isEmpty()) {
        return false;
    }
    for (const QChar c : word) {
        const bool safe = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                          (c >= u'0' && c <= u'9') || QStringLiteral("_@+=:,./-").contains(c);
        if (!safe) {
            return false;
        }
    }
    return true;
}

// A word of a crontab command: cron hands the command to the shell, and before that turns every
// unescaped "%" into a line break.
QString CrontabWord(const QString& word) {
    QString quoted = word;
    if (!OnlySafeCharacters(word)) {
        quoted.replace(QStringLiteral("'"), QStringLiteral("'\\''"));
        quoted = QLatin1Char('\'') + quoted + QLatin1Char('\'');
    }
    quoted.replace(QStringLiteral("%"), QStringLiteral("\\%"));
    return quoted;
}

// A word of an ExecStart line: systemd splits at blanks unless quoted, expands "%" specifiers
// and "$" variables, and knows C escapes inside quotes.
QString SystemdWord(const QString& word) {
    QString quoted = word;
    quoted.replace(QStringLiteral("%"), QStringLiteral("%%"));
    quoted.replace(QStringLiteral("$"), QStringLiteral("$$"));
    if (!OnlySafeCharacters(word)) {
        quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
        quoted.replace(QStringLiteral("\""), QStringLiteral("\\\""));
        quoted = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    return quoted;
}

void CopyOnClick(QPushButton* button, const std::function<QString()>& text) {
    QObject::connect(button, &QPushButton::clicked, button,
                     [text] { QApplication::clipboard()->setText(text()); });
}

}  // namespace

ScheduleEntries MakeScheduleEntries(int presetNumber, const QString& programPath) {
    const QString number = QString::number(presetNumber);
    ScheduleEntries entries;
    entries.crontabLine =
        QStringLiteral("0 2 * * * %1 /A %2").arg(CrontabWord(programPath), number);
    entries.serviceName = QStringLiteral("mirova-preset-%1.service").arg(number);
    entries.timerName = QStringLiteral("mirova-preset-%1.timer").arg(number);
    entries.serviceUnit = QStringLiteral(
                              "[Unit]\n"
                              "Description=Mirova preset %1\n"
                              "\n"
                              "[Service]\n"
                              "Type=oneshot\n"
                              "ExecStart=%2 /A %1\n")
                              .arg(number, SystemdWord(programPath));
    entries.timerUnit = QStringLiteral(
                            "[Unit]\n"
                            "Description=Mirova preset %1, daily\n"
                            "\n"
                            "[Timer]\n"
                            "OnCalendar=daily\n"
                            "Persistent=true\n"
                            "\n"
                            "[Install]\n"
                            "WantedBy=timers.target\n")
                            .arg(number);
    entries.enableCommand =
        QStringLiteral("systemctl --user daemon-reload && systemctl --user enable --now %1")
            .arg(entries.timerName);
    return entries;
}

ScheduleDlg::ScheduleDlg(int presetNumber, const QString& programPath, QWidget* parent)
    : QDialog(parent) {
    ui::SetUpDialogWindow(this, QStringLiteral("スケジュール"), 300, 337);
    const ui::DialogUnits units(ui::DialogFont());
    const ScheduleEntries entries = MakeScheduleEntries(presetNumber, programPath);

    // The lines are code: a fixed-pitch font shows them as they will be typed.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSize(ui::DialogFont().pointSize());

    ui::AddStaticText(
        this, units.rect(7, 7, 286, 34),
        QStringLiteral("Linux にはタスクスケジューラの画面がありません。プリセット %1 を決まった"
                       "時刻に自動で実行するには、次の cron の 1 行か systemd のユーザータイマー"
                       "のどちらかを登録してください。ディスプレイのない環境では mirova /A は"
                       "自動的にコンソールモードで動作し、実行の記録は %2 に残ります。")
            .arg(presetNumber)
            .arg(QString::fromStdString(LogFilePath(kRunLogName))));

    const auto copyButton = [&](int top) {
        auto* button = new QPushButton(QStringLiteral("コピー"), this);
        button->setAutoDefault(false);
        button->setGeometry(units.rect(251, top, 42, 14));
        return button;
    };
    const auto lineField = [&](const QString& text, int top) {
        auto* field = new QLineEdit(text, this);
        field->setReadOnly(true);
        field->setFont(fixed);
        field->setCursorPosition(0);
        field->setGeometry(units.rect(7, top, 240, 14));
        return field;
    };
    // Each text box shows every line of its unit file without a scroll bar.
    const auto textField = [&](const QString& text, int top, int height) {
        auto* field = new QPlainTextEdit(text, this);
        field->setReadOnly(true);
        field->setFont(fixed);
        field->setLineWrapMode(QPlainTextEdit::NoWrap);
        field->setTabChangesFocus(true);
        field->setGeometry(units.rect(7, top, 240, height));
        return field;
    };

    ui::AddStaticText(this, units.rect(7, 50, 286, 8),
                      QStringLiteral("cron: crontab -e で次の 1 行を加えます (毎日 2 時)"));
    crontab_ = lineField(entries.crontabLine, 61);
    crontabCopy_ = copyButton(61);
    CopyOnClick(crontabCopy_, [this] { return crontab_->text(); });

    ui::AddStaticText(
        this, units.rect(7, 81, 286, 8),
        QStringLiteral("systemd: ~/.config/systemd/user/%1").arg(entries.serviceName));
    service_ = textField(entries.serviceUnit, 92, 63);
    serviceCopy_ = copyButton(92);
    CopyOnClick(serviceCopy_, [this] { return service_->toPlainText(); });

    ui::AddStaticText(this, units.rect(7, 160, 286, 8),
                      QStringLiteral("~/.config/systemd/user/%1 (毎日、電源が切れていた日は"
                                     "次の起動時に)")
                          .arg(entries.timerName));
    timer_ = textField(entries.timerUnit, 171, 87);
    timerCopy_ = copyButton(171);
    CopyOnClick(timerCopy_, [this] { return timer_->toPlainText(); });

    ui::AddStaticText(
        this, units.rect(7, 263, 286, 8),
        QStringLiteral("二つのファイルを保存したら、次のコマンドでタイマーを始めます"));
    enable_ = lineField(entries.enableCommand, 274);
    enableCopy_ = copyButton(274);
    CopyOnClick(enableCopy_, [this] { return enable_->text(); });

    ui::AddStaticText(this, units.rect(7, 294, 286, 16),
                      QStringLiteral("ログインしていない間も動かすには loginctl enable-linger "
                                     "を一度実行します。"));

    auto* ok = new ui::BitmapButton(QStringLiteral("OK"), this);
    ok->move(units.x(300 - 7) - ok->width(), units.y(317));
    connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
}

void ScheduleDlg::keyPressEvent(QKeyEvent* event) {
    // Return closes the window as its OK button, except on a copy button, which it presses.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter) {
        QDialog::keyPressEvent(event);
        return;
    }
    if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
        button->click();
    } else {
        accept();
    }
}

}  // namespace mirova
