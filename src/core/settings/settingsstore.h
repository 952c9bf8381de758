#pragma once

#include "core/base/encodingprofile.h"
#include "core/convert/conversionoptions.h"
#include "core/convert/outputnaming.h"

#include <QHash>
#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QVariant>

#include <optional>

// What is kept between runs, in the section "operate" of ConverInif.ini: the output
// folder (key "Outpath"), where the main window was (key "WindowPos", "x, y"), its size
// ("WindowSize", "width, height"), whether it was maximised ("WindowMaximized", 1 or 0) and
// the widths of its list's columns ("ColumnWidths"), whether "Add folder" includes
// subfolders (key "IncludeSubfolders", 1 or 0), how many conversions run at once (key
// "Jobs"), how outputs are named (keys "Pattern", "KeepFolders", 1 or 0, and "Existing",
// replace, skip or number), the profile lists' choices ("SampleRate", "Bitrate",
// "Channels") and what outputs take from their sources ("KeepTime" and "FolderCover", 1 or
// 0). Files written before a key existed simply lack it.
//
// The file is read once, when the store is made; reads answer from that reading and never
// change anything on disk. Each write goes to the file at once and into the reading.
class SettingsStore
{
public:
    // A typed value of the section: its key, spelled here once, and what reading gives
    // when the file lacks the key or holds nothing usable under it.
    template <typename T> struct Setting
    {
        const char *key;
        T fallback;
    };

    // The file next to the executable when it is already there, or when that folder is
    // writable and not an installed program's bin folder (a build or portable copy),
    // else in the per-user configuration folder; $WAVETRANSMUTER_SETTINGS_FILE names
    // it instead when set.
    SettingsStore();

    QString SettingsFile() const { return m_file; }

    // A file larger than this is refused unread: the store keeps one path, and a huge
    // file would cost its size many times over in memory.
    static constexpr qint64 MaxFileSize = 1024 * 1024;
    // Why the file was not read, or empty.
    QString readError() const { return m_readError; }

    // The stored folder, empty when the file, the section or the key is missing. A
    // relative value is taken relative to the home folder, so that the encoder and the
    // tag write use one absolute path whatever their working folders. Empty too, with
    // *error saying why, when the file is larger than MaxFileSize.
    QString readOutputDir(QString *error = nullptr) const;
    // Stores the folder, creating the file (and its folder) when missing. On failure
    // nothing is stored and *error reads "Unable to write to <full path of the file>".
    bool writeOutputDir(const QString &dir, QString *error);

    // The window's last top-left corner; nothing when the file lacks the key or its
    // value is not two integers.
    std::optional<QPoint> readWindowPos() const;
    // Stores the corner, as writeOutputDir stores the folder.
    bool writeWindowPos(const QPoint &pos, QString *error);

    // The window's last size (without a frame: the skin draws it), and whether it was
    // maximised then; the size is the one it comes back to from maximised. Nothing, or
    // off, when the key is missing or its value is not two positive integers.
    std::optional<QSize> readWindowSize() const;
    bool readWindowMaximized() const;
    bool writeWindowSize(const QSize &size, bool maximized, QString *error);

    // The widths of the list's columns after the first, in order; empty when the key is
    // missing or holds anything but positive integers.
    QList<int> readColumnWidths() const;
    bool writeColumnWidths(const QList<int> &widths, QString *error);

    // The profile lists' choices, as the values given to the encoder (44100, 128000, 2),
    // never as positions in the lists, so that a list that changes cannot shift them. Each
    // key that is missing, or holds a value its list does not offer, gives its default.
    EncodingProfile readProfile() const;
    bool writeProfile(const EncodingProfile &profile, QString *error);

    // Off when the file or the key is missing. Written as writeOutputDir() writes.
    bool readIncludeSubfolders() const;
    bool writeIncludeSubfolders(bool include, QString *error);

    // Conversions at once: one per core when the file, the section or the key is missing
    // or the value is no number, clamped to 1 ... maxJobs() otherwise.
    int readJobs() const;
    // Stores the number (clamped as readJobs() reads it); fails as writeOutputDir() does.
    bool writeJobs(int jobs, QString *error);
    // The most conversions at once the settings offer: one per core.
    static int maxJobs();

    // How outputs are named; each key that is missing or unusable (a pattern with a problem,
    // an unknown word) gives its default, so an old file names outputs as before.
    NamingOptions readNaming() const;
    // Stores all three keys; fails as writeOutputDir() does.
    bool writeNaming(const NamingOptions &naming, QString *error);

    // Whether outputs keep their sources' modification time (off when missing) and get
    // their folder's cover image (on when missing).
    TagOptions readTagOptions() const;
    // Stores both keys; fails as writeOutputDir() does.
    bool writeTagOptions(const TagOptions &tags, QString *error);

    // The user's music folder.
    static QString defaultOutputDir();

    // The output folder at start: the stored one, else the default. *error tells when the
    // file was refused (the default is used then). Nothing is made on disk.
    QString LoadOutputDir(QString *error = nullptr) const;

private:
    template <typename T> T value(const Setting<T> &setting) const;
    template <typename T> bool setValue(const Setting<T> &setting, const T &value, QString *error);

    void load();
    // The text under the key of the section "operate", in any letter case; also when commas
    // made QSettings read it as a list. Nothing when the key is missing.
    std::optional<QString> text(const char *key) const;
    bool writeText(const char *key, const QVariant &value, QString *error);

    QString m_file;
    QString m_readError;
    // By lower-case key: the spelling the file has and the value read.
    QHash<QString, QPair<QString, QVariant>> m_values;
    QString m_section; // the section's spelling in the file
};
