#include "ui/CFolderSelect.h"

#include <QFileDialog>
#include <QFileInfo>

namespace mirova::ui {

namespace {

CFolderSelect::DialogHook& Hook() {
    static CFolderSelect::DialogHook hook;
    return hook;
}

}  // namespace

CFolderSelect::CFolderSelect(QWidget* owner) : owner_(owner) {}

CFolderSelect::~CFolderSelect() = default;

void CFolderSelect::SetDialogHookForTesting(DialogHook hook) {
    Hook() = std::move(hook);
}

QString CFolderSelect::Browse(const QString& title, const QString& startFolder) const {
    // A field that names no existing folder (a typo, a disk not mounted) opens the dialog at its
    // default place rather than at whatever part of the path happens to exist.
    const QString start =
        !startFolder.isEmpty() && QFileInfo(startFolder).isDir() ? startFolder : QString();
    QString chosen =
        Hook() ? Hook()(owner_, title, start)
               : QFileDialog::getExistingDirectory(owner_, title, start, QFileDialog::ShowDirsOnly);
    // The folders of a preset are written without a trailing separator; the root keeps its own.
    while (chosen.size() > 1 && chosen.endsWith(QLatin1Char('/'))) {
        chosen.chop(1);
    }
    return chosen;
}

}  // namespace mirova::ui
