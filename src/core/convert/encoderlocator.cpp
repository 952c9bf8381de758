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

QString EncoderProblem(const QString &encoder)
{
    const QString help = QStringLiteral(
        "Install ffmpeg (on Debian: sudo apt install ffmpeg), or set WAVETRANSMUTER_FFMPEG to "
        "the path of an ffmpeg program.");
    if (encoder.isEmpty())
        return QStringLiteral("The encoder ffmpeg was not found. ") + help;
    const QFileInfo info(encoder);
    if (!info.exists())
        return QStringLiteral("The encoder %1 does not exist. ").arg(encoder) + help;
    if (!info.isFile() || !info.isExecutable())
        return QStringLiteral("The encoder %1 is not an executable program. ").arg(encoder) + help;
    return {};
}
