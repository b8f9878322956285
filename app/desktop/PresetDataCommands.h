#pragma once

#include <QString>
#include <functional>

class QFileDialog;
class QWidget;

namespace mirova {

// The file dialogs of the menu commands "プリセットデータ保存(&S)" and "プリセットデータ読込み(&R)"
// (CMirovaDlg::SavePresetData and LoadPresetData, defined beside this header).
enum class PresetFileDialog { Save, Open };

// Shows the dialog of that kind with its title and returns the chosen path, or an empty text
// when the user cancels.
using PresetFileChooser =
    std::function<QString(PresetFileDialog kind, const QString& title, QWidget* owner)>;

// Gives a file dialog the mode, filters, default name and extension of that kind.
void PreparePresetFileDialog(QFileDialog& dialog, PresetFileDialog kind);

// Tests put a script in place of the dialogs; an empty function brings the dialogs back.
void SetPresetFileChooserForTesting(PresetFileChooser chooser);

}  // namespace mirova
