#include "ui/BrandMarks.h"
#include "ui/BrandViews.h"

#include <QPainter>
#include <QTest>

namespace {

bool near(QPointF a, QPointF b)
{
    return std::abs(a.x() - b.x()) < 1e-4 && std::abs(a.y() - b.y()) < 1e-4;
}

QPainterPath pathOf(bool framed, const QRectF &rect)
{
    return framed ? VarnostimaMark().path(rect) : VarnostimaHouseMark().path(rect);
}

} // namespace

class TestBrandMarks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fit_data()
    {
        QTest::addColumn<bool>("framed");
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<qreal>("scale");
        QTest::addColumn<QPointF>("firstVertex");
        // Height limits: s = 18 / 21.87698, 0.65763 of space each side, apex at (7.99599, 0).
        QTest::newRow("house in 16x18") << false << QRectF(0, 0, 16, 18) << 0.82278 << QPointF(7.99599, 0);
        QTest::newRow("mark in 23x28") << true << QRectF(0, 0, 23, 28) << 1.0 << QPointF(18.5762, 7.41309);
        QTest::newRow("mark in 46x28") << true << QRectF(0, 0, 46, 28) << 1.0 << QPointF(18.5762 + 11.5, 7.41309);
        QTest::newRow("mark offset rect") << true << QRectF(10, 20, 46, 56) << 2.0
                                          << QPointF(10 + 2 * 18.5762, 20 + 2 * 7.41309);
        QTest::newRow("zero width") << true << QRectF(0, 0, 0, 28) << 0.0 << QPointF(0, 14);
        QTest::newRow("zero height") << false << QRectF(4, 4, 16, 0) << 0.0 << QPointF(12, 4);
    }
    void fit()
    {
        QFETCH(bool, framed);
        QFETCH(QRectF, rect);
        QFETCH(qreal, scale);
        QFETCH(QPointF, firstVertex);
        const QRectF box = framed ? VarnostimaMark::designBox() : VarnostimaHouseMark::designBox();
        const BrandFit fit = BrandFit::fit(box, rect);
        QCOMPARE_LT(std::abs(fit.scale - scale), 1e-5);
        // The design box lands centred on both axes; without area everything lands on the centre.
        QVERIFY(near((fit.map(box.topLeft()) + fit.map(box.bottomRight())) / 2, rect.center()));
        const QPainterPath path = pathOf(framed, rect);
        QVERIFY(near(path.elementAt(0), firstVertex));
        if (scale == 0)
            QVERIFY(near(path.boundingRect().bottomRight(), rect.center()));
    }

    void outlines_data()
    {
        QTest::addColumn<bool>("framed");
        QTest::addColumn<int>("outerVertices");
        QTest::newRow("house") << false << 11;
        QTest::newRow("mark") << true << 25;
    }
    void outlines()
    {
        QFETCH(bool, framed);
        QFETCH(int, outerVertices);
        const QPainterPath path = pathOf(framed, framed ? VarnostimaMark::designBox() : VarnostimaHouseMark::designBox());
        QCOMPARE(path.fillRule(), Qt::OddEvenFill);
        // Two closed polygons: outer (n vertices + closing line) and the door (4 + closing line).
        QCOMPARE(path.elementCount(), outerVertices + 1 + 4 + 1);
        QVERIFY(path.elementAt(outerVertices + 1).isMoveTo());
        QVERIFY(near(path.elementAt(outerVertices + 1), QPointF(9.14746, 13.4131)));
        QVERIFY(near(path.elementAt(outerVertices + 3), QPointF(13.1631, 17.5127)));
        // Even-odd: the house's door is filled; in the full mark it overlaps the frame's cut and shows as a hole.
        QCOMPARE(path.contains(QPointF(11, 15)), !framed);
        QCOMPARE(path.contains(QPointF(4, 20)), !framed);
        if (framed) {
            QVERIFY(path.contains(QPointF(1, 20)));
            // Near-equal neighbours are vertices of their own.
            QVERIFY(near(path.elementAt(12), QPointF(22.3096, 11.4893)));
            QVERIFY(near(path.elementAt(13), QPointF(22.3105, 11.4893)));
            QVERIFY(near(path.elementAt(19), QPointF(0.000976562, 25.0137)));
            QVERIFY(near(path.elementAt(23), QPointF(11.1592, 0.00390625)));
        }
    }

    void wordmarkSizes_data()
    {
        QTest::addColumn<VarnostimaWordmark::Size>("size");
        QTest::addColumn<int>("logoHeight");
        QTest::addColumn<int>("textSize");
        QTest::newRow("small") << VarnostimaWordmark::Size::Small << 18 << 16;
        QTest::newRow("medium") << VarnostimaWordmark::Size::Medium << 24 << 20;
        QTest::newRow("large") << VarnostimaWordmark::Size::Large << 32 << 26;
    }
    void wordmarkSizes()
    {
        QFETCH(VarnostimaWordmark::Size, size);
        QFETCH(int, logoHeight);
        QFETCH(int, textSize);
        VarnostimaWordmark wordmark(size);
        wordmark.resize(wordmark.sizeHint());
        const QRectF logo = wordmark.logoRect();
        QCOMPARE(logo.height(), qreal(logoHeight));
        QCOMPARE_LT(std::abs(logo.width() - logoHeight * 23.0 / 28.0), 1e-9);
        const QFont font = wordmark.textFont();
        QCOMPARE(font.family(), QStringLiteral("Bricolage Grotesque"));
        QCOMPARE(font.pixelSize(), textSize);
        QCOMPARE(font.weight(), QFont::Bold);
        QCOMPARE(font.letterSpacing(), -0.5);
        // Exactly 8 points between logo and text, both centred on one line, all inside the widget.
        QCOMPARE_LT(std::abs(wordmark.textRect().left() - logo.right() - 8), 1e-9);
        QCOMPARE_LT(std::abs(logo.center().y() - wordmark.textRect().center().y()), 1.0);
        QVERIFY(QRectF(wordmark.rect()).contains(wordmark.textRect()));

        // What is painted there is the product name in lower case, and nothing else is.
        wordmark.setColor(Qt::black);
        const QRect area = wordmark.textRect().toAlignedRect();
        QImage shown(wordmark.size(), QImage::Format_ARGB32_Premultiplied);
        shown.fill(Qt::transparent);
        wordmark.render(&shown, {}, {}, QWidget::DrawChildren); // no window background
        QImage expected(wordmark.size(), QImage::Format_ARGB32_Premultiplied);
        expected.fill(Qt::transparent);
        {
            QPainter painter(&expected);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::black);
            painter.setFont(font);
            painter.drawText(wordmark.textRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                             QStringLiteral("varnostima"));
        }
        QVERIFY(expected.copy(area) != QImage(area.size(), expected.format())); // the text is visible at all
        QCOMPARE(shown.copy(area), expected.copy(area));
    }
};

QTEST_MAIN(TestBrandMarks)
#include "tst_brandmarks.moc"
