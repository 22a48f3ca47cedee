// Counting a colour on a picture of the chart, for the tests that look at it.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

#include <cstdlib>

// Within 24 of each other in red, green and blue: antialiased edges count.
inline bool alike(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 &&
           std::abs(a.blue() - b.blue()) < 24;
}

// Pixels alike to `colour` inside `area` of `image`.
inline int pixelsOf(const QImage& image, QColor colour, QRect area)
{
    int n = 0;
    area = area.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += alike(image.pixelColor(x, y), colour);
    return n;
}

inline int pixelsOf(const QImage& image, QColor colour)
{
    return pixelsOf(image, colour, image.rect());
}
