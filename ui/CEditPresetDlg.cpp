#include "ui/CEditPresetDlg.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QValidator>
#include <algorithm>

#include "ui/BitmapButton.h"
#include "ui/CFolderSelect.h"
#include "ui/CMessageBox.h"
#include "ui/DialogParts.h"
#include "ui/Look.h"

namespace mirova::ui {

namespace {

// The template's client area in dialog units; the menu bar sits above it.
constexpr int kTemplateWidth = 295;
constexpr int kTemplateHeight = 343;

constexpr int kYes = 6;
constexpr int kYesNo = 4;

int Utf8Bytes(const QString& text) {
    return static_cast<int>(text.toUtf8().size());
}

// How many bytes an insertion may add to a field that holds `total` bytes of which `replaced`
// are replaced: up to the limit, and never beyond a longer text the field was given.
int InsertionRoom(int total, int replaced) {
    return std::max(CEditPresetDlg::kFieldLimitBytes, total) - total + replaced;
}

// Cuts an inserted text from its end, whole characters at a time, until it takes at most `room`
// bytes: typing stops at the limit and a paste is cut to fit, as the limit of an edit control
// does it.
QString FitInsertion(QString inserted, int room) {
    int bytes = Utf8Bytes(inserted);
    while (bytes > room && !inserted.isEmpty()) {
        const qsizetype size = inserted.size();
        const int cut =
            size >= 2 && inserted[size - 1].isLowSurrogate() && inserted[size - 2].isHighSurrogate()
                ? 2
                : 1;
        bytes -= Utf8Bytes(inserted.right(cut));
        inserted.chop(cut);
    }
    return inserted;
}

// Limits a one-line field to the byte limit. A line edit validates the text after a change,
// so the validator compares it with the text the field held before (it follows every change);
// the differing middle is what the user inserted, and that is what gets cut.
class ByteLimitValidator : public QValidator {
public:
    explicit ByteLimitValidator(QLineEdit* field) : QValidator(field) {
        connect(field, &QLineEdit::textChanged, this,
                [this](const QString& text) { held_ = text; });
    }

    State validate(QString& input, int& pos) const override {
        const int heldBytes = Utf8Bytes(held_);
        if (Utf8Bytes(input) <= std::max(CEditPresetDlg::kFieldLimitBytes, heldBytes)) {
            return Acceptable;
        }
        const qsizetype heldSize = held_.size();
        const qsizetype inputSize = input.size();
        qsizetype prefix = 0;
        while (prefix < heldSize && prefix < inputSize && held_[prefix] == input[prefix]) {
            ++prefix;
        }
        qsizetype suffix = 0;
        while (suffix < heldSize - prefix && suffix < inputSize - prefix &&
               held_[heldSize - 1 - suffix] == input[inputSize - 1 - suffix]) {
            ++suffix;
        }
        // A character outside the basic plane is never split between the kept and the new part.
        if (prefix > 0 && input[prefix - 1].isHighSurrogate()) {
            --prefix;
        }
        if (suffix > 0 && input[inputSize - suffix].isLowSurrogate()) {
            --suffix;
        }
        const QString before = input.left(prefix);
        const QString after = input.right(suffix);
        const QString inserted = input.mid(prefix, inputSize - prefix - suffix);
        const int replacedBytes = heldBytes - Utf8Bytes(before) - Utf8Bytes(after);
        const QString fitted = FitInsertion(inserted, InsertionRoom(heldBytes, replacedBytes));
        const QString result = before + fitted + after;
        if (result == held_) {
            return Invalid;  // nothing fits: the field undoes the change and keeps its history
        }
        input = result;
        pos = static_cast<int>(prefix + fitted.size());
        return Acceptable;
    }

private:
    QString held_;
};

// A text set by the program is taken whole, whatever its length: the limit is off meanwhile.
void SetWholeText(QLineEdit* field, const QString& text) {
    const QValidator* limit = field->validator();
    field->setValidator(nullptr);
    field->setText(text);
    field->setValidator(limit);
    field->setCursorPosition(0);  // the start of a long path is the part that tells it apart
}

// The caption field, limited to the byte limit at every way text comes in: typing (Enter makes
// a new line), pasting and dropping, and input methods.
class CaptionEdit : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const QString typed = TypedText(*event);
        if (!typed.isEmpty()) {
            const QString fitted = FitInsertion(typed, Room());
            if (fitted != typed) {
                if (!fitted.isEmpty()) {
                    insertPlainText(fitted);
                }
                event->accept();
                return;
            }
        }
        QPlainTextEdit::keyPressEvent(event);
    }

