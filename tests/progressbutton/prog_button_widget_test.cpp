#include "progressbutton/prog_button.h"

#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <cmath>

namespace {

// The colour a vertical gradient from `start` (top edge) to `end` (bottom
// edge) gives at pixel row `y`, sampled at the pixel's centre.
QColor gradientAt(QColor start, QColor end, int top, int bottom, int y) {
    const double t = (y + 0.5 - top) / double(bottom - top);
    auto mix = [t](int a, int b) { return int(std::lround(a + (b - a) * t)); };
    return QColor(mix(start.red(), end.red()), mix(start.green(), end.green()),
                  mix(start.blue(), end.blue()));
}

bool near(QColor actual, QColor expected, int tolerance = 3) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

QString describe(QColor c) {
    return QStringLiteral("(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

#define CHECK_NEAR(actual, expected)                                                               \
    QVERIFY2(near(actual, expected),                                                               \
             qPrintable(describe(actual) + QStringLiteral(" != ") + describe(expected)))

// Pixels darker than any scheme colour: the black text.
int darkPixels(const QImage& image, QRect area) {
    area &= image.rect();
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 255 && c.red() < 90 && c.green() < 90 && c.blue() < 90)
                ++n;
        }
    return n;
}

// The bounding box of the dark pixels, in all rows or in row `onlyRow`.
QRect inkBounds(const QImage& image, int onlyRow = -1) {
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        if (onlyRow >= 0 && y != onlyRow)
            continue;
        for (int x = 0; x < image.width(); ++x)
            if (darkPixels(image, QRect(x, y, 1, 1)) == 1)
                box |= QRect(x, y, 1, 1);
    }
    return box;
}

const QColor c0(242, 248, 243), c1(211, 233, 213), c2(182, 226, 186), c3(215, 239, 217);
const QColor c4(223, 251, 225), c5(133, 239, 142), c6(57, 203, 70), c7(187, 237, 191);
const QColor c8(62, 204, 74);

} // namespace

class ProgButtonWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void progressBarInSchemeThreePaintsGreenFillOutlineAndText() {
        ProgButton b;
        b.resize(201, 17);
        b.setColor(3);
        b.setValue(45);
        const QImage img = b.image();
        QCOMPARE(img.size(), QSize(201, 17));
        QCOMPARE(b.model().fill(), 90);
        const int half = 8;

        // Filled part, upper and lower half (columns 0 to 89).
        for (int y : {2, 5})
            CHECK_NEAR(img.pixelColor(40, y), gradientAt(c4, c5, 0, half, y));
        for (int y : {10, 14})
            CHECK_NEAR(img.pixelColor(40, y), gradientAt(c6, c7, half, 17, y));
        // Background beyond the fill.
        CHECK_NEAR(img.pixelColor(180, 3), gradientAt(c0, c1, 0, half, 3));
        CHECK_NEAR(img.pixelColor(180, 13), gradientAt(c2, c3, half, 17, 13));

        // Outline on all four edges, away from the corners.
        QCOMPARE(img.pixelColor(0, 8), c8);
        QCOMPARE(img.pixelColor(200, 8), c8);
        QCOMPARE(img.pixelColor(150, 0), c8);
        QCOMPARE(img.pixelColor(150, 16), c8);

        // The text "45.00%" is drawn in black in its rectangle, and nowhere else.
        const auto r = b.model().textRect();
        const QRect textBox(r.left, r.top, r.right - r.left, r.bottom - r.top);
        QVERIFY(textBox.width() > 10);
        QVERIFY(darkPixels(img, textBox) > 10);
        QCOMPARE(darkPixels(img, QRect(0, 0, textBox.left(), 17)), 0);
        QCOMPARE(darkPixels(img, QRect(textBox.right() + 1, 0, 201, 17)), 0);

