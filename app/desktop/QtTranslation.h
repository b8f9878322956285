#pragma once

class QCoreApplication;

namespace mirova {

// Gives Qt's own texts (the folder picker, the file dialogs, the standard buttons and boxes)
// the program's language. The program speaks Japanese in every locale, so Qt's Japanese
// translation is loaded whatever the system language is: one window in one language. Without
// Debian's qt6-translations-l10n, Qt's texts stay English. Returns whether it was loaded.
bool InstallQtTranslation(QCoreApplication& application);

}  // namespace mirova
