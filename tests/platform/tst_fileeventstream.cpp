#include "platform/FileEventStream.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>

using namespace std::chrono_literals;

namespace {

const QString kCategory = QStringLiteral("no.varnostima.mac.FileEvents");
constexpr int kWait = 20000; // only ever reached when something is broken

using Action = std::function<void(FileEventStream &stream, const QString &root, const QString &outside)>;

void writeFile(const QString &path, const QByteArray &bytes = "jpeg")
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Append), qPrintable(path));
    file.write(bytes);
}

void makeTree(const QString &root, const QStringList &folders)
{
    for (const QString &folder : folders)
        QVERIFY(QDir().mkpath(root + '/' + folder));
}

// Starts the stream and waits until its watches are in place.
void startAndWait(FileEventStream &stream, const QString &root)
{
    QSignalSpy ready(&stream, &FileEventStream::ready);
    QVERIFY(stream.start(root));
    QVERIFY(ready.wait(kWait));
}

// What the batches so far named: "folder:<path>", "tree:<path>", and "everything" for a batch that cannot say.
QSet<QString> named(const QSignalSpy &changed)
{
    QSet<QString> names;
    for (const QList<QVariant> &arguments : changed) {
        const auto changes = arguments.at(0).value<FileChanges>();
        if (!changes.complete)
            names.insert("everything");
        for (const QByteArray &path : changes.folders)
            names.insert("folder:" + QString::fromUtf8(path));
        for (const QByteArray &path : changes.trees)
            names.insert("tree:" + QString::fromUtf8(path));
    }
    return names;
}

} // namespace

Q_DECLARE_METATYPE(Action)

class TestFileEventStream : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_tmp.isValid());
        m_root = m_tmp.path() + "/export";
        m_outside = m_tmp.path() + "/outside";
        QVERIFY(QDir().mkpath(m_root));
        QVERIFY(QDir().mkpath(m_outside));
    }
    void cleanup()
    {
        QDir(m_root).removeRecursively();
        QDir(m_outside).removeRecursively();
    }

    void watchesEveryVisibleFolder_data();
    void watchesEveryVisibleFolder();
    void changeGivesCallback_data();
    void changeGivesCallback();
    void burstIsCoalesced();
    void vanishedRootGivesCallbackAndComesBack();
    void stoppedStreamStaysSilent_data();
    void stoppedStreamStaysSilent();
    void watchLimitFallsBackToPolling();

private:
    QTemporaryDir m_tmp;
    QString m_root;
    QString m_outside;
};

void TestFileEventStream::watchesEveryVisibleFolder_data()
{
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("links"); // folder names that become symbolic links to "a"
    QTest::addColumn<int>("watches");

    QTest::newRow("hidden folders skipped")
        << QStringList{"a", ".cache/x/y", "a/.thumbs", "a/visible"} << QStringList{} << 3;
    QTest::newRow("links below the root not followed") << QStringList{"a/b"} << QStringList{"link"} << 3;
}

void TestFileEventStream::watchesEveryVisibleFolder()
{
    QFETCH(QStringList, folders);
    QFETCH(QStringList, links);
    QFETCH(int, watches);
    makeTree(m_root, folders);
    for (const QString &link : links)
        QVERIFY(QFile::link(m_root + "/a", m_root + '/' + link));

    FileEventStream stream;
    startAndWait(stream, m_root);
    QCOMPARE(stream.watchCount(), watches);
    QVERIFY(!stream.isPolling());
}

