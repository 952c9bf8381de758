#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QRect>

#include <algorithm>

// The layout is drawn for a font with 13-pixel lines and characters about 6 pixels
// wide; a larger desktop font scales it up so no caption is cut off.
class LayoutScale
{
public:
    explicit LayoutScale(const QFont &font)
    {
        const QFontMetricsF fm(font);
        const qreal average = fm.horizontalAdvance(QStringLiteral(
                                  "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ")) /
                              52.0;
        m_factor = std::max({1.0, fm.height() / 13.0, average / 5.5});
    }
    int operator()(int v) const { return qRound(v * m_factor); }
    QRect rect(int left, int top, int width, int height) const
    {
        const int l = (*this)(left);
        const int t = (*this)(top);
        return QRect(l, t, (*this)(left + width) - l, (*this)(top + height) - t);
    }

private:
    qreal m_factor = 1.0;
};
