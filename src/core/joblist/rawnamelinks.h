#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Paths are QStrings here, and Qt decodes file names as UTF-8: a name that is not valid
// UTF-8 (caf\xe9.wav from an old Latin-1 collection) comes back as a path that names
// nothing. Each such file is reached through a symbolic link with a valid name, the raw
// name decoded as ISO-8859-1, in a private folder that lives as long as this object; the
// row then shows that name, and the file itself is never touched.
class RawNameLinks
{
public:
    RawNameLinks() = default;
    ~RawNameLinks();
    RawNameLinks(const RawNameLinks &) = delete;
    RawNameLinks &operator=(const RawNameLinks &) = delete;

    // A path with a valid name that reaches the file or folder `rawPath` (absolute, any
    // bytes); empty when no link could be made.
    QString linkTo(const QByteArray &rawPath);
    // The bytes of `path` as the user knows it: a path handed out by linkTo(), or one
    // below such a folder link, gives the raw path behind it; any other path is encoded
    // as usual.
    QByteArray originalPath(const QString &path) const;

private:
    QByteArray m_dir; // made on first use
    QList<QPair<QString, QByteArray>> m_links;
};
