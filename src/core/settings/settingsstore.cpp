#include "core/settings/settingsstore.h"

#include "core/convert/profiletables.h"

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

const QString Section = QStringLiteral("operate");

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

// How each type of value reads from its text in the file and is written back.
bool decode(const QString &text, QString &out)
{
    out = text;
    return true;
}

QVariant encode(const QString &value)
{
    return value;
}

bool decode(const QString &text, bool &out)
{
    out = text.trimmed() == QLatin1String("1");
    return true;
}

QVariant encode(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

bool decode(const QString &text, std::optional<int> &out)
{
    bool ok = false;
    out = text.trimmed().toInt(&ok);
    return ok;
}

QVariant encode(const std::optional<int> &value)
{
    return value ? QVariant(*value) : QVariant(QString());
}

bool decode(const QString &text, std::optional<QPoint> &out)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 2)
        return false;
    bool xOk = false, yOk = false;
    const int x = parts[0].trimmed().toInt(&xOk);
    const int y = parts[1].trimmed().toInt(&yOk);
    if (!xOk || !yOk)
        return false;
    out = QPoint(x, y);
    return true;
}

QVariant encode(const std::optional<QPoint> &value)
{
    // Written as "x, y", the way the file has always had it.
    return value ? QVariant(QStringList{QString::number(value->x()), QString::number(value->y())})
                 : QVariant(QString());
}

bool decode(const QString &text, std::optional<QSize> &out)
{
    std::optional<QPoint> pair;
    if (!decode(text, pair) || pair->x() <= 0 || pair->y() <= 0)
        return false;
    out = QSize(pair->x(), pair->y());
    return true;
}

QVariant encode(const std::optional<QSize> &value)
{
    return encode(value ? std::optional<QPoint>(QPoint(value->width(), value->height()))
                        : std::optional<QPoint>());
}

bool decode(const QString &text, QList<int> &out)
{
    out.clear();
    const QStringList parts = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (!ok || n <= 0)
            return false;
        out.append(n);
    }
    return true;
}

QVariant encode(const QList<int> &value)
{
    QStringList parts;
    for (int n : value)
        parts << QString::number(n);
    // One number (or none) is written as text; QSettings writes short lists oddly.
    return parts.size() <= 1 ? QVariant(parts.value(0)) : QVariant(parts);
}

bool decode(const QString &text, ExistingOutput &out)
{
    const std::optional<ExistingOutput> policy = ExistingOutputFromName(text);
    if (policy)
        out = *policy;
    return policy.has_value();
}

QVariant encode(ExistingOutput value)
{
    return ExistingOutputName(value);
}

// The keys, each spelled once.
const SettingsStore::Setting<QString> OutputDirKey{"Outpath", {}};
const SettingsStore::Setting<std::optional<QPoint>> WindowPosKey{"WindowPos", std::nullopt};
const SettingsStore::Setting<bool> IncludeSubfoldersKey{"IncludeSubfolders", false};
const SettingsStore::Setting<std::optional<int>> JobsKey{"Jobs", std::nullopt};
const SettingsStore::Setting<QString> PatternKey{"Pattern", NamingOptions::DefaultPattern()};
const SettingsStore::Setting<bool> KeepFoldersKey{"KeepFolders", false};
const SettingsStore::Setting<ExistingOutput> ExistingKey{"Existing", ExistingOutput::Replace};
const SettingsStore::Setting<std::optional<QSize>> WindowSizeKey{"WindowSize", std::nullopt};
const SettingsStore::Setting<bool> WindowMaximizedKey{"WindowMaximized", false};
const SettingsStore::Setting<QList<int>> ColumnWidthsKey{"ColumnWidths", {}};
const SettingsStore::Setting<QString> SampleRateKey{"SampleRate", {}};
const SettingsStore::Setting<QString> BitrateKey{"Bitrate", {}};
const SettingsStore::Setting<QString> ChannelsKey{"Channels", {}};

