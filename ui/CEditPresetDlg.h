#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <functional>
#include <string>

#include "settings/Preset.h"

class QAbstractButton;
class QAction;
class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QMenuBar;
class QPlainTextEdit;

namespace mirova::ui {

class BitmapButton;

// "プリセットの編集": edits a working copy of the 30 presets, one at a time in its fields. The
// fields are stored into the preset they show whenever another preset is chosen and on OK; the
// caller takes the whole set back only after OK. Cut, copy and paste move a preset's five values
// through a clipboard of the editor's own, which lives as long as the editor.
class CEditPresetDlg : public QDialog {
    Q_OBJECT
public:
    // Asks the user a question; type 4 is Yes/No, answered 6 for Yes and 7 for No.
    using AskUser = std::function<int(const QString& text, int type)>;

    explicit CEditPresetDlg(AskUser askUser, QWidget* parent = nullptr);
    ~CEditPresetDlg() override;

    // Takes a copy of all presets and shows the current one (-1: none; no preset button down).
    void SetPresets(int current, const PresetArray& presets);
    // Copies the working presets out and returns the preset that was current at OK.
    int GetPresets(PresetArray& presets) const;

    // The commands of the buttons and the menu.
    void ChoosePreset(int index);
    void BrowseSource();
    void BrowseTarget();
    void SwapFolders();
    void ClearPreset();
    void ClearAllPresets();
    void CutPreset();
    void CopyPreset();
    void PastePreset();

    // Each text field takes at most this many bytes of typed text; a longer text that comes
    // from elsewhere is kept as long as the user does not lengthen it.
    static constexpr int kFieldLimitBytes = 260;

    // Controls, for tests and screenshots.
    QPlainTextEdit* captionField() const { return caption_; }
    QLineEdit* sourceField() const { return source_; }
    QLineEdit* targetField() const { return target_; }
    QCheckBox* mergeModeCheck() const { return mergeMode_; }
    QCheckBox* useExclusionsCheck() const { return useExclusions_; }
    QAbstractButton* presetButton(int index) const;
    BitmapButton* sourceBrowseButton() const { return browseSource_; }
    BitmapButton* targetBrowseButton() const { return browseTarget_; }
    BitmapButton* swapButton() const { return swap_; }
    BitmapButton* clearButton() const { return clear_; }
    BitmapButton* cancelButton() const { return cancel_; }
    BitmapButton* okButton() const { return ok_; }
    QMenuBar* menuBar() const { return menuBar_; }
    QAction* clearAction() const { return clearAction_; }
    QAction* clearAllAction() const { return clearAllAction_; }
    QAction* cutAction() const { return cutAction_; }
    QAction* copyAction() const { return copyAction_; }
    QAction* pasteAction() const { return pasteAction_; }

public slots:
    void accept() override;  // OK: stores the fields into the current preset, then closes

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The text of a field as it was last shown, with the bytes it came from: a field the user
    // has not changed gives back exactly those bytes (also a text longer than the limit, or
    // one that is not valid UTF-8).
    struct ShownText {
        QString text;
        std::string bytes;
    };

    void BuildMenus();
    void BuildControls();
    bool Confirm(const QString& text);
    Preset TakeFields() const;
    void ShowFields(const Preset& fields);
    void StoreFieldsInCurrent();
    void ShowCurrentButton();
    void Browse(QLineEdit* field, ShownText& shown, const QString& title);
    void SetLineText(QLineEdit* field, ShownText& shown, const std::string& bytes);

    AskUser askUser_;
    PresetArray presets_;
    int current_ = -1;
    Preset clipboard_;
    ShownText shownCaption_;
    ShownText shownSource_;
    ShownText shownTarget_;

    QMenuBar* menuBar_ = nullptr;
    QAction* clearAction_ = nullptr;
    QAction* clearAllAction_ = nullptr;
    QAction* cutAction_ = nullptr;
    QAction* copyAction_ = nullptr;
    QAction* pasteAction_ = nullptr;
    QPlainTextEdit* caption_ = nullptr;
    QCheckBox* mergeMode_ = nullptr;
    QCheckBox* useExclusions_ = nullptr;
    QLineEdit* source_ = nullptr;
    QLineEdit* target_ = nullptr;
    BitmapButton* browseSource_ = nullptr;
    BitmapButton* swap_ = nullptr;
    BitmapButton* browseTarget_ = nullptr;
    std::array<QAbstractButton*, kPresetCount> presetButtons_{};
    QButtonGroup* presetGroup_ = nullptr;
    BitmapButton* clear_ = nullptr;
    BitmapButton* cancel_ = nullptr;
    BitmapButton* ok_ = nullptr;
};

}  // namespace mirova::ui