    void insertFromMimeData(const QMimeData* source) override {
        if (source->hasText()) {
            insertPlainText(FitInsertion(source->text(), Room()));
        }
    }

    void inputMethodEvent(QInputMethodEvent* event) override {
        const QString commit = event->commitString();
        const QString fitted = FitInsertion(commit, Room());
        if (fitted == commit) {
            QPlainTextEdit::inputMethodEvent(event);
            return;
        }
        QInputMethodEvent shortened(event->preeditString(), event->attributes());
        shortened.setCommitString(fitted, event->replacementStart(), event->replacementLength());
        QPlainTextEdit::inputMethodEvent(&shortened);
        event->accept();
    }

private:
    // What a key press would insert: a line break for Enter, else its printable text. Tab moves
    // the focus and inserts nothing.
    static QString TypedText(const QKeyEvent& event) {
        if (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) {
            return QStringLiteral("\n");
        }
        const QString text = event.text();
        return !text.isEmpty() && text.at(0).isPrint() ? text : QString();
    }

    int Room() const {
        const QString selected = textCursor().selection().toPlainText();
        return InsertionRoom(Utf8Bytes(toPlainText()), Utf8Bytes(selected));
    }
};

// A field the user has not changed gives back the bytes it was shown from.
std::string TakeText(const QString& text, const QString& shownText, const std::string& shownBytes) {
    return text == shownText ? shownBytes : text.toStdString();
}

}  // namespace

CEditPresetDlg::CEditPresetDlg(AskUser askUser, QWidget* parent)
    : QDialog(parent), askUser_(std::move(askUser)) {
    SetUpDialogWindow(this, QStringLiteral("プリセットの編集"), kTemplateWidth, kTemplateHeight);
    BuildMenus();
    BuildControls();
    ShowFields(Preset{});
}

CEditPresetDlg::~CEditPresetDlg() = default;

void CEditPresetDlg::BuildMenus() {
    menuBar_ = AddStandardMenuBar(this);

    QMenu* file = menuBar_->addMenu(QStringLiteral("ファイル(&F)"));
    clearAction_ = file->addAction(QStringLiteral("プリセットデータクリア(&C)"));
    connect(clearAction_, &QAction::triggered, this, &CEditPresetDlg::ClearPreset);
    file->addSeparator();
    clearAllAction_ = file->addAction(QStringLiteral("全プリセットデータクリア(&A)"));
    connect(clearAllAction_, &QAction::triggered, this, &CEditPresetDlg::ClearAllPresets);

    QMenu* edit = menuBar_->addMenu(QStringLiteral("編集(&E)"));
    cutAction_ = edit->addAction(QStringLiteral("プリセット切り取り(&T)"));
    connect(cutAction_, &QAction::triggered, this, &CEditPresetDlg::CutPreset);
    copyAction_ = edit->addAction(QStringLiteral("プリセットコピー(&C)"));
    connect(copyAction_, &QAction::triggered, this, &CEditPresetDlg::CopyPreset);
    pasteAction_ = edit->addAction(QStringLiteral("プリセット貼り付け(&P)"));
    connect(pasteAction_, &QAction::triggered, this, &CEditPresetDlg::PastePreset);
    // Nothing to paste until the first cut or copy.
    pasteAction_->setEnabled(false);
}