void TestFileEventStream::changeGivesCallback_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<int>("watches");  // after the change; the tree starts with 5
    QTest::addColumn<QString>("later"); // a file written afterwards that must be seen too ("" for none)
    QTest::addColumn<QString>("logLine"); // logged once ("" for none)
    QTest::addColumn<QStringList>("names"); // named by the batches, among others

    QTest::newRow("file added deep") << Action([](FileEventStream &, const QString &r, const QString &) {
        writeFile(r + "/a/b/c/new.jpg");
    }) << 5 << "" << "" << QStringList{"folder:a/b/c"};
    QTest::newRow("mkdir -p then images") << Action([](FileEventStream &, const QString &r, const QString &) {
        QVERIFY(QDir().mkpath(r + "/n/x/y"));
        for (int i = 0; i < 3; ++i)
            writeFile(r + QStringLiteral("/n/x/y/%1.jpg").arg(i));
    }) << 8 << "n/x/y/later.jpg" << "" << QStringList{"tree:n", "folder:"};
    QTest::newRow("tree moved in") << Action([](FileEventStream &, const QString &r, const QString &o) {
        QVERIFY(QDir().mkpath(o + "/t/u/v"));
        writeFile(o + "/t/u/v/1.jpg");
        QVERIFY(QDir().rename(o + "/t", r + "/t"));
    }) << 8 << "t/u/v/later.jpg" << "" << QStringList{"tree:t", "folder:"};
    QTest::newRow("folder deleted") << Action([](FileEventStream &, const QString &r, const QString &) {
        QVERIFY(QDir(r + "/a").removeRecursively());
    }) << 2 << "" << "" << QStringList{"tree:a", "folder:"};
    QTest::newRow("folder moved") << Action([](FileEventStream &, const QString &r, const QString &) {
        QVERIFY(QDir().rename(r + "/a/b", r + "/d/b2"));
    }) << 5 << "" << "" << QStringList{"tree:a/b", "tree:d/b2", "folder:a", "folder:d"};
    QTest::newRow("hidden names") << Action([](FileEventStream &, const QString &r, const QString &) {
        writeFile(r + "/a/.partial.jpg");
        QVERIFY(QDir().rename(r + "/a/.partial.jpg", r + "/a/done.jpg"));
    }) << 5 << "" << "" << QStringList{"folder:a"};
    // The walk after a lost event queue keeps every folder watched once; the batch names nothing.
    QTest::newRow("queue overflowed") << Action([](FileEventStream &stream, const QString &, const QString &) {
        stream.injectOverflowForTesting();
    }) << 5 << "a/b/c/later.jpg" << "Event queue overflowed" << QStringList{"everything"};
}

