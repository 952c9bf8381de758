#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// One family of the files the program takes: the open dialog's filter for it, and the
// MIME types (shared-mime-info names) the desktop entry offers the program for.
struct MediaFamily
{
    QString description;  // the filter as the open dialog shows it
    QStringList patterns; // "*.flac", lower case; names match in any letter case
    QStringList mimeTypes;
};

// Every input type the program takes, family by family: the open dialog's filters, the
// folder scan, drops, start paths, the CLI and the desktop entry all come from this list.
const QVector<MediaFamily> &MediaFamilies();
// All the families' patterns, each once, in family order.
const QStringList &MediaPatterns();
// True when the file name ends in one of the extensions, in any letter case.
bool IsMediaFileName(const QString &fileName);
