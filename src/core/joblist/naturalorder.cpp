#include "core/joblist/naturalorder.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <numeric>
#include <vector>

QList<qsizetype> NaturalOrder(const QStringList &names)
{
    const QLocale locale;
    QCollator collator(locale.language() == QLocale::C
                           ? QLocale(QLocale::English, QLocale::UnitedStates)
                           : locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // One key per name: comparing keys is far cheaper than collating pairs again and again.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(names.size()));
    for (const QString &name : names)
        keys.push_back(collator.sortKey(name));
    QList<qsizetype> order(names.size());
    std::iota(order.begin(), order.end(), qsizetype(0));
    std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const int byKey = keys[size_t(a)].compare(keys[size_t(b)]);
        if (byKey != 0)
            return byKey < 0;
        const int byText = names.at(a).compare(names.at(b));
        return byText != 0 ? byText < 0 : a < b;
    });
    return order;
}

void SortNaturally(QStringList &names)
{
    QStringList sorted;
    sorted.reserve(names.size());
    for (const qsizetype i : NaturalOrder(names))
        sorted << names.at(i);
    names = sorted;
}
