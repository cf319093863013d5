#include "ui/ElidedLabel.h"
#include "ui/LineLimitedLabel.h"
#include "ui/Symbol.h"
#include "support/LogCapture.h"
#include "support/ShownText.h"

#include <QApplication>
#include <QImage>
#include <QTest>

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
        // On a white tint the cut-out must not vanish into it.
        QTest::newRow("filled white at 2x") << "exclamationmark.triangle.fill" << QColor(Qt::white) << 2.0;
    }
    void symbolsRenderSharpAndTinted()
    {
        QFETCH(QString, name);
        QFETCH(QColor, tint);
        QFETCH(qreal, dpr);
        if (!Symbol::isAvailable(name))
            QSKIP("symbol outlines not fetched");
        for (const QString &each : Symbol::names())
            QVERIFY2(Symbol::isAvailable(each), qPrintable(each));
        const QPixmap pm = Symbol::pixmap(name, tint, QSize(16, 16), dpr);
        QCOMPARE(pm.size(), QSize(16, 16) * dpr);
        QCOMPARE(pm.devicePixelRatio(), dpr);
        const QImage image = pm.toImage().convertToFormat(QImage::Format_ARGB32);
        int painted = 0, matching = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                painted += c.alpha() >= 200;
                matching += c.alpha() >= 200 && std::abs(c.red() - tint.red()) < 24
                    && std::abs(c.green() - tint.green()) < 24 && std::abs(c.blue() - tint.blue()) < 24;
            }
        }
        QVERIFY(matching > 0);
        if (name.endsWith(QStringLiteral(".fill")))
            QVERIFY2(painted > matching, "the knocked-out glyph is missing");
    }

    void unknownSymbolLogsOnce()
    {
        testsupport::LogCapture capture;
        Symbol::pixmap(QStringLiteral("no.such.symbol"), Qt::black, QSize(16, 16), 1.0);
        Symbol::pixmap(QStringLiteral("no.such.symbol"), Qt::black, QSize(16, 16), 2.0);
        QCOMPARE(capture.count(QStringLiteral("no.varnostima.mac.Theme"), QStringLiteral("no.such.symbol")), 1);
    }

    void elidedLabels_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("keepsStart");
        QTest::newRow("path keeps its end") << int(Qt::ElideLeft) << false;
        QTest::newRow("title keeps its start") << int(Qt::ElideRight) << true;
    }
    void elidedLabels()
    {
        QFETCH(int, mode);
        QFETCH(bool, keepsStart);
        const QString text = QStringLiteral("/home/fotograf/Bilder/Eksport/2024/Bryllup/Kari og Ola");
        ElidedLabel label(text, static_cast<Qt::TextElideMode>(mode));
        label.show(); // resize events of hidden widgets wait for the first show
        label.resize(label.fontMetrics().horizontalAdvance(text) / 2, 20);
        const QString shown = label.displayedText();
        QVERIFY(shown.contains(QChar(0x2026)));
        QCOMPARE(shown.startsWith(QStringLiteral("/home")), keepsStart);
        QCOMPARE(shown.endsWith(QStringLiteral("Ola")), !keepsStart);
        QCOMPARE(testsupport::shownToolTip(label.toolTip()), text);
        label.resize(label.sizeHint().width() + 10, 20);
        QCOMPARE(label.displayedText(), text);
        QVERIFY(label.toolTip().isEmpty());
    }

    void lineLimitedLabel_data()
    {
        QTest::addColumn<int>("repeat");
        QTest::addColumn<int>("expectedLines");
        QTest::newRow("short stays one line") << 1 << 1;
        QTest::newRow("long cut after two") << 20 << 2;
    }
    void lineLimitedLabel()
    {
        QFETCH(int, repeat);
        QFETCH(int, expectedLines);
        const QString phrase = QStringLiteral("Kunne ikke synkronisere");
        LineLimitedLabel label(QStringList(repeat, phrase).join(u' '));
        label.setMaximumLines(2);
        const int width = label.fontMetrics().horizontalAdvance(phrase) * 2;
        const QStringList lines = label.linesForWidth(width);
        QCOMPARE(lines.size(), expectedLines);
        QCOMPARE(lines.last().endsWith(QChar(0x2026)), repeat > 1);
        for (const QString &line : lines)
            QVERIFY(label.fontMetrics().horizontalAdvance(line) <= width);
        QCOMPARE(label.heightForWidth(width), expectedLines * label.fontMetrics().lineSpacing());
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
