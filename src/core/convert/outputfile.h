#pragma once

#include "core/convert/namerules.h"

#include <QByteArray>
#include <QList>
#include <QString>

// How a job's output reaches its final name in a folder that other users may write into.
// Everything goes through descriptors: the output folder is opened once and each folder below
// it is entered from there without following a link; the encoder writes through the open work
// file (an unnamed file where the file system has them, else a hidden ".<name>.wt-XXXXXX<ext>"
// made new beside the final name), the tag goes in through the same descriptor, and only a
// job that succeeded gives the work file its final name, relative to the folder. So a failed,
// stopped or crashed run never touches an earlier output, a partial file never carries the
// final name, and no name anybody swaps for a link ever makes us write, truncate, chmod or
// rename anything outside the output folder.

// Why nothing may be written at `finalPath`: a directory, FIFO, device or socket is there
// (a FIFO would keep the encoder waiting). Empty when the path is free, a regular file or a
// symbolic link (the final rename replaces the link itself, never what it points to).
QString OutputPathProblem(const QString &finalPath);

// What a name holds, for the existing-file rules.
enum class OutputState
{
    Free,     // nothing
    NoOutput, // an empty file (a crashed run's claim) or a link to nothing or to an empty file
    Output,   // a file with bytes, or a link to anything else
    Other,    // a folder, FIFO, device or socket
};
// `name` relative to the folder `dirfd` (AT_FDCWD and a path work too); opens nothing.
OutputState OutputStateAt(int dirfd, const QByteArray &name);

// One job's output folder, work file and claim on the final name; everything still ours is
// removed when it goes (discard()).
class OutputFile
{
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Opens the output folder `root` (the user's choice: a link in its own path is followed)
    // and makes and enters each folder from it down to `folder`, never following a link
    // there. `rules` are its file system's (NameRulesFor()). False with *error naming the
    // folder that could not be made or entered.
    bool openFolder(const QString &root, const QString &folder, const NameRules &rules,
                    QString *error);
    // The work files of runs that ended without removing them (killed outright) in the
    // folder: each one that no run holds any more is removed. Returns how many.
    int removeStaleWorkFiles();

    enum class Claim
    {
        Claimed, // the name is this job's until commit() or discard()
        Output,  // an output is there (OutputState::Output)
        Busy,    // another run's claim: an empty file it holds
        Other,   // a folder, FIFO, device or socket
        Failed,  // *error says why
    };
    // Takes the final name in the folder before the encoder runs, as an empty file made new
    // and held (locked) for the job's life. A name that holds no output (an empty file no
    // run holds, a dangling link) is taken over. Two runs, or two machines on a shared
    // folder, never both claim one name. Where names fold case, a name that is there is
    // taken as the folder spells it (a FUSE mount would otherwise give each spelling a file
    // of its own, with locks of its own): claimedName() tells the name claimed.
    Claim claim(const QString &name, QString *error);
    QString claimedName() const;

    // Makes the work file for `finalName`: unnamed (O_TMPFILE) when `unnamed` and the file
    // system allows, else a hidden name beside it, locked for the job's life.
    bool createWorkFile(const QString &finalName, bool unnamed, QString *error);
    // The work file's descriptor, which the encoder inherits; -1 without one.
    int workDescriptor() const { return m_work; }
    // What the encoder is told to write: /proc/self/fd/N of that descriptor.
    QString encoderPath() const;
    // Bytes in the work file; -1 without one.
    qint64 workSize() const;
    // A new descriptor of the work file for reading and writing (the caller closes it),
    // opened from ours, never by name: a description of its own, as the encoder's is, for
    // FUSE file systems that serve the creating one stale data. -1 without a work file.
    int reopenWork() const;

    // Gives the work file `finalName` in the folder, replacing what is there; under a claim
    // only while the name still holds this job's claim, so what another program put there
    // meanwhile stays. False with *error when the folder was moved or removed meanwhile, or
    // the work file or the claim was swapped; discard() removes what is left of ours then.
    bool commit(const QString &finalName, QString *error);
    // Removes the work file and the claim while they are still ours, and closes everything.
    void discard();

private:
    void dropWork();
    QByteArray spellingOf(const QByteArray &name) const;
    bool stillInPlace() const;
    bool isOurs(const QByteArray &name, int fd) const;

    NameRules m_rules;
    int m_root = -1;
    int m_folder = -1;
    QString m_rootPath;
    QString m_folderPath;
    QList<QByteArray> m_below; // the folders from the root down to m_folder
    int m_work = -1;
    QByteArray m_workName; // empty while the work file is unnamed
    int m_claim = -1;
    QByteArray m_claimName;
};

// A write past the file-size limit (ulimit -f) would kill the program with SIGXFSZ in the
// middle of a tag append; ignored, the write fails with EFBIG and is undone like any other.
// Called first thing by both programs.
void IgnoreFileSizeLimitSignal();
// For a child process between fork and exec: the encoder gets the default back, so it
// ends as it would started from a shell instead of writing on into a truncated file.
void RestoreFileSizeLimitSignal();
