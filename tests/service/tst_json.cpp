#include "ServiceFixture.h"

using fixture::q;

namespace {

struct Inner {
    QString name;
    static Inner fromJson(const json::ObjectReader &r) { return {r.string(u"name")}; }
    void toJson(json::ObjectWriter &w) const { w.string(u"name", name); }
};

struct Sample {
    QString id;
    qint64 count = 0;
    std::optional<QString> note;
    bool flag = false;
    QStringList tags;
    QList<Inner> items;
    std::optional<double> when;

    static Sample fromJson(const json::ObjectReader &r)
    {
        return {r.string(u"id"),       r.integer(u"count"),         r.optString(u"note"), r.boolean(u"flag"),
                r.strings(u"tags"),    r.objects<Inner>(u"items"), r.optNumber(u"when")};
    }
    void toJson(json::ObjectWriter &w) const
    {
        w.string(u"id", id);
        w.integer(u"count", count);
        w.optString(u"note", note);
        w.boolean(u"flag", flag);
        w.strings(u"tags", tags);
        w.objects(u"items", items);
        w.optNumber(u"when", when);
    }
};

} // namespace

class TestJson : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodes_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<qint64>("count");

        const QByteArray rest = q("'flag':true,'tags':[],'items':[]");
        auto row = [&](const char *name, const QByteArray &head, bool ok, qint64 count = 0) {
            QTest::newRow(name) << QByteArray("{" + head + "," + rest + "}") << ok << count;
        };
        row("plain", q("'id':'a','count':3"), true, 3);
        row("int64 max", q("'id':'a','count':9223372036854775807"), true, std::numeric_limits<qint64>::max());
        row("int64 min", q("'id':'a','count':-9223372036854775808"), true, std::numeric_limits<qint64>::min());
        row("2^63 refused", q("'id':'a','count':9223372036854775808"), false);
        row("fraction refused", q("'id':'a','count':1.5"), false);
        row("missing id", q("'count':3"), false);
        row("id as number", q("'id':5,'count':3"), false);
        row("null optional", q("'id':'a','count':3,'note':null"), true, 3);
        row("optional wrong type", q("'id':'a','count':3,'note':7"), false);
        row("unknown keys ignored", q("'id':'a','count':3,'extra':{'deep':[1,2]}"), true, 3);
        QTest::newRow("empty body") << QByteArray() << false << qint64(0);
        QTest::newRow("array at top") << QByteArray("[]") << false << qint64(0);
        QTest::newRow("item not object") << QByteArray(q("{'id':'a','count':1,'flag':true,'tags':[],'items':[1]}"))
                                         << false << qint64(0);
        QTest::newRow("tag not text") << QByteArray(q("{'id':'a','count':1,'flag':true,'tags':['x',2],'items':[]}"))
                                      << false << qint64(0);
        QTest::newRow("invalid utf-8") << QByteArray("{\"id\":\"\xff\",\"count\":1," + rest + "}") << false
                                       << qint64(0);
    }
    void decodes()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        QFETCH(qint64, count);
        try {
            const Sample sample = json::decode<Sample>(body);
            QVERIFY2(ok, "decoded what should fail");
            QCOMPARE(sample.count, count);
        } catch (const DecodingError &error) {
            QVERIFY2(!ok, qPrintable(error.localizedDescription()));
            QVERIFY(!error.localizedDescription().isEmpty());
        }
    }

    void writesInFieldOrderCompact()
    {
        Sample s{QStringLiteral("z\"\\\n\x01ø"), -7, std::nullopt, false, {QStringLiteral("b"), QStringLiteral("a")},
                 {Inner{QStringLiteral("n")}}, 1.5};
        QCOMPARE(json::encode(s),
                 QByteArray("{\"id\":\"z\\\"\\\\\\n\\u0001\xc3\xb8\",")
                     + q("'count':-7,'flag':false,'tags':['b','a'],'items':[{'name':'n'}],'when':1.5}"));
        const Sample back = json::decode<Sample>(json::encode(s));
        QCOMPARE(back.id, s.id);
        QCOMPARE(back.when, s.when);
        QCOMPARE(back.items.first().name, QStringLiteral("n"));
        s.when = std::numeric_limits<double>::infinity();
        QVERIFY_THROWS_EXCEPTION(EncodingError, json::encode(s));
    }

    void topLevelList()
    {
        const QList<Inner> list{{QStringLiteral("a")}, {QStringLiteral("b")}};
        const QByteArray bytes = json::encodeList(list);
        QCOMPARE(bytes, QByteArray(q("[{'name':'a'},{'name':'b'}]")));
        QCOMPARE(json::decodeList<Inner>(bytes).size(), 2);
        QVERIFY_THROWS_EXCEPTION(DecodingError, json::decodeList<Inner>("{}"));
    }
};

QTEST_GUILESS_MAIN(TestJson)
#include "tst_json.moc"
