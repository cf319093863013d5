#include "support/ShownText.h"
#include "ui/PlainText.h"
#include "ui/RelativeDate.h"
#include "ui/UrlPaths.h"

#include <QTest>
#include <QTimeZone>

class TestHelpers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // What a tooltip made of data shows: the text as written, whatever it holds.
    void plainToolTip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << "Bryllup Hansen";
        QTest::newRow("bold tag") << "<b>Fet mappe";
        QTest::newRow("link") << "<a href=x>lenke</a>";
        QTest::newRow("entity and ampersand") << "Tom &amp; Jerry & co";
        QTest::newRow("escaped less-than") << "a &lt;b&gt;";
        QTest::newRow("blanks kept") << "a  b";
        QTest::newRow("two lines") << "linje 1\nlinje 2";
    }
    void plainToolTip()
    {
        QFETCH(QString, text);
        QCOMPARE(testsupport::shownToolTip(::plainToolTip(text)), text);
        QVERIFY(::plainToolTip(QString()).isEmpty()); // no tooltip at all
    }

    void appendPath_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("id"); // empty: no segment
        QTest::addColumn<QString>("expected");
        QTest::newRow("bare host") << "https://varnostima.no" << "/dashboard" << "" << "https://varnostima.no/dashboard";
        QTest::newRow("trailing slash") << "https://varnostima.no/" << "/dashboard" << "" << "https://varnostima.no/dashboard";
        QTest::newRow("base path") << "https://example.org/app" << "/auth/device-login" << ""
                                   << "https://example.org/app/auth/device-login";
        QTest::newRow("base path with slash") << "https://example.org/app/" << "/auth/device-login" << ""
                                              << "https://example.org/app/auth/device-login";
        QTest::newRow("id") << "https://example.org/v/" << "/gallery/" << "g1" << "https://example.org/v/gallery/g1";
        QTest::newRow("slash in id") << "https://varnostima.no" << "/gallery/" << "a/b" << "https://varnostima.no/gallery/a%2Fb";
        QTest::newRow("query chars in id") << "https://varnostima.no" << "/gallery/" << "a b?c#d"
                                           << "https://varnostima.no/gallery/a%20b%3Fc%23d";
        QTest::newRow("unicode id") << "https://varnostima.no" << "/gallery/" << "bjørn"
                                    << "https://varnostima.no/gallery/bj%C3%B8rn";
    }
    void appendPath()
    {
        QFETCH(QString, base);
        QFETCH(QString, path);
        QFETCH(QString, id);
        QFETCH(QString, expected);
        const QUrl url = id.isEmpty() ? ::appendPath(QUrl(base), path) : ::appendPath(QUrl(base), path, id);
        QCOMPARE(url.toString(QUrl::FullyEncoded), expected);
    }

    void relativeAge_data()
    {
        QTest::addColumn<QDateTime>("then");
        QTest::addColumn<QString>("expected");
        // A fixed moment in UTC: no daylight-saving step in the span.
        const QDateTime now(QDate(2024, 6, 15), QTime(12, 0), QTimeZone::utc());
        QTest::newRow("now") << now << "for 0 sek siden";
        QTest::newRow("a second ahead") << now.addSecs(1) << "om 1 sek";
        QTest::newRow("12 min 20 s") << now.addSecs(-(12 * 60 + 20)) << "for 12 min siden";
        QTest::newRow("12 min 40 s rounds up") << now.addSecs(-(12 * 60 + 40)) << "for 13 min siden";
        QTest::newRow("1 h 40 min rounds up") << now.addSecs(-6000) << "for 2 t siden";
        QTest::newRow("1 day") << now.addDays(-1) << "for 1 d. siden";
        QTest::newRow("2 weeks") << now.addDays(-14) << "for 2 u. siden";
        QTest::newRow("1 month") << now.addMonths(-1) << "for 1 md. siden";
        QTest::newRow("2 years") << now.addYears(-2) << "for 2 år siden";
        QTest::newRow("in 3 min") << now.addSecs(180) << "om 3 min";
    }
    void relativeAge()
    {
        QFETCH(QDateTime, then);
        QFETCH(QString, expected);
        QCOMPARE(::relativeAge(then, QDateTime(QDate(2024, 6, 15), QTime(12, 0), QTimeZone::utc())), expected);
    }
};

QTEST_MAIN(TestHelpers)
#include "tst_helpers.moc"
