#include "app/common/QtSettingsStore.h"

#include <QByteArray>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace mirova {
namespace {

constexpr const char* kCompany = "TK-ORVELAN";
constexpr const char* kApplication = "Mirova";

QString KeyOf(const std::string& section, const std::string& name) {
    return QString::fromUtf8(section) + QLatin1Char('/') + QString::fromUtf8(name);
}

QString ConfigurationFile() {
    // The same file as QSettings(IniFormat, UserScope, company, application), but looked up now
    // rather than once per process, so that the location follows XDG_CONFIG_HOME.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QLatin1String(kCompany) + QLatin1Char('/') +
           QLatin1String(kApplication) + QLatin1String(".conf");
}

}  // namespace

QtSettingsStore::QtSettingsStore()
    : settings_(std::make_unique<QSettings>(ConfigurationFile(), QSettings::IniFormat)) {}

QtSettingsStore::~QtSettingsStore() = default;

int QtSettingsStore::ReadInt(const std::string& section, const std::string& name, int fallback) {
    const QVariant value = settings_->value(KeyOf(section, name));
    if (!value.isValid()) {
        return fallback;
    }
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    return ok ? number : fallback;
}

std::string QtSettingsStore::ReadText(const std::string& section, const std::string& name,
                                      const std::string& fallback) {
    const QVariant value = settings_->value(KeyOf(section, name));
    if (!value.isValid()) {
        return fallback;
    }
    switch (value.typeId()) {
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        }
        case QMetaType::QStringList:
            // An unquoted value with commas, as an edited file may hold, reads as a list.
            return value.toStringList().join(QLatin1Char(',')).toStdString();
        case QMetaType::QString:
            return value.toString().toStdString();
        default:
            // A number written in this session reads as its text, as it will from the file.
            return value.canConvert<QString>() ? value.toString().toStdString() : fallback;
    }
}

void QtSettingsStore::WriteInt(const std::string& section, const std::string& name, int value) {
    settings_->setValue(KeyOf(section, name), value);
}

void QtSettingsStore::WriteText(const std::string& section, const std::string& name,
                                const std::string& value) {
    const QString text = QString::fromStdString(value);
    if (text.toStdString() == value) {
        settings_->setValue(KeyOf(section, name), text);
    } else {
        // Not UTF-8: the conversion would replace bytes, so the bytes are stored as they are.
        settings_->setValue(KeyOf(section, name),
                            QByteArray(value.data(), static_cast<qsizetype>(value.size())));
    }
}

bool QtSettingsStore::Flush() {
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

std::string QtSettingsStore::FilePath() const {
    return settings_->fileName().toStdString();
}

std::string QtSettingsStore::UnreadableText() const {
    return "設定ﾌｧｲﾙ " + FilePath() + " が読めません。\nﾌﾟﾘｾｯﾄが失われないよう、起動を中止します。";
}

std::string QtSettingsStore::UnwritableText() const {
    return "設定ﾌｧｲﾙ " + FilePath() + " に書込めません。\n設定ﾌｧｲﾙは以前の内容のままです。";
}

}  // namespace mirova
