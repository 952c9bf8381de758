#include "core/joblist/naturalorder.h"

#include <QCollator>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>

void SortNaturally(QStringList &paths)
{
    // The C locale's collator compares code points, numbers and letter case included.
    const QLocale locale =
        QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale();
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    struct Keyed
    {
        QString name;
        QString path;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(paths.size()));
    for (const QString &path : std::as_const(paths))
        keyed.push_back({QFileInfo(path).fileName(), path});
    std::stable_sort(keyed.begin(), keyed.end(), [&collator](const Keyed &a, const Keyed &b) {
        const int byName = collator.compare(a.name, b.name);
        if (byName != 0)
            return byName < 0;
        const int byPath = collator.compare(a.path, b.path);
        return byPath != 0 ? byPath < 0 : a.path < b.path;
    });
    for (qsizetype i = 0; i < paths.size(); ++i)
        paths[i] = keyed[size_t(i)].path;
}
