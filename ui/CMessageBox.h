#pragma once

#include <QDialog>
#include <QMargins>
#include <QSize>
#include <QString>

class QLabel;

namespace mirova::ui {

class BitmapButton;

// The program's own box for OK messages (type 0) and Yes/No questions (type 4), sized to its
// text: wrapped within 500 pixels, at least 150 x 120, buttons 30 pixels above the bottom, the
// Yes/No pair centred 10 pixels apart, no button focused, the warning icon. exec() returns 1 for
// OK, 6 for Yes, 7 for No; a Yes/No box ends only with 6 or 7 (Esc, Enter and the close box do
// nothing there).
class CMessageBox : public QDialog {
    Q_OBJECT
public:
    CMessageBox(const QString& text, int type, int helpId = 0, QWidget* parent = nullptr);

    // For tests and screenshots.
    QLabel* textLabel() const { return text_; }
    BitmapButton* okButton() const { return ok_; }
    BitmapButton* yesButton() const { return yes_; }
    BitmapButton* noButton() const { return no_; }

    // The box's size counts its frame: the client area is what is left inside the frame the
    // window manager adds, and the buttons keep their places from its bottom. Called when the
    // frame becomes known; there is none before the box is shown.
    void FitInsideFrame(const QMargins& frame);

protected:
    bool event(QEvent* event) override;
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    int type_;
    QSize outerSize_;
    QMargins frame_;
    QLabel* text_;
    BitmapButton* ok_;
    BitmapButton* yes_;
    BitmapButton* no_;
};

// "Mirovaのﾊﾞｰｼﾞｮﾝ情報": the program's icon, "Mirova Ver3.0.01" and OK.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// The warning icon of the message box (a yellow triangle with a black exclamation mark) and the
// program's icon, drawn once.
QPixmap WarningIcon();
QPixmap ProgramIcon();

}  // namespace mirova::ui
