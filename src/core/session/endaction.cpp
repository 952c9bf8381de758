#include "core/session/endaction.h"

#include <QFileInfo>
#include <QProcess>

QList<QStringList> ShutdownCommandCandidates()
{
    const QString replacement = qEnvironmentVariable("WAVETRANSMUTER_SHUTDOWN_COMMAND");
    if (!replacement.trimmed().isEmpty()) {
        // A plain path names the program even when it holds blanks; anything else is a
        // program followed by its arguments, split the way a shell would (no shell runs).
        if (QFileInfo(replacement).isFile())
            return {QStringList{replacement}};
        const QStringList words = QProcess::splitCommand(replacement);
        if (words.isEmpty())
            return {};
        return {words};
    }
    if (qEnvironmentVariableIsSet("WAVETRANSMUTER_TESTING"))
        return {};
    return {QStringList{QStringLiteral("systemctl"), QStringLiteral("poweroff")},
            QStringList{QStringLiteral("shutdown"), QStringLiteral("-h"), QStringLiteral("now")}};
}

bool RunShutdownCommand()
{
    const QList<QStringList> candidates = ShutdownCommandCandidates();
    if (candidates.isEmpty()) {
        qWarning("Shutdown refused: WAVETRANSMUTER_TESTING is set and no replacement command is");
        return false;
    }
    for (QStringList command : candidates) {
        const QString program = command.takeFirst();
        if (QProcess::startDetached(program, command))
            return true;
    }
    return false;
}
