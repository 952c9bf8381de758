#pragma once

#include <QString>

// What is kept between runs, in the section "operate" of ConverInif.ini: the output
// folder (key "Outpath") and whether "Add folder" includes subfolders (key
// "IncludeSubfolders", 1 or 0).
class SettingsStore
{
public:
    // The file next to the executable when that folder is writable or the file is
    // already there (a portable copy), else in the per-user configuration folder;
    // $WAVETRANSMUTER_SETTINGS_FILE names it instead when set.
    SettingsStore();

    QString SettingsFile() const { return m_file; }

    // The stored folder, empty when the file, the section or the key is missing.
    QString readOutputDir() const;
    // Stores the folder, creating the file (and its folder) when missing. On failure
    // nothing is stored and *error reads "Unable to write to <full path of the file>".
    bool writeOutputDir(const QString &dir, QString *error);

    // Off when the file or the key is missing. Written as writeOutputDir() writes.
    bool readIncludeSubfolders() const;
    bool writeIncludeSubfolders(bool include, QString *error);

    // The user's music folder.
    static QString defaultOutputDir();

    // The output folder at start: the stored one, else the default; a missing folder
    // is created (one level; a failure is left for the first job to report).
    QString LoadOutputDir();

private:
    bool writeValue(QLatin1String key, const QString &value, QString *error);

    QString m_file;
};
