#pragma once

#include "fuzzcheck.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// Files of the targets that go through the file system; any failure ends the run.
inline void fuzzWriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
}

inline QByteArray fuzzReadFile(const QString &path)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    return file.readAll();
}
