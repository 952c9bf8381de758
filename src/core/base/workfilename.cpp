#include "core/base/workfilename.h"

#include <QRegularExpression>

bool IsWorkFileName(const QString &fileName)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QStringLiteral("\\..*\\.wt-[A-Za-z0-9]{%1}(\\.[^.]*)?").arg(WorkFileRandomLength)));
    return pattern.match(fileName).hasMatch();
}
