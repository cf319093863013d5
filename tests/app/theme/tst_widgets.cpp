#include "app/theme/CapsuleLabel.h"
#include "app/theme/ElidedLabel.h"
#include "app/theme/LineLimitedLabel.h"
#include "app/theme/Symbol.h"
#include "support/LogCapture.h"

#include <QApplication>
#include <QImage>
#include <QTest>

namespace {

// Pixels with any ink, and how many of them are close to a colour.
struct Ink {
    int painted = 0;
    int matching = 0;
};

Ink inkOf(const QPixmap &pixmap, QColor colour)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    Ink ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() < 200)
                continue;
            ++ink.painted;
            if (std::abs(c.red() - colour.red()) < 24 && std::abs(c.green() - colour.green()) < 24 &&
                std::abs(c.blue() - colour.blue()) < 24)
                ++ink.matching;
        }
    }
    return ink;
}

} // namespace

class TestWidgets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void symbolsRenderSharpAndTinted_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QColor>("tint");
        QTest::addColumn<qreal>("dpr");
        QTest::newRow("outline at 1x") << "folder" << QColor(Qt::red) << 1.0;
        QTest::newRow("outline at 2x") << "chevron.right" << QColor(0, 122, 255) << 2.0;
        QTest::newRow("filled at 3x") << "checkmark.circle.fill" << QColor(40, 205, 65) << 3.0;
        // On a white tint the cut-out must not vanish into it.
        QTest::newRow("filled white") << "exclamationmark.triangle.fill" << QColor(Qt::white) << 2.0;
        QTest::newRow("badge") << "trash.circle.fill" << QColor(255, 59, 48) << 2.0;
    }

    void symbolsRenderSharpAndTinted()
    {
        QFETCH(QString, name);
        QFETCH(QColor, tint);
        QFETCH(qreal, dpr);
        if (!Symbol::isAvailable(name))
            QSKIP("symbol outlines not fetched");
        const QPixmap pm = Symbol::pixmap(name, tint, QSize(16, 16), dpr);
        QCOMPARE(pm.size(), QSize(16, 16) * dpr);
        QCOMPARE(pm.devicePixelRatio(), dpr);
        const Ink ink = inkOf(pm, tint);
        QVERIFY(ink.matching > 0);
        if (name.endsWith(QStringLiteral(".fill")))
            QVERIFY2(ink.painted - ink.matching > 0, "the knocked-out glyph is missing");
    }

    void everyNamedSymbolIsBundled()
    {
        if (!Symbol::isAvailable(QStringLiteral("folder")))
            QSKIP("symbol outlines not fetched");
        for (const QString &name : Symbol::names())
            QVERIFY2(Symbol::isAvailable(name), qPrintable(name));
    }

    void unknownSymbolFallsBackAndLogsOnce()
    {
        testsupport::LogCapture capture;
        const QPixmap first = Symbol::pixmap(QStringLiteral("no.such.symbol"), Qt::black, QSize(16, 16), 1.0);
        Symbol::pixmap(QStringLiteral("no.such.symbol"), Qt::black, QSize(16, 16), 2.0);
        QCOMPARE(capture.count(QStringLiteral("no.varnostima.mac.Theme"), QStringLiteral("no.such.symbol")), 1);
        QVERIFY(inkOf(first, Qt::black).painted + first.toImage().pixelColor(8, 2).alpha() > 0);
    }

    void elidedLabels_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("keepsStart");
        QTest::addColumn<bool>("keepsEnd");
        QTest::newRow("path keeps its end") << int(Qt::ElideLeft) << false << true;
        QTest::newRow("title keeps its start") << int(Qt::ElideRight) << true << false;
        QTest::newRow("file name keeps both") << int(Qt::ElideMiddle) << true << true;
    }

    void elidedLabels()
    {
        QFETCH(int, mode);
        QFETCH(bool, keepsStart);
        QFETCH(bool, keepsEnd);
        const QString text = QStringLiteral("/home/fotograf/Bilder/Eksport/2024/Bryllup/Kari og Ola");
        ElidedLabel label(text, static_cast<Qt::TextElideMode>(mode));
        label.show(); // resize events of hidden widgets wait for the first show
        label.resize(label.fontMetrics().horizontalAdvance(text) / 2, 20);
        const QString shown = label.displayedText();
        QVERIFY(shown.contains(QChar(0x2026)));
        QCOMPARE(shown.startsWith(QStringLiteral("/home")), keepsStart);
        QCOMPARE(shown.endsWith(QStringLiteral("Ola")), keepsEnd);
        QCOMPARE(label.toolTip(), text);
        label.resize(label.sizeHint().width() + 10, 20);
        QCOMPARE(label.displayedText(), text);
        QVERIFY(label.toolTip().isEmpty());
    }

    void lineLimitedLabel_data()
    {
        QTest::addColumn<int>("maxLines");
        QTest::addColumn<int>("repeat");
        QTest::addColumn<int>("expectedLines");
        QTest::addColumn<bool>("cut");
        QTest::newRow("short stays one line") << 2 << 1 << 1 << false;
        QTest::newRow("long cut after two") << 2 << 20 << 2 << true;
        QTest::newRow("three allowed") << 3 << 20 << 3 << true;
    }

    void lineLimitedLabel()
    {
        QFETCH(int, maxLines);
        QFETCH(int, repeat);
        QFETCH(int, expectedLines);
        QFETCH(bool, cut);
        QStringList words;
        for (int i = 0; i < repeat; ++i)
            words << QStringLiteral("Kunne ikke synkronisere");
        LineLimitedLabel label(words.join(u' '));
        label.setMaximumLines(maxLines);
        const int width = label.fontMetrics().horizontalAdvance(QStringLiteral("Kunne ikke synkronisere")) * 2;
        const QStringList lines = label.linesForWidth(width);
        QCOMPARE(lines.size(), expectedLines);
        QCOMPARE(lines.last().endsWith(QChar(0x2026)), cut);
        for (const QString &line : lines)
            QVERIFY(label.fontMetrics().horizontalAdvance(line) <= width);
        QCOMPARE(label.heightForWidth(width), expectedLines * label.fontMetrics().lineSpacing());
    }

    void capsuleFitsTextAndPadding()
    {
        CapsuleLabel capsule(QStringLiteral("Synkronisert"), Qt::green);
        const QFontMetrics fm = capsule.fontMetrics();
        QCOMPARE(capsule.font().pixelSize(), 11);
        QCOMPARE(capsule.sizeHint(), QSize(fm.horizontalAdvance(QStringLiteral("Synkronisert")) + 16, fm.height() + 6));
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
