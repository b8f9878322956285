#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace mirova::ui {

// Lets the user choose a folder in the platform's folder dialog, opened at a given folder.
class CFolderSelect {
public:
    explicit CFolderSelect(QWidget* owner);
    virtual ~CFolderSelect();

    // The chosen folder's full path, without a trailing separator except for the root "/";
    // empty when the user cancels. The dialog opens at startFolder when that folder exists,
    // else at its default place.
    QString Browse(const QString& title, const QString& startFolder) const;

    // Tests answer in place of the dialog; it receives the folder the dialog would open at ("" for
    // its default place) and returns what the user would choose. An empty hook restores the dialog.
    using DialogHook =
        std::function<QString(QWidget* owner, const QString& title, const QString& startFolder)>;
    static void SetDialogHookForTesting(DialogHook hook);

private:
    QWidget* owner_;
};

}  // namespace mirova::ui