void CEditPresetDlg::BuildControls() {
    const DialogUnits units(DialogFont());
    const int menuHeight = menuBar_->sizeHint().height();
    setFixedSize(units.x(kTemplateWidth), units.y(kTemplateHeight) + menuHeight);
    menuBar_->setGeometry(0, 0, width(), menuHeight);

    // Template coordinates, moved below the menu bar.
    const auto area = [&](int left, int top, int w, int h) {
        return units.rect(left, top, w, h).translated(0, menuHeight);
    };
    // Bitmap buttons take the size of their pictures; only their corner comes from the template.
    const auto placeButton = [&](QWidget* widget, int left, int top) {
        widget->move(units.x(left), units.y(top) + menuHeight);
    };
    // A folder field with its browse button at its right end, centred on the field's height.
    const auto placeFolder = [&](QLineEdit* field, QWidget* browse, int top) {
        const QRect full = area(16, top, 261, 14);
        browse->move(full.right() + 1 - browse->width(),
                     full.top() + (full.height() - browse->height()) / 2);
        field->setGeometry(full.adjusted(0, 0, -(browse->width() + units.x(4)), 0));
    };

    // The group boxes come first so that the controls inside them lie above them and get the
    // clicks; they take no focus, so the tab order is that of the controls made below.
    const auto group = [&](const QString& title, int left, int top, int w, int h) {
        auto* box = new QGroupBox(title, this);
        box->setGeometry(area(left, top, w, h));
    };
    group(QStringLiteral("キャプション"), 12, 6, 271, 87);
    group(QStringLiteral("ソールフォルダ"), 12, 99, 271, 39);
    group(QStringLiteral("ターゲットフォルダ"), 12, 156, 271, 39);
    group(QStringLiteral("プリセット"), 12, 206, 271, 97);

    caption_ = new CaptionEdit(this);
    caption_->setTabChangesFocus(true);
    caption_->setGeometry(area(16, 21, 261, 53));

    mergeMode_ = new QCheckBox(QStringLiteral("マージモード"), this);
    mergeMode_->setGeometry(area(135, 78, 48, 10));
    useExclusions_ = new QCheckBox(QStringLiteral("除外リストを有効にする"), this);
    useExclusions_->setGeometry(area(199, 78, 77, 10));
    // The template's check boxes were measured for a narrower font and a smaller box: each
    // grows to show its whole text, up to the next control or the frame of its group.
    FitToText(mergeMode_, useExclusions_->x());
    FitToText(useExclusions_, units.x(12 + 271) - units.x(2));

    source_ = new QLineEdit(this);
    source_->setValidator(new ByteLimitValidator(source_));
    browseSource_ = new BitmapButton(QStringLiteral("参照"), this);
    placeFolder(source_, browseSource_, 114);
    connect(browseSource_, &QAbstractButton::clicked, this, &CEditPresetDlg::BrowseSource);

    // The swap button sits in the gap between the two folder groups, centred.
    swap_ = new BitmapButton(QStringLiteral("ｿｰｽ・ﾀｰｹﾞｯﾄの入れ替え"), this);
    const QRect gap = area(12, 99 + 39, 271, 156 - 99 - 39);
    swap_->move(gap.center().x() + 1 - swap_->width() / 2,
                gap.top() + (gap.height() - swap_->height()) / 2);
    connect(swap_, &QAbstractButton::clicked, this, &CEditPresetDlg::SwapFolders);

    target_ = new QLineEdit(this);
    target_->setValidator(new ByteLimitValidator(target_));
    browseTarget_ = new BitmapButton(QStringLiteral("参照"), this);
    placeFolder(target_, browseTarget_, 170);
    connect(browseTarget_, &QAbstractButton::clicked, this, &CEditPresetDlg::BrowseTarget);

    presetGroup_ = new QButtonGroup(this);
    // Return is OK wherever the focus is.
    presetButtons_ = AddPresetButtons(this, presetGroup_, area);
    connect(presetGroup_, &QButtonGroup::idClicked, this, &CEditPresetDlg::ChoosePreset);

    clear_ = new BitmapButton(QStringLiteral("ｸﾘｱ"), this);
    placeButton(clear_, 117, 311);
    connect(clear_, &QAbstractButton::clicked, this, &CEditPresetDlg::ClearPreset);
    cancel_ = new BitmapButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    placeButton(cancel_, 174, 311);
    connect(cancel_, &QAbstractButton::clicked, this, &QDialog::reject);
    ok_ = new BitmapButton(QStringLiteral("OK"), this);
    placeButton(ok_, 231, 311);
    connect(ok_, &QAbstractButton::clicked, this, &CEditPresetDlg::accept);
}

QAbstractButton* CEditPresetDlg::presetButton(int index) const {
    return presetButtons_.at(static_cast<std::size_t>(index));
}

void CEditPresetDlg::SetPresets(int current, const PresetArray& presets) {
    presets_ = presets;
    current_ = current >= 0 && current < kPresetCount ? current : -1;
    ShowFields(current_ >= 0 ? presets_[static_cast<std::size_t>(current_)] : Preset{});
    ShowCurrentButton();
}

int CEditPresetDlg::GetPresets(PresetArray& presets) const {
    presets = presets_;
    return current_;
}

void CEditPresetDlg::ShowCurrentButton() {
    if (current_ >= 0) {
        presetButtons_[static_cast<std::size_t>(current_)]->setChecked(true);
        return;
    }
    // An exclusive group keeps one button down; it lets go of it only while not exclusive.
    presetGroup_->setExclusive(false);
    for (QAbstractButton* button : presetButtons_) {
        button->setChecked(false);
    }
    presetGroup_->setExclusive(true);
}

