#include "core/tags/tagtext.h"

#include <QByteArrayView>

QString TagTextToDisplay(const QByteArray &bytes)
{
    if (QByteArrayView(bytes).isValidUtf8())
        return QString::fromUtf8(bytes);
    return QString::fromLatin1(bytes);
}

QByteArray DisplayToTagText(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return text.toUtf8();
    }
    const QByteArray latin1 = text.toLatin1();
    return TagTextToDisplay(latin1) == text ? latin1 : text.toUtf8();
}

QByteArray CutTagText(const QByteArray &bytes, qsizetype length)
{
    if (length < 0)
        length = 0;
    if (bytes.size() <= length)
        return bytes;
    if (QByteArrayView(bytes).isValidUtf8()) {
        // Step back over continuation bytes to the start of the character being cut.
        while (length > 0 && (quint8(bytes.at(length)) & 0xC0) == 0x80)
            --length;
    }
    return bytes.left(length);
}
