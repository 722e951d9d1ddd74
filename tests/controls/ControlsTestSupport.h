// Shared set-up of the decorated controls' tests: one application object,
// a fixed scalable font, colour helpers for pixel checks.
#pragma once

#include "controls/DcCommon.h"
#include "tests/support/TestApplication.h"

#include <QApplication>
#include <QFont>
#include <QImage>

#include <gtest/gtest.h>

namespace ctltest {

// The test application, with a fixed font for every measurement.
inline QApplication* App()
{
    static QApplication* app = [] {
        QApplication* a = TestApplication();
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(13);
        QApplication::setFont(f);
        return a;
    }();
    return app;
}

// Every test of this program gets the application first.
class QtTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { App(); }
};

inline QFont FixedFont(int pixelSize = 13, bool bold = false)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

// The RGB value of a pixel as a TColor.
inline TColor PixelColor(const QImage& image, int x, int y)
{
    const QColor c = image.pixelColor(x, y);
    return RGBColor(c.red(), c.green(), c.blue());
}

// A white canvas of w x h pixels.
inline QImage Canvas(int w, int h, TColor fill = clWhite)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(TColorToQColor(fill));
    return image;
}

// Number of pixels of `color` in the rectangle.
inline int CountColor(const QImage& image, TColor color, QRect area = QRect())
{
    if (area.isNull())
        area = image.rect();
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (PixelColor(image, x, y) == color)
                ++n;
    return n;
}

// The bounding box of the pixels of `color` (null when there is none).
inline QRect BoxOf(const QImage& image, TColor color)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (PixelColor(image, x, y) == color)
                box = box.united(QRect(x, y, 1, 1));
    return box;
}

}  // namespace ctltest
