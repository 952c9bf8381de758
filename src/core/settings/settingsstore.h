#pragma once

#include <QLatin1String>
#include <QString>
#include <QVariant>

// The settings kept between runs, in the section "operate" of ConverInif.ini: the output
// folder (key "Outpath") and how many conversions run at once (key "Jobs"; files written
// before it existed simply lack it).
class SettingsStore
{
public:
    // The file next to the executable when that folder is writable or the file is
    // already there (a portable copy), else in the per-user configuration folder;
    // $WAVETRANSMUTER_SETTINGS_FILE names it instead when set.
    SettingsStore();

    QString SettingsFile() const { return m_file; }

    // A file larger than this is refused unread: the store keeps one path, and a huge
    // file would cost its size many times over in memory.
    static constexpr qint64 MaxFileSize = 1024 * 1024;

    // The stored folder, empty when the file, the section or the key is missing. A
    // relative value is taken relative to the home folder, so that the encoder and the
    // tag write use one absolute path whatever their working folders. Empty too, with
    // *error saying why, when the file is larger than MaxFileSize.
    QString readOutputDir(QString *error = nullptr) const;
    // Stores the folder, creating the file (and its folder) when missing. On failure
    // nothing is stored and *error reads "Unable to write to <full path of the file>".
    bool writeOutputDir(const QString &dir, QString *error);

    // Conversions at once: 1 when the file, the section or the key is missing or the value
    // is no number, clamped to 1 ... maxJobs() otherwise.
    int readJobs() const;
    // Stores the number (clamped as readJobs() reads it); fails as writeOutputDir() does.
    bool writeJobs(int jobs, QString *error);
    // The most conversions at once the settings offer: one per core.
    static int maxJobs();

    // The user's music folder.
    static QString defaultOutputDir();

    // The output folder at start: the stored one, else the default; a missing folder
    // is created (one level; a failure is left for the first job to report). *error
    // tells when the file was refused (the default is used then).
    QString LoadOutputDir(QString *error = nullptr);

private:
    QString tooLarge() const;
    bool writeValue(QLatin1String key, const QVariant &value, QString *error);

    QString m_file;
};
