#pragma once

#include <QByteArray>
#include <QString>

// How the file system of an output folder takes names. FAT, exFAT and NTFS (USB sticks, SD
// cards, Windows disks, in the kernel or through FUSE) and SMB shares refuse some characters
// and compare names without letter case; a case-folding ext4 folder folds case only.
struct NameRules
{
    bool foldsCase = false;    // "Song" and "song" name one file
    bool windowsNames = false; // : ? " * < > | \ are refused, and so is a trailing dot or blank
    bool unnamedFiles = true;  // an unnamed work file (O_TMPFILE) is worth trying

    // The path as the file system compares names: case-folded where it folds case.
    QString key(const QString &path) const;
};

// The rules for names in `folder`, read from the file system of the folder, or of the nearest
// folder above it that exists (the output folder may be made only when the batch starts). For
// tests, the environment variable WAVETRANSMUTER_TEST_FAT_FOLDER names a folder that counts as
// FAT, with every folder below it: no FAT file system can be mounted where the tests run.
NameRules NameRulesFor(const QString &folder);

// The file system type of the mount whose device is major:minor, as the text of
// /proc/self/mountinfo gives it ("vfat", "fuseblk", "fuse.sshfs"); empty when none is listed.
QByteArray MountTypeOf(const QByteArray &mountinfo, unsigned major, unsigned minor);
