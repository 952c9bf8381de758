#include "core/settings/settingsstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>

namespace {

const QString &fileName()
{
    static const QString name = QStringLiteral("ConverInif.ini");
    return name;
}

const QLatin1String Section("operate");
const QLatin1String OutpathName("Outpath");
const QLatin1String JobsName("Jobs");

// Section and key names in INI files are not case-sensitive; the key is found and
// rewritten in whatever spelling the file has.
QString keyPath(QSettings &settings, QLatin1String key)
{
    const QStringList groups = settings.childGroups();
    for (const QString &group : groups) {
        if (group.compare(Section, Qt::CaseInsensitive) != 0)
            continue;
        settings.beginGroup(group);
        const QStringList keys = settings.childKeys();
        settings.endGroup();
        for (const QString &name : keys) {
            if (name.compare(key, Qt::CaseInsensitive) == 0)
                return group + QLatin1Char('/') + name;
        }
    }
    return Section + QLatin1Char('/') + key;
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

QString SettingsStore::readOutputDir(QString *error) const
{
    const QFileInfo info(m_file);
    if (!info.isFile())
        return QString();
    if (info.size() > MaxFileSize) {
        if (error)
            *error = tooLarge();
        return QString();
    }
    QSettings settings(m_file, QSettings::IniFormat);
    const QVariant value = settings.value(keyPath(settings, OutpathName));
    // An unquoted value with commas (a hand-edited file) reads as a list.
    const QString dir = value.typeId() == QMetaType::QStringList
                            ? value.toStringList().join(QStringLiteral(", "))
                            : value.toString();
    if (dir.isEmpty() || !QDir::isRelativePath(dir))
        return dir;
    return QDir::cleanPath(QDir::home().absoluteFilePath(dir));
}

QString SettingsStore::tooLarge() const
{
    return QStringLiteral("The settings file %1 is larger than %2 MiB and was not read")
        .arg(m_file)
        .arg(MaxFileSize / (1024 * 1024));
}

bool SettingsStore::writeOutputDir(const QString &dir, QString *error)
{
    return writeValue(OutpathName, dir, error);
}

int SettingsStore::maxJobs()
{
    return std::max(1, QThread::idealThreadCount());
}

int SettingsStore::readJobs() const
{
    const QFileInfo info(m_file);
    if (!info.isFile() || info.size() > MaxFileSize)
        return 1;
    QSettings settings(m_file, QSettings::IniFormat);
    bool ok = false;
    const int jobs = settings.value(keyPath(settings, JobsName)).toString().trimmed().toInt(&ok);
    return ok ? std::clamp(jobs, 1, maxJobs()) : 1;
}

bool SettingsStore::writeJobs(int jobs, QString *error)
{
    return writeValue(JobsName, std::clamp(jobs, 1, maxJobs()), error);
}

bool SettingsStore::writeValue(QLatin1String key, const QVariant &value, QString *error)
{
    if (QFileInfo(m_file).size() > MaxFileSize) {
        if (error)
            *error = QStringLiteral("Unable to write to %1 (larger than %2 MiB)")
                         .arg(m_file)
                         .arg(MaxFileSize / (1024 * 1024));
        return false;
    }
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

QString SettingsStore::LoadOutputDir(QString *error)
{
    QString dir = readOutputDir(error);
    if (dir.isEmpty())
        dir = defaultOutputDir();
    if (!dir.isEmpty() && !QFileInfo::exists(dir))
        QDir().mkdir(dir);
    return dir;
}