// The stored value when `table` offers it, else `fallback`.
QString offered(const QString &stored, const QVector<ProfileItem> &table, const QString &fallback)
{
    const bool known = std::any_of(table.begin(), table.end(), [&stored](const ProfileItem &item) {
        return item.value == stored.trimmed();
    });
    return known ? stored.trimmed() : fallback;
}
const SettingsStore::Setting<bool> KeepTimeKey{"KeepTime", TagOptions().keepSourceTime};
const SettingsStore::Setting<bool> FolderCoverKey{"FolderCover", TagOptions().coverFromFolder};

} // namespace

SettingsStore::SettingsStore() : m_file(locateSettingsFile()), m_section(Section)
{
    load();
}

void SettingsStore::load()
{
    const QFileInfo info(m_file);
    if (!info.isFile())
        return;
    if (info.size() > MaxFileSize) {
        m_readError = QStringLiteral("The settings file %1 is larger than %2 MiB and was not read")
                          .arg(m_file)
                          .arg(MaxFileSize / (1024 * 1024));
        return;
    }
    // Section and key names in INI files are not case-sensitive: they are found, and
    // rewritten, in whatever spelling the file has.
    QSettings settings(m_file, QSettings::IniFormat);
    const QStringList groups = settings.childGroups();
    for (const QString &group : groups) {
        if (group.compare(Section, Qt::CaseInsensitive) != 0)
            continue;
        m_section = group;
        settings.beginGroup(group);
        const QStringList keys = settings.childKeys();
        for (const QString &key : keys) {
            if (!m_values.contains(key.toLower()))
                m_values.insert(key.toLower(), {key, settings.value(key)});
        }
        settings.endGroup();
    }
}

std::optional<QString> SettingsStore::text(const char *key) const
{
    const auto it = m_values.constFind(QString::fromLatin1(key).toLower());
    if (it == m_values.constEnd())
        return std::nullopt;
    const QVariant &value = it->second;
    // An unquoted value with commas (a hand-edited file) reads as a list.
    return value.typeId() == QMetaType::QStringList
               ? value.toStringList().join(QStringLiteral(", "))
               : value.toString();
}

template <typename T> T SettingsStore::value(const Setting<T> &setting) const
{
    T out = setting.fallback;
    const std::optional<QString> stored = text(setting.key);
    if (stored && !decode(*stored, out))
        out = setting.fallback;
    return out;
}

template <typename T>
bool SettingsStore::setValue(const Setting<T> &setting, const T &value, QString *error)
{
    return writeText(setting.key, encode(value), error);
}

bool SettingsStore::writeText(const char *key, const QVariant &value, QString *error)
{
    if (QFileInfo(m_file).size() > MaxFileSize) {
        if (error)
            *error = QStringLiteral("Unable to write to %1 (larger than %2 MiB)")
                         .arg(m_file)
                         .arg(MaxFileSize / (1024 * 1024));
        return false;
    }
    const QString lower = QString::fromLatin1(key).toLower();
    const QString spelling =
        m_values.contains(lower) ? m_values.value(lower).first : QString::fromLatin1(key);
    QSettings settings(m_file, QSettings::IniFormat);
    // QSettings caches files per process; without this check a value that could not
    // be written would still be read back by the next store on the same file.
    if (settings.isWritable()) {
        settings.setValue(m_section + QLatin1Char('/') + spelling, value);
        settings.sync();
        if (settings.status() == QSettings::NoError) {
            m_values.insert(lower, {spelling, value});
            return true;
        }
    }
    if (error)
        *error = QStringLiteral("Unable to write to %1").arg(m_file);
    return false;
}

QString SettingsStore::readOutputDir(QString *error) const
{
    if (error && !m_readError.isEmpty())
        *error = m_readError;
    const QString dir = value(OutputDirKey);
    if (dir.isEmpty() || !QDir::isRelativePath(dir))
        return dir;
    return QDir::cleanPath(QDir::home().absoluteFilePath(dir));
}

bool SettingsStore::writeOutputDir(const QString &dir, QString *error)
{
    return setValue(OutputDirKey, dir, error);
}

