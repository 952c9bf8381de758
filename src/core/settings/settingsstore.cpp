#include "core/settings/settingsstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString &fileName()
{
    static const QString name = QStringLiteral("ConverInif.ini");
    return name;
}

const QLatin1String OutpathKey("Outpath");
const QLatin1String SubfoldersKey("IncludeSubfolders");

// Section and key names in INI files are not case-sensitive; the key is found and
// rewritten in whatever spelling the file has.
QString keyPath(QSettings &settings, QLatin1String key)
{
    const QLatin1String section("operate");
    const QStringList groups = settings.childGroups();
    for (const QString &group : groups) {
        if (group.compare(section, Qt::CaseInsensitive) != 0)
            continue;
        settings.beginGroup(group);
        const QStringList keys = settings.childKeys();
        settings.endGroup();
        for (const QString &name : keys) {
            if (name.compare(key, Qt::CaseInsensitive) == 0)
                return group + QLatin1Char('/') + name;
        }
    }
    return section + QLatin1Char('/') + key;
}

QString locateSettingsFile()
{
    const QString fromEnvironment = qEnvironmentVariable("WAVETRANSMUTER_SETTINGS_FILE");
    if (!fromEnvironment.isEmpty())
        return QFileInfo(fromEnvironment).absoluteFilePath();

    const QString appDir = QCoreApplication::applicationDirPath();
    if (!appDir.isEmpty()) {
        const QString portable = QDir(appDir).filePath(fileName());
        if (QFileInfo::exists(portable) || QFileInfo(appDir).isWritable())
            return portable;
    }
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
        .filePath(fileName());
}

} // namespace

SettingsStore::SettingsStore() : m_file(locateSettingsFile()) {}

QString SettingsStore::readOutputDir() const
{
    if (!QFileInfo(m_file).isFile())
        return QString();
    QSettings settings(m_file, QSettings::IniFormat);
    const QVariant value = settings.value(keyPath(settings, OutpathKey));
    // An unquoted value with commas (a hand-edited file) reads as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

bool SettingsStore::writeOutputDir(const QString &dir, QString *error)
{
    return writeValue(OutpathKey, dir, error);
}

bool SettingsStore::readIncludeSubfolders() const
{
    if (!QFileInfo(m_file).isFile())
        return false;
    QSettings settings(m_file, QSettings::IniFormat);
    return settings.value(keyPath(settings, SubfoldersKey)).toString().trimmed() ==
           QLatin1String("1");
}

bool SettingsStore::writeIncludeSubfolders(bool include, QString *error)
{
    return writeValue(SubfoldersKey, include ? QStringLiteral("1") : QStringLiteral("0"), error);
}

bool SettingsStore::writeValue(QLatin1String key, const QString &value, QString *error)
{
    QSettings settings(m_file, QSettings::IniFormat);
    // QSettings caches files per process; without this check a value that could not
    // be written would still be read back by the next store on the same file.
    if (settings.isWritable()) {
        settings.setValue(keyPath(settings, key), value);
        settings.sync();
        if (settings.status() == QSettings::NoError)
            return true;
    }
    if (error)
        *error = QStringLiteral("Unable to write to %1").arg(m_file);
    return false;
}

QString SettingsStore::defaultOutputDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
}

QString SettingsStore::LoadOutputDir()
{
    QString dir = readOutputDir();
    if (dir.isEmpty())
        dir = defaultOutputDir();
    if (!dir.isEmpty() && !QFileInfo::exists(dir))
        QDir().mkdir(dir);
    return dir;
}