void TestFileEventStream::changeGivesCallback()
{
    QFETCH(Action, action);
    QFETCH(int, watches);
    QFETCH(QString, later);
    QFETCH(QString, logLine);
    QFETCH(QStringList, names);
    testsupport::LogCapture log;
    makeTree(m_root, {"a/b/c", "d"});
    writeFile(m_root + "/a/b/c/old.jpg");

    FileEventStream stream;
    stream.setLatency(50ms);
    QSignalSpy changed(&stream, &FileEventStream::changed);
    startAndWait(stream, m_root);
    QCOMPARE(stream.watchCount(), 5);

    action(stream, m_root, m_outside);
    QTRY_VERIFY_WITH_TIMEOUT(changed.count() >= 1, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(stream.watchCount(), watches, kWait);
    const QSet<QString> expected(names.cbegin(), names.cend());
    QTRY_VERIFY2_WITH_TIMEOUT(named(changed).contains(expected), qPrintable(named(changed).values().join(' ')),
                              kWait);
    if (!names.contains("everything"))
        QVERIFY(!named(changed).contains("everything"));

    if (!later.isEmpty()) {
        const int before = changed.count();
        writeFile(m_root + '/' + later);
        QTRY_VERIFY_WITH_TIMEOUT(changed.count() > before, kWait);
    }
    if (!logLine.isEmpty())
        QCOMPARE(log.count(kCategory, logLine), 1);
}

void TestFileEventStream::burstIsCoalesced()
{
    makeTree(m_root, {"shoot"});
    FileEventStream stream;
    stream.setLatency(500ms);
    QSignalSpy changed(&stream, &FileEventStream::changed);
    startAndWait(stream, m_root);

    QElapsedTimer since;
    since.start();
    for (int i = 0; i < 500; ++i)
        writeFile(m_root + QStringLiteral("/shoot/IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0')), QByteArray(4096, 'x'));
    QVERIFY(changed.wait(kWait));
    // Each batch closes a window of the full latency opened after `since` started, however slow the machine:
    // a batch per event, or per read of the queue, breaks this bound.
    const quint64 batches = stream.batchCount();
    QVERIFY2(qint64(batches) * 500 <= since.elapsed(), qPrintable(QString::number(batches)));

    // Watching goes on after the burst.
    const qsizetype before = changed.count();
    writeFile(m_root + "/shoot/IMG_late.jpg");
    QTRY_VERIFY_WITH_TIMEOUT(changed.count() > before, kWait);
}

void TestFileEventStream::vanishedRootGivesCallbackAndComesBack()
{
    testsupport::LogCapture log;
    makeTree(m_root, {"a"});
    FileEventStream stream;
    stream.setLatency(10ms);
    stream.setPollInterval(20ms); // how often a vanished root is looked for
    QSignalSpy changed(&stream, &FileEventStream::changed);
    startAndWait(stream, m_root);

    QVERIFY(QDir().rename(m_root, m_outside + "/moved"));
    QTRY_VERIFY_WITH_TIMEOUT(changed.count() >= 1, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(stream.watchCount(), 0, kWait);
    QVERIFY(log.contains(kCategory, "vanished"));

    // A renamed root's old tree is no longer reported; the folder made anew under the path is.
    const int before = changed.count();
    makeTree(m_root, {"new"});
    QTRY_VERIFY_WITH_TIMEOUT(changed.count() > before, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(stream.watchCount(), 2, kWait);
    QVERIFY(!stream.isPolling());
}

void TestFileEventStream::stoppedStreamStaysSilent_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("stop") << "stop";
    QTest::newRow("restart") << "restart";
    QTest::newRow("destroy") << "destroy";
}

void TestFileEventStream::stoppedStreamStaysSilent()
{
    QFETCH(QString, how);
    auto stream = std::make_unique<FileEventStream>();
    stream->setLatency(1ms);
    int delivered = 0;
    connect(stream.get(), &FileEventStream::changed, this, [&delivered] { ++delivered; });
    startAndWait(*stream, m_root);

    // Let the reader hand a batch over without running the event loop, so it waits in the queue. A loaded machine
    // may split the write's events into more batches: all of them wait.
    writeFile(m_root + "/1.jpg");
    QElapsedTimer waited;
    waited.start();
    while (stream->batchCount() == 0 && waited.elapsed() < kWait)
        QThread::msleep(1);
    QVERIFY(stream->batchCount() > 0);

    if (how == "stop")
        stream->stop();
    else if (how == "restart")
        QVERIFY(stream->start(m_root));
    else
        stream.reset();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(delivered, 0);
    if (stream && how == "stop")
        QVERIFY(!stream->isRunning());
}

void TestFileEventStream::watchLimitFallsBackToPolling()
{
    testsupport::LogCapture log;
    makeTree(m_root, {"a/b", "c", "d"});
    FileEventStream stream;
    stream.setMaxWatches(2);
    stream.setPollInterval(20ms);
    QSignalSpy changed(&stream, &FileEventStream::changed);
    startAndWait(stream, m_root);
    QCOMPARE(stream.watchCount(), 2);
    QVERIFY(stream.isPolling());

    // Nothing changes, yet the owner hears from the stream again and again.
    QTRY_VERIFY_WITH_TIMEOUT(changed.count() >= 3, kWait);

    // A new folder meets the limit again: still one log line.
    makeTree(m_root, {"e"});
    const int before = changed.count();
    QTRY_VERIFY_WITH_TIMEOUT(changed.count() >= before + 2, kWait);
    QCOMPARE(log.count(kCategory, "Cannot watch every folder"), 1);
    QCOMPARE(stream.watchCount(), 2);
}

QTEST_GUILESS_MAIN(TestFileEventStream)
#include "tst_fileeventstream.moc"
