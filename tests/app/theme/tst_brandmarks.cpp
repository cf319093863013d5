#include "app/theme/BrandMarks.h"
#include "app/theme/BrandViews.h"

#include <QTest>

namespace {

QList<QPointF> vertices(const QPainterPath &path)
{
    QList<QPointF> points;
    for (int i = 0; i < path.elementCount(); ++i)
        points << QPointF(path.elementAt(i));
    return points;
}

bool near(QPointF a, QPointF b)
{
    return std::abs(a.x() - b.x()) < 1e-4 && std::abs(a.y() - b.y()) < 1e-4;
}

} // namespace

class TestBrandMarks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fit_data()
    {
        QTest::addColumn<QRectF>("box");
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<qreal>("scale");
        QTest::addColumn<QPointF>("firstVertex");

        const QRectF house = VarnostimaHouseMark::designBox();
        const QRectF mark = VarnostimaMark::designBox();
        // Height limits: s = 18 / 21.87698, 0.65763 of space each side, apex at (7.99599, 0).
        QTest::newRow("house in 16x18") << house << QRectF(0, 0, 16, 18) << 0.82278 << QPointF(7.99599, 0);
        QTest::newRow("mark in 23x28") << mark << QRectF(0, 0, 23, 28) << 1.0 << QPointF(18.5762, 7.41309);
        QTest::newRow("mark in 46x28") << mark << QRectF(0, 0, 46, 28) << 1.0 << QPointF(18.5762 + 11.5, 7.41309);
        QTest::newRow("mark offset rect") << mark << QRectF(10, 20, 46, 56) << 2.0
                                          << QPointF(10 + 2 * 18.5762, 20 + 2 * 7.41309);
        QTest::newRow("zero width") << mark << QRectF(0, 0, 0, 28) << 0.0 << QPointF(0, 14);
        QTest::newRow("zero height") << house << QRectF(4, 4, 16, 0) << 0.0 << QPointF(12, 4);
    }

    void fit()
    {
        QFETCH(QRectF, box);
        QFETCH(QRectF, rect);
        QFETCH(qreal, scale);
        QFETCH(QPointF, firstVertex);

        const BrandFit fit = BrandFit::fit(box, rect);
        QVERIFY2(std::abs(fit.scale - scale) < 1e-5, qPrintable(QString::number(fit.scale, 'f', 6)));
        const QPainterPath path = box == VarnostimaMark::designBox() ? VarnostimaMark().path(rect)
                                                                     : VarnostimaHouseMark().path(rect);
        const QPointF first = vertices(path).constFirst();
        QVERIFY2(near(first, firstVertex), qPrintable(QStringLiteral("%1,%2").arg(first.x()).arg(first.y())));
        if (scale == 0) {
            for (const QPointF &p : vertices(path))
                QVERIFY(near(p, rect.center()));
        }
    }

    void houseFillsHeightCentred()
    {
        const QRectF bounds = VarnostimaHouseMark().path(QRectF(0, 0, 16, 18)).boundingRect();
        QCOMPARE_LT(std::abs(bounds.top()), 1e-4);
        QCOMPARE_LT(std::abs(bounds.bottom() - 18), 1e-4);
        QCOMPARE_LT(std::abs(bounds.left() - 0.65763), 1e-4);
        QCOMPARE_LT(std::abs(16 - bounds.right() - 0.65763), 1e-4);
    }

    void outlines_data()
    {
        QTest::addColumn<bool>("framed");
        QTest::addColumn<int>("outerVertices");
        QTest::addColumn<bool>("doorFilled");
        // Even-odd: inside the frame the door overlaps the outer polygon and shows as a hole.
        QTest::newRow("house") << false << 11 << true;
        QTest::newRow("mark") << true << 25 << false;
    }

    void outlines()
    {
        QFETCH(bool, framed);
        QFETCH(int, outerVertices);
        QFETCH(bool, doorFilled);
        const QRectF box = framed ? VarnostimaMark::designBox() : VarnostimaHouseMark::designBox();
        const QPainterPath path = framed ? VarnostimaMark().path(box) : VarnostimaHouseMark().path(box);
        QCOMPARE(path.fillRule(), Qt::OddEvenFill);
        // Two closed polygons: outer (n vertices + closing line) and the door (4 + closing line).
        QCOMPARE(path.elementCount(), outerVertices + 1 + 4 + 1);
        QVERIFY(path.elementAt(0).isMoveTo());
        QVERIFY(path.elementAt(outerVertices + 1).isMoveTo());
        QVERIFY(near(path.elementAt(outerVertices + 1), QPointF(9.14746, 13.4131)));
        QVERIFY(near(path.elementAt(outerVertices + 3), QPointF(13.1631, 17.5127)));
        QCOMPARE(path.contains(QPointF(11, 15)), doorFilled);
        QCOMPARE(path.contains(QPointF(8, 18.5)), !doorFilled);
        // The filled band: the house's wall, or in the full mark the frame around the house-shaped cut.
        QVERIFY(path.contains(framed ? QPointF(1, 20) : QPointF(4, 20)));
        QCOMPARE(path.contains(QPointF(4, 20)), !framed);
    }

    void nearEqualVerticesKept()
    {
        const QList<QPointF> points = vertices(VarnostimaMark().path(VarnostimaMark::designBox()));
        QVERIFY(near(points.at(12), QPointF(22.3096, 11.4893)));
        QVERIFY(near(points.at(13), QPointF(22.3105, 11.4893)));
        QVERIFY(near(points.at(19), QPointF(0.000976562, 25.0137)));
        QVERIFY(near(points.at(23), QPointF(11.1592, 0.00390625)));
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
        QCOMPARE(wordmark.textFont().pixelSize(), textSize);
        QCOMPARE(wordmark.textFont().weight(), QFont::Bold);
        QCOMPARE(wordmark.textFont().letterSpacing(), -0.5);
        QCOMPARE(wordmark.textRect().left() - qCeil(logo.right()), VarnostimaWordmark::kSpacing);
        // Both are centred on the same line.
        QCOMPARE_LT(std::abs(logo.center().y() - QRectF(wordmark.textRect()).center().y()), 1.0);
    }
};

QTEST_MAIN(TestBrandMarks)
#include "tst_brandmarks.moc"