        // The window is cut to a rounded rectangle: corners outside, edges in.
        QVERIFY(!b.mask().contains(QPoint(0, 0)));
        QVERIFY(!b.mask().contains(QPoint(200, 16)));
        QVERIFY(b.mask().contains(QPoint(0, 8)));
        QVERIFY(b.mask().contains(QPoint(100, 8)));
    }

    void fillEndsAtItsWidth() {
        ProgButton b;
        b.resize(201, 17);
        b.setColor(3);
        b.setValue(20); // 20 x 200 / 100 = 40: columns 0 to 39
        const QImage img = b.image();
        CHECK_NEAR(img.pixelColor(39, 3), gradientAt(c4, c5, 0, 8, 3));
        CHECK_NEAR(img.pixelColor(40, 3), gradientAt(c0, c1, 0, 8, 3));
        CHECK_NEAR(img.pixelColor(39, 12), gradientAt(c6, c7, 8, 17, 12));
        CHECK_NEAR(img.pixelColor(40, 12), gradientAt(c2, c3, 8, 17, 12));
    }

    void whatIsShownMatchesTheImage() {
        ProgButton b;
        b.resize(201, 17);
        b.setColor(3);
        b.setValue(45);
        const QImage shown = b.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        CHECK_NEAR(shown.pixelColor(40, 2), gradientAt(c4, c5, 0, 8, 2));
        CHECK_NEAR(shown.pixelColor(180, 3), gradientAt(c0, c1, 0, 8, 3));
    }

    void equalMinAndMaxShowZeroAndNoFill() {
        ProgButton b;
        b.resize(201, 17);
        b.setColor(3);
        b.setValue(50);
        b.setMin(50);
        b.setMax(50);
        const QImage img = b.image();
        CHECK_NEAR(img.pixelColor(10, 3), gradientAt(c0, c1, 0, 8, 3));
        CHECK_NEAR(img.pixelColor(10, 13), gradientAt(c2, c3, 8, 17, 13));
        QCOMPARE(b.model().fill(), 0);
    }

    void valueFarBeyondTheRangeFillsToTheEdgeOnly() {
        ProgButton b;
        b.resize(201, 17);
        b.setColor(3);
        b.setMax(std::numeric_limits<qint32>::max());
        b.setValue(std::numeric_limits<qint32>::max());
        b.setMax(1);
        const QImage img = b.image();
        CHECK_NEAR(img.pixelColor(195, 3), gradientAt(c4, c5, 0, 8, 3));
        QCOMPARE(img.pixelColor(200, 8), c8);
    }

    void unknownSchemeKeepsTheColoursInForce() {
        ProgButton b;
        b.resize(100, 17);
        b.setColor(3);
        b.setColor(42);
        QCOMPARE(b.image().pixelColor(0, 8), c8);
        b.setColor(7);
        QCOMPARE(b.image().pixelColor(0, 8), QColor(204, 62, 62));
    }

    void enterAndAccessKeyClickOnlyInModeOne() {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* b = new ProgButton;
        b->resize(120, 23);
        layout->addWidget(b);
        b->setStyle(1);
        b->setCaption(QStringLiteral("&Start"));
        QSignalSpy clicks(b, &ProgButton::Click);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        b->setFocus();
        QVERIFY(b->hasFocus());

        QTest::keyClick(b, Qt::Key_Return);
        QCOMPARE(clicks.count(), 1);
        QTest::keyClick(b, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(clicks.count(), 2);
        QTest::keyClick(&window, Qt::Key_S, Qt::AltModifier);
        QCOMPARE(clicks.count(), 3);
        QTest::keyClick(b, Qt::Key_Space);
        QCOMPARE(clicks.count(), 3);

        // Mode 2 looks like a button but ignores Enter and the access key ...
        b->setStyle(2);
        b->setFocus();
        QTest::keyClick(b, Qt::Key_Return);
        QTest::keyClick(&window, Qt::Key_S, Qt::AltModifier);
        QCOMPARE(clicks.count(), 3);
        // ... while a mouse click still raises Click.
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(clicks.count(), 4);

        // A caption without an access key keeps the old one.
        b->setStyle(1);
        b->setCaption(QStringLiteral("Save && Exit"));
        QTest::keyClick(&window, Qt::Key_S, Qt::AltModifier);
        QCOMPARE(clicks.count(), 5);
        b->setCaption(QStringLiteral("E&xit"));
        QTest::keyClick(&window, Qt::Key_S, Qt::AltModifier);
        QCOMPARE(clicks.count(), 5);
        QTest::keyClick(&window, Qt::Key_X, Qt::AltModifier);
        QCOMPARE(clicks.count(), 6);

        // Progress mode: no keyboard clicks either.
        b->setStyle(0);
        QTest::keyClick(&window, Qt::Key_X, Qt::AltModifier);
        QCOMPARE(clicks.count(), 6);
    }

    // MouseMove on every move over the control: button state 0 when none is
    // held, the held buttons otherwise.
    void mouseMoveIsRaisedWithAndWithoutAButtonHeld() {
        for (int style : {0, 1}) {
            ProgButton b;
            b.resize(120, 23);
            b.setStyle(style);
            b.show();
            QVERIFY(QTest::qWaitForWindowExposed(&b));
            QStringList moves;
            connect(&b, &ProgButton::MouseMove, [&](short button, short, float x, float y) {
                moves << QStringLiteral("%1 %2 %3").arg(button).arg(x).arg(y);
            });
            QTest::mouseMove(&b, QPoint(10, 5));
            QTest::mouseMove(&b, QPoint(40, 6));
            QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(40, 6));
            QTest::mouseMove(&b, QPoint(50, 7));
            QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(50, 7));
            QCOMPARE(moves, (QStringList{"0 10 5", "0 40 6", "1 50 7"}));
        }
    }

    void mouseEventsComeInOrderAndPressShowsThePressedLook() {
        ProgButton b;
        b.resize(120, 23);
        b.setStyle(1);
        b.setColor(3);
        b.setCaption(QStringLiteral("Go"));
        QStringList events;
        connect(&b, &ProgButton::MouseDown, [&](short button, short shift, float x, float y) {
            events << QStringLiteral("down %1 %2 %3 %4").arg(button).arg(shift).arg(x).arg(y);
        });
        connect(&b, &ProgButton::MouseUp, [&](short button, short, float, float) {
            events << QStringLiteral("up %1").arg(button);
        });
        connect(&b, &ProgButton::Click, [&] { events << QStringLiteral("click"); });
        connect(&b, &ProgButton::DblClick, [&] { events << QStringLiteral("dblclick"); });
        const int half = 12; // 23 / 2 = 11.5 -> 12

        CHECK_NEAR(b.image().pixelColor(30, 3), gradientAt(c0, c1, 0, half, 3));
        QTest::mousePress(&b, Qt::LeftButton, Qt::ShiftModifier, QPoint(30, 5));
        QVERIFY(b.model().pressed());
        CHECK_NEAR(b.image().pixelColor(30, 3), gradientAt(c4, c5, 0, half, 3));
        CHECK_NEAR(b.image().pixelColor(30, 18), gradientAt(c6, c7, half, 23, 18));
        QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(30, 5));
        QVERIFY(!b.model().pressed());
        CHECK_NEAR(b.image().pixelColor(30, 3), gradientAt(c0, c1, 0, half, 3));
        QCOMPARE(events, (QStringList{"down 1 1 30 5", "up 1", "click"}));

        // Released outside the control: no Click.
        events.clear();
        QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(30, 5));
        QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(300, 5));
        QCOMPARE(events, (QStringList{"down 1 0 30 5", "up 1"}));

        // The right button: no Click.
        events.clear();
        QTest::mouseClick(&b, Qt::RightButton, {}, QPoint(30, 5));
        QCOMPARE(events, (QStringList{"down 2 0 30 5", "up 2"}));

        // A double click: the second press raises DblClick, not a second Click.
        events.clear();
        QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(30, 5));
        QTest::mouseDClick(&b, Qt::LeftButton, {}, QPoint(30, 5));
        QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(30, 5));
        QCOMPARE(events, (QStringList{"down 1 0 30 5", "up 1", "click", "dblclick", "up 1"}));
        QVERIFY(!b.model().pressed());

        // Progress mode raises the same events.
        events.clear();
        b.setStyle(0);
        QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(30, 5));
        QCOMPARE(events, (QStringList{"down 1 0 30 5", "up 1", "click"}));
    }

    void focusRectangleOnlyInButtonMode() {
        ProgButton b;
        b.resize(120, 23);
        b.setColor(3);
        b.setCaption(QStringLiteral("Go"));

        // Progress mode: focus entry changes the state, not the picture.
        const QImage progressBefore = b.image();
        QFocusEvent in(QEvent::FocusIn, Qt::OtherFocusReason);
        QCoreApplication::sendEvent(&b, &in);
        QVERIFY(b.model().focused());
        QCOMPARE(b.image(), progressBefore);
        QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
        QCoreApplication::sendEvent(&b, &out);
        QVERIFY(!b.model().focused());

        b.setStyle(1);
        const QImage buttonBefore = b.image();
        QCoreApplication::sendEvent(&b, &in);
        QVERIFY(b.model().focused());
        QCOMPARE(b.model().focusRect(), (progbutton::Rect{3, 3, 116, 19}));
        // A dotted frame of inverted pixels from (3, 3) to (115, 18), nothing
        // of it outside.
        const QImage focused = b.image();
        auto inverted = [&](int x, int y) {
            const QColor was = buttonBefore.pixelColor(x, y);
            return focused.pixelColor(x, y) ==
                   QColor(255 - was.red(), 255 - was.green(), 255 - was.blue());
        };
        QVERIFY(inverted(3, 3));
        QVERIFY(inverted(5, 3));
        QVERIFY(focused.pixel(4, 3) == buttonBefore.pixel(4, 3));
        QVERIFY(inverted(115, 3));
        QVERIFY(inverted(3, 17));
        QVERIFY(inverted(115, 17));
        for (int x = 0; x < 120; ++x) {
            QCOMPARE(focused.pixel(x, 2), buttonBefore.pixel(x, 2));
            QCOMPARE(focused.pixel(x, 19), buttonBefore.pixel(x, 19));
        }
        for (int y = 0; y < 23; ++y)
            QCOMPARE(focused.pixel(116, y), buttonBefore.pixel(116, y));
        QCoreApplication::sendEvent(&b, &out);
        QCOMPARE(b.image(), buttonBefore);
    }

    void ampersandsAreProcessedInTheCaption() {
        // "&&" shows one "&": the ink is as wide as "Save & Exit", not as
        // the caption as written.
        ProgButton doubled;
        doubled.resize(200, 23);
        doubled.setStyle(1);
        doubled.setCaption(QStringLiteral("Save && Exit"));
        const QRect ink = inkBounds(doubled.image());
        const QFontMetrics fm(doubled.font());
        QVERIFY2(std::abs(ink.width() - fm.boundingRect(QStringLiteral("Save & Exit")).width()) <=
                     2,
                 qPrintable(QString::number(ink.width())));
        QVERIFY(ink.width() < fm.horizontalAdvance(QStringLiteral("Save && Exit")) - 3);

        // "&S" underlines the S: the lowest row of ink is short and lies
        // under the first letter, unlike the same caption without "&".
        ProgButton marked;
        marked.resize(200, 23);
        marked.setStyle(1);
        marked.setCaption(QStringLiteral("&Start"));
        ProgButton unmarked;
        unmarked.resize(200, 23);
        unmarked.setStyle(1);
        unmarked.setCaption(QStringLiteral("Start"));
        const QRect markedInk = inkBounds(marked.image());
        QVERIFY(markedInk.bottom() > inkBounds(unmarked.image()).bottom());
        const QRect underline = inkBounds(marked.image(), markedInk.bottom());
        QVERIFY(underline.width() >= 3);
        QVERIFY(underline.width() <= fm.horizontalAdvance(QLatin1Char('S')) + 2);
        QCOMPARE(underline.left(), markedInk.left());
    }

    void persistedSettingsLoadIntoTheControl() {
        ProgButton b;
        b.resize(120, 23);
        b.readProperties({{"MyType", 1}, {"MyStyle", 7}, {"MyCaption", std::string("&Go")}});
        QCOMPARE(b.Style(), 1);
        QCOMPARE(b.Color(), 7);
        QCOMPARE(b.Caption(), QStringLiteral("&Go"));
        QCOMPARE(b.focusPolicy(), Qt::StrongFocus);
        QCOMPARE(b.image().pixelColor(0, 11), QColor(204, 62, 62));
        progbutton::PropertyBag saved;
        b.writeProperties(saved);
        QCOMPARE(saved.size(), size_t(3));
    }
};

QTEST_MAIN(ProgButtonWidgetTest)
#include "prog_button_widget_test.moc"
