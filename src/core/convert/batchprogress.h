#pragma once

#include <QString>
#include <QVector>

// What one row of a batch adds to the batch's progress.
struct RowShare
{
    int totalSeconds = 0; // the row's duration; 0 or less: not known
    int doneSeconds = 0;  // what its encoder has reported so far
    bool ended = false;   // converted, failed, refused or stopped: its whole share is done
};

// How far a batch has come, from 0 to 1. Rows of known duration weigh their seconds; the
// rows of unknown duration together take their share by number (each weighs as much as a
// known row does on average) and count only once they have ended. Without any known
// duration every row weighs the same. An empty batch is 0.
double BatchFraction(const QVector<RowShare> &rows);

// Seconds the rest of the batch should take at the pace so far, or -1 while that cannot be
// told yet: before 2 seconds have passed or while nothing is done.
int BatchSecondsLeft(double fraction, qint64 elapsedMs);

// "1:10 left": minutes and seconds, from an hour on hours as well ("1:02:03 left"); empty
// while the time left is not known (negative).
QString TimeLeftText(int secondsLeft);

// The band's text: the percentage text, followed by " · 1:10 left" once the time left is known.
QString BatchProgressText(const QString &percentText, int secondsLeft);
