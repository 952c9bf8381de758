#include "core/convert/encoderlocator.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

QString ResolveEncoderPath()
{
    const QString chosen = qEnvironmentVariable("WAVETRANSMUTER_FFMPEG");
    if (!chosen.isEmpty())
        return chosen;

    if (QCoreApplication::instance()) {
        const QFileInfo local(QCoreApplication::applicationDirPath() + QStringLiteral("/ffmpeg"));
        if (local.isFile() && local.isExecutable())
            return local.absoluteFilePath();
    }

    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}
