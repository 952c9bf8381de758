#include "core/joblist/rawnamelinks.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

RawNameLinks::~RawNameLinks()
{
    // Only what we made: the links themselves (never what they point to), their folders.
    for (const auto &link : m_links) {
        const QByteArray path = QFile::encodeName(link.first);
        ::unlink(path.constData());
        ::rmdir(path.left(path.lastIndexOf('/')).constData());
    }
    if (!m_dir.isEmpty())
        ::rmdir(m_dir.constData());
}

QString RawNameLinks::linkTo(const QByteArray &rawPath)
{
    if (!rawPath.startsWith('/'))
        return {};
    if (m_dir.isEmpty()) {
        QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/wavetransmuter-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            return {};
        m_dir = pattern;
    }
    QByteArray raw = rawPath;
    while (raw.size() > 1 && raw.endsWith('/'))
        raw.chop(1);
    QString name = QString::fromLatin1(raw.mid(raw.lastIndexOf('/') + 1));
    if (name.isEmpty())
        return {};
    // One folder per link, so that two files of the same name never meet.
    const QByteArray folder = m_dir + '/' + QByteArray::number(m_links.size() + 1);
    const QByteArray link = folder + '/' + QFile::encodeName(name);
    if (::mkdir(folder.constData(), 0700) != 0)
        return {};
    if (::symlink(raw.constData(), link.constData()) != 0) {
        ::rmdir(folder.constData());
        return {};
    }
    m_links.append({QFile::decodeName(link), raw});
    return m_links.last().first;
}

QByteArray RawNameLinks::originalPath(const QString &path) const
{
    for (const auto &link : m_links) {
        if (path == link.first)
            return link.second;
        if (path.startsWith(link.first + QLatin1Char('/')))
            return link.second + QFile::encodeName(path.mid(link.first.size()));
    }
    return QFile::encodeName(path);
}