Preset CEditPresetDlg::TakeFields() const {
    Preset fields;
    fields.caption = TakeText(caption_->toPlainText(), shownCaption_.text, shownCaption_.bytes);
    fields.sourceFolder = TakeText(source_->text(), shownSource_.text, shownSource_.bytes);
    fields.targetFolder = TakeText(target_->text(), shownTarget_.text, shownTarget_.bytes);
    fields.mergeMode = mergeMode_->isChecked() ? 1 : 0;
    fields.useExclusions = useExclusions_->isChecked() ? 1 : 0;
    return fields;
}

void CEditPresetDlg::ShowFields(const Preset& fields) {
    caption_->setPlainText(CaptionText(fields.caption));
    // What the field gives back, which is what a later take compares with.
    shownCaption_ = {caption_->toPlainText(), fields.caption};
    SetLineText(source_, shownSource_, fields.sourceFolder);
    SetLineText(target_, shownTarget_, fields.targetFolder);
    mergeMode_->setChecked(fields.mergeMode == 1);
    useExclusions_->setChecked(fields.useExclusions == 1);
}

void CEditPresetDlg::SetLineText(QLineEdit* field, ShownText& shown, const std::string& bytes) {
    SetWholeText(field, QString::fromStdString(bytes));
    shown = {field->text(), bytes};
}

void CEditPresetDlg::StoreFieldsInCurrent() {
    if (current_ >= 0) {
        presets_[static_cast<std::size_t>(current_)] = TakeFields();
    }
}

void CEditPresetDlg::ChoosePreset(int index) {
    if (index < 0 || index >= kPresetCount) {
        return;
    }
    // The fields belong to the preset that was current before the choice.
    StoreFieldsInCurrent();
    current_ = index;
    ShowFields(presets_[static_cast<std::size_t>(index)]);
    ShowCurrentButton();
}

void CEditPresetDlg::BrowseSource() {
    Browse(source_, shownSource_, QStringLiteral("ｿｰｽﾌｫﾙﾀﾞを選択してください。"));
}

void CEditPresetDlg::BrowseTarget() {
    Browse(target_, shownTarget_, QStringLiteral("ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞを選択してください。"));
}

void CEditPresetDlg::Browse(QLineEdit* field, ShownText& shown, const QString& title) {
    const CFolderSelect picker(this);
    const QString chosen = picker.Browse(title, field->text());
    if (!chosen.isEmpty()) {  // cancelled: the field keeps its text
        SetLineText(field, shown, chosen.toStdString());
    }
}

void CEditPresetDlg::SwapFolders() {
    Preset fields = TakeFields();
    std::swap(fields.sourceFolder, fields.targetFolder);
    ShowFields(fields);
}

bool CEditPresetDlg::Confirm(const QString& text) {
    if (askUser_) {
        return askUser_(text, kYesNo) == kYes;
    }
    CMessageBox box(text, kYesNo, 0, this);
    return box.exec() == kYes;
}

void CEditPresetDlg::ClearPreset() {
    // Only the fields are emptied; the preset takes them when they are stored.
    if (Confirm(QStringLiteral("現在選択されているﾌﾟﾘｾｯﾄをｸﾘｱします。よろしいですか？"))) {
        ShowFields(Preset{});
    }
}

void CEditPresetDlg::ClearAllPresets() {
    if (Confirm(QStringLiteral("全てのﾌﾟﾘｾｯﾄをｸﾘｱします。よろしいですか？"))) {
        presets_.fill(Preset{});
        ShowFields(Preset{});
    }
}

void CEditPresetDlg::CutPreset() {
    clipboard_ = TakeFields();
    ShowFields(Preset{});
    pasteAction_->setEnabled(true);
}

void CEditPresetDlg::CopyPreset() {
    clipboard_ = TakeFields();
    pasteAction_->setEnabled(true);
}

void CEditPresetDlg::PastePreset() {
    // Paste stays available, so that one preset can be pasted into several.
    ShowFields(clipboard_);
}

void CEditPresetDlg::accept() {
    StoreFieldsInCurrent();
    QDialog::accept();
}

void CEditPresetDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = (event->modifiers() | Qt::KeypadModifier) == Qt::KeypadModifier;
    if (!enter || !plain) {
        QDialog::keyPressEvent(event);
        return;
    }
    // A focused command button takes Return for itself; anywhere else (the caption field keeps
    // it for its line breaks) Return is OK.
    if (auto* button = qobject_cast<BitmapButton*>(focusWidget())) {
        button->click();
    } else {
        accept();
    }
}

}  // namespace mirova::ui
