#include "app/desktop/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace mirova {

bool InstallQtTranslation(QCoreApplication& application) {
    static const QString kName = QStringLiteral("mirova-qt-translation");
    if (application.findChild<QTranslator*>(kName, Qt::FindDirectChildrenOnly) != nullptr) {
        return true;  // a second start in the same process (the tests) loads it once
    }
    auto* translator = new QTranslator(&application);
    translator->setObjectName(kName);
    // qtbase_ja.qm holds the texts of the widgets and of the platform's dialogs.
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace mirova
