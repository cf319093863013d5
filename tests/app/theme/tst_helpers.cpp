#include "app/theme/RelativeDate.h"
#include "app/theme/UrlPaths.h"

#include <QTest>
#include <QTimeZone>

class TestHelpers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void appendPathJoins_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("bare host") << "https://varnostima.no" << "/dashboard" << "https://varnostima.no/dashboard";
        QTest::newRow("trailing slash") << "https://varnostima.no/" << "/dashboard" << "https://varnostima.no/dashboard";
        QTest::newRow("base path") << "https://example.org/app" << "/auth/device-login"
                                   << "https://example.org/app/auth/device-login";
        QTest::newRow("base path with slash") << "https://example.org/app/" << "/auth/device-login"
                                              << "https://example.org/app/auth/device-login";
        QTest::newRow("path without slash") << "http://localhost:8080" << "dashboard" << "http://localhost:8080/dashboard";
        QTest::newRow("query kept") << "https://example.org/app/?x=1" << "/dashboard"
                                    << "https://example.org/app/dashboard?x=1";
    }

    void appendPathJoins()
    {
        QFETCH(QString, base);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(appendPath(QUrl(base), path).toString(QUrl::FullyEncoded), expected);
    }

    void appendSegment_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain id") << "https://varnostima.no" << "g123" << "https://varnostima.no/gallery/g123";
        QTest::newRow("base with slash") << "https://varnostima.no/" << "g123" << "https://varnostima.no/gallery/g123";
        QTest::newRow("base path") << "https://example.org/v" << "g1" << "https://example.org/v/gallery/g1";
        QTest::newRow("slash in id") << "https://varnostima.no" << "a/b" << "https://varnostima.no/gallery/a%2Fb";
        QTest::newRow("blank and query chars") << "https://varnostima.no" << "a b?c#d"
                                               << "https://varnostima.no/gallery/a%20b%3Fc%23d";
        QTest::newRow("dot segment") << "https://varnostima.no" << ".." << "https://varnostima.no/gallery/..";
        QTest::newRow("unicode") << "https://varnostima.no" << "bjørn" << "https://varnostima.no/gallery/bj%C3%B8rn";
    }

    void appendSegment()
    {
        QFETCH(QString, base);
        QFETCH(QString, id);
        QFETCH(QString, expected);
        const QUrl url = appendPath(QUrl(base), QStringLiteral("/gallery/"), id);
        QCOMPARE(url.toString(QUrl::FullyEncoded), expected);
        QVERIFY(url.isValid());
    }

    void relativeAge_data()
    {
        QTest::addColumn<qint64>("secondsAgo");
        QTest::addColumn<QString>("expected");
        QTest::newRow("now") << qint64(0) << "om 0 sek";
        QTest::newRow("5 s") << qint64(5) << "for 5 sek siden";
        QTest::newRow("12 min") << qint64(12 * 60) << "for 12 min siden";
        QTest::newRow("12 min 20 s") << qint64(12 * 60 + 20) << "for 12 min siden";
        QTest::newRow("12 min 40 s rounds up") << qint64(12 * 60 + 40) << "for 13 min siden";
        QTest::newRow("1 h") << qint64(3600) << "for 1 t siden";
        QTest::newRow("1 h 40 min rounds up") << qint64(6000) << "for 2 t siden";
        QTest::newRow("1 day") << qint64(86400) << "for 1 d. siden";
        QTest::newRow("2 weeks") << qint64(14 * 86400) << "for 2 u. siden";
        QTest::newRow("in 3 min") << qint64(-180) << "om 3 min";
    }

    void relativeAge()
    {
        QFETCH(qint64, secondsAgo);
        QFETCH(QString, expected);
        // Fixed moments in UTC: no daylight-saving step in the span.
        const QDateTime now(QDate(2024, 6, 15), QTime(12, 0), QTimeZone::utc());
        QCOMPARE(::relativeAge(now.addSecs(-secondsAgo), now), expected);
    }

    void relativeAgeCalendarUnits()
    {
        const QDateTime now(QDate(2024, 6, 15), QTime(12, 0), QTimeZone::utc());
        QCOMPARE(::relativeAge(now.addMonths(-1), now), QStringLiteral("for 1 md. siden"));
        QCOMPARE(::relativeAge(now.addYears(-2), now), QStringLiteral("for 2 år siden"));
    }
};

QTEST_MAIN(TestHelpers)
#include "tst_helpers.moc"
