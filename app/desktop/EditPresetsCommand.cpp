// "編集モード(&E)": the preset editor works on a copy of the presets; the main dialog takes the
// copy back only when the editor ends with OK.
#include "app/desktop/CMirovaApp.h"
#include "app/desktop/CMirovaDlg.h"
#include "ui/CEditPresetDlg.h"

namespace mirova {

void CMirovaDlg::EditPresets() {
    // The run in progress copied its preset, but the table must not change under the window
    // while the run's windows lead.
    if (runInProgress()) {
        return;
    }
    CMirovaApp& app = app_;
    ui::CEditPresetDlg editor(
        [&app](const QString& text, int type) { return app.DoMessageBox(text, type); }, this);
    editor.SetPresets(table().currentPreset, table().presets);
    if (editor.exec() != QDialog::Accepted) {
        return;
    }
    const int chosen = editor.GetPresets(table().presets);
    // The editor always has a current preset when the main dialog opens it; should it have
    // none, the main dialog keeps its own and still shows the edited values.
    SelectPreset(chosen >= 0 && chosen < kPresetCount ? chosen : table().currentPreset);
}

}  // namespace mirova
