#pragma once

#include <QList>
#include <QStringList>

// The order file managers list names in: numbers by their value ("2 x" before "10 x"),
// letter case aside, accents after their letter, in the user's language (English where
// the locale is "C", whose collation knows no numbers). Names that collate alike keep a
// fixed order by their characters. Builds its own collator on each call, so any thread
// may call it.
//
// The positions of `names` in that order.
QList<qsizetype> NaturalOrder(const QStringList &names);
// Sorts names or paths of one folder in that order.
void SortNaturally(QStringList &names);