std::optional<QPoint> SettingsStore::readWindowPos() const
{
    return value(WindowPosKey);
}

bool SettingsStore::writeWindowPos(const QPoint &pos, QString *error)
{
    return setValue(WindowPosKey, std::optional<QPoint>(pos), error);
}

std::optional<QSize> SettingsStore::readWindowSize() const
{
    return value(WindowSizeKey);
}

bool SettingsStore::readWindowMaximized() const
{
    return value(WindowMaximizedKey);
}

bool SettingsStore::writeWindowSize(const QSize &size, bool maximized, QString *error)
{
    return setValue(WindowSizeKey, std::optional<QSize>(size), error) &&
           setValue(WindowMaximizedKey, maximized, error);
}

QList<int> SettingsStore::readColumnWidths() const
{
    return value(ColumnWidthsKey);
}

bool SettingsStore::writeColumnWidths(const QList<int> &widths, QString *error)
{
    return setValue(ColumnWidthsKey, widths, error);
}

EncodingProfile SettingsStore::readProfile() const
{
    const EncodingProfile defaults = EncodingProfile::defaults();
    EncodingProfile profile;
    profile.SampleRate =
        offered(value(SampleRateKey), ProfileTables::sampleRates(), defaults.SampleRate);
    profile.Bitrate = offered(value(BitrateKey), ProfileTables::bitrates(), defaults.Bitrate);
    profile.Channels = offered(value(ChannelsKey), ProfileTables::channels(), defaults.Channels);
    return profile;
}

bool SettingsStore::writeProfile(const EncodingProfile &profile, QString *error)
{
    return setValue(SampleRateKey, profile.SampleRate, error) &&
           setValue(BitrateKey, profile.Bitrate, error) &&
           setValue(ChannelsKey, profile.Channels, error);
}

bool SettingsStore::readIncludeSubfolders() const
{
    return value(IncludeSubfoldersKey);
}

bool SettingsStore::writeIncludeSubfolders(bool include, QString *error)
{
    return setValue(IncludeSubfoldersKey, include, error);
}

int SettingsStore::readJobs() const
{
    // Without a number, one per core, as the peers do; rows still start in list order.
    const std::optional<int> jobs = value(JobsKey);
    return jobs ? std::clamp(*jobs, 1, maxJobs()) : maxJobs();
}

bool SettingsStore::writeJobs(int jobs, QString *error)
{
    return setValue(JobsKey, std::optional<int>(std::clamp(jobs, 1, maxJobs())), error);
}

int SettingsStore::maxJobs()
{
    return std::max(1, QThread::idealThreadCount());
}

NamingOptions SettingsStore::readNaming() const
{
    NamingOptions naming;
    const QString pattern = value(PatternKey);
    if (!pattern.isEmpty() && PatternProblem(pattern).isEmpty())
        naming.pattern = pattern;
    naming.keepFolders = value(KeepFoldersKey);
    naming.existing = value(ExistingKey);
    return naming;
}

bool SettingsStore::writeNaming(const NamingOptions &naming, QString *error)
{
    return setValue(PatternKey, naming.pattern, error) &&
           setValue(KeepFoldersKey, naming.keepFolders, error) &&
           setValue(ExistingKey, naming.existing, error);
}

TagOptions SettingsStore::readTagOptions() const
{
    TagOptions tags;
    tags.keepSourceTime = value(KeepTimeKey);
    tags.coverFromFolder = value(FolderCoverKey);
    return tags;
}

bool SettingsStore::writeTagOptions(const TagOptions &tags, QString *error)
{
    return setValue(KeepTimeKey, tags.keepSourceTime, error) &&
           setValue(FolderCoverKey, tags.coverFromFolder, error);
}

QString SettingsStore::defaultOutputDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
}

QString SettingsStore::LoadOutputDir(QString *error) const
{
    const QString dir = readOutputDir(error);
    return dir.isEmpty() ? defaultOutputDir() : dir;
}
