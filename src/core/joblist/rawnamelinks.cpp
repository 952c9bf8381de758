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
    QByteArray bytes = QFile::encodeName(path);
    if (m_dir.isEmpty())
        return bytes;
    // A link may lead into a folder reached through a link itself (a folder whose name is
    // not UTF-8, given by the user, and a file below it whose name is not either): each is
    // followed back in turn. Link n lives in the folder m_dir/n, so no search is needed.
    const QByteArray prefix = m_dir + '/';
    for (qsizetype round = 0; round < m_links.size() && bytes.startsWith(prefix); ++round) {
        const qsizetype slash = bytes.indexOf('/', prefix.size());
        bool isNumber = false;
        const qsizetype n = bytes.mid(prefix.size(), slash - prefix.size()).toLongLong(&isNumber);
        if (!isNumber || n < 1 || n > m_links.size())
            break;
        const auto &link = m_links.at(n - 1);
        const QByteArray linkPath = QFile::encodeName(link.first);
        if (bytes != linkPath && !bytes.startsWith(linkPath + '/'))
            break;
        bytes = link.second + bytes.mid(linkPath.size());
    }
    return bytes;
}
