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

// Section and key names in INI files are not case-sensitive; the key is found and
// rewritten in whatever spelling the file has, and a new key joins the section as
// the file spells it.
QString sectionKey(QSettings &settings, const QString &key)
{
    QString section = QStringLiteral("operate");
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
        section = group;
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
        // An installed program (its data in share/wavetransmuter beside bin/) never
        // writes into bin/, even when run by root.
        const bool installed =
            QFileInfo(appDir + QStringLiteral("/../share/wavetransmuter")).isDir();
        if (QFileInfo::exists(portable) || (!installed && QFileInfo(appDir).isWritable()))
            return portable;
    }
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
        .filePath(fileName());
}

} // namespace

SettingsStore::SettingsStore() : m_file(locateSettingsFile()) {}

QVariant SettingsStore::readValue(const QString &key, QString *error) const
{
    const QFileInfo info(m_file);
    if (!info.isFile())
        return QVariant();
    if (info.size() > MaxFileSize) {
        if (error)
            *error = tooLarge();
        return QVariant();
    }
    QSettings settings(m_file, QSettings::IniFormat);
    return settings.value(sectionKey(settings, key));
}

bool SettingsStore::writeValue(const QString &key, const QVariant &value, QString *error)
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
        settings.setValue(sectionKey(settings, key), value);
        settings.sync();
        if (settings.status() == QSettings::NoError)
            return true;
    }
    if (error)
        *error = QStringLiteral("Unable to write to %1").arg(m_file);
    return false;
}

QString SettingsStore::readText(const QString &key, QString *error) const
{
    const QVariant value = readValue(key, error);
    // An unquoted value with commas (a hand-edited file) reads as a list.
    return value.typeId() == QMetaType::QStringList
               ? value.toStringList().join(QStringLiteral(", "))
               : value.toString();
}

QString SettingsStore::readOutputDir(QString *error) const
{
    const QString dir = readText(QStringLiteral("Outpath"), error);
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
    return writeValue(QStringLiteral("Outpath"), dir, error);
}

std::optional<QPoint> SettingsStore::readWindowPos() const
{
    const QVariant value = readValue(QStringLiteral("WindowPos"));
    // "x, y" reads as a list; a quoted "x,y" as one text.
    const QStringList parts = value.typeId() == QMetaType::QStringList
                                  ? value.toStringList()
                                  : value.toString().split(QLatin1Char(','));
    if (parts.size() != 2)
        return std::nullopt;
    bool xOk = false, yOk = false;
    const int x = parts[0].trimmed().toInt(&xOk);
    const int y = parts[1].trimmed().toInt(&yOk);
    if (!xOk || !yOk)
        return std::nullopt;
    return QPoint(x, y);
}

bool SettingsStore::writeWindowPos(const QPoint &pos, QString *error)
{
    return writeValue(QStringLiteral("WindowPos"),
                      QStringList{QString::number(pos.x()), QString::number(pos.y())}, error);
}

bool SettingsStore::readIncludeSubfolders() const
{
    return readValue(QStringLiteral("IncludeSubfolders")).toString().trimmed() ==
           QLatin1String("1");
}

bool SettingsStore::writeIncludeSubfolders(bool include, QString *error)
{
    return writeValue(QStringLiteral("IncludeSubfolders"),
                      include ? QStringLiteral("1") : QStringLiteral("0"), error);
}

int SettingsStore::readJobs() const
{
    bool ok = false;
    const int jobs = readValue(QStringLiteral("Jobs")).toString().trimmed().toInt(&ok);
    return ok ? std::clamp(jobs, 1, maxJobs()) : 1;
}

bool SettingsStore::writeJobs(int jobs, QString *error)
{
    return writeValue(QStringLiteral("Jobs"), std::clamp(jobs, 1, maxJobs()), error);
}

int SettingsStore::maxJobs()
{
    return std::max(1, QThread::idealThreadCount());
}

NamingOptions SettingsStore::readNaming() const
{
    NamingOptions naming;
    const QString text = readText(QStringLiteral("Pattern"));
    if (!text.isEmpty() && PatternProblem(text).isEmpty())
        naming.pattern = text;
    naming.keepFolders =
        readValue(QStringLiteral("KeepFolders")).toString().trimmed() == QLatin1String("1");
    if (const std::optional<ExistingOutput> existing =
            ExistingOutputFromName(readValue(QStringLiteral("Existing")).toString()))
        naming.existing = *existing;
    return naming;
}

bool SettingsStore::writeNaming(const NamingOptions &naming, QString *error)
{
    return writeValue(QStringLiteral("Pattern"), naming.pattern, error) &&
           writeValue(QStringLiteral("KeepFolders"),
                      naming.keepFolders ? QStringLiteral("1") : QStringLiteral("0"), error) &&
           writeValue(QStringLiteral("Existing"), ExistingOutputName(naming.existing), error);
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
