// The engine killed for real (SIGKILL of a child process) at chosen moments and started again over the same support
// folder: no image reaches the service twice, none lands in another folder's gallery, and every image arrives.

#include "support/StandInService.h"
#include "support/TempTree.h"

#include <QDir>
#include <QProcess>
#include <QTest>

#include <csignal>

using testsupport::ScriptedAnswer;
using testsupport::StandInService;
using testsupport::TempTree;

namespace {

const QByteArray token = "kill-token";

// One start of the engine; the lines it printed so far.
class Child
{
public:
    Child(const QString &support, const QString &exportFolder, const QUrl &baseUrl, const QStringList &extra = {})
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
            while (m_process.canReadLine())
                m_lines.append(QString::fromUtf8(m_process.readLine()).trimmed());
        });
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(ENGINE_CHILD),
                        QStringList{support, exportFolder, baseUrl.toString(), QString::fromLatin1(token)} + extra);
    }
    ~Child() { kill(); }

    bool said(const QString &prefix) const
    {
        return std::any_of(m_lines.cbegin(), m_lines.cend(), [&](const QString &line) { return line.startsWith(prefix); });
    }
    // What follows the prefix on each line that starts with it.
    QStringList after(const QString &prefix) const
    {
        QStringList found;
        for (const QString &line : m_lines) {
            if (line.startsWith(prefix))
                found.append(line.mid(prefix.size()));
        }
        return found;
    }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_process.processId()), SIGKILL);
        m_process.waitForFinished(10000);
    }

private:
    QProcess m_process;
    QStringList m_lines;
};

// "folder/path:name,name" -> the folder's image names.
QMap<QString, QStringList> foldersOf(const QStringList &layouts)
{
    QMap<QString, QStringList> folders;
    for (const QString &layout : layouts)
        folders[layout.section(':', 0, 0)] += layout.section(':', 1).split(',');
    return folders;
}

} // namespace

class TestKillRestart : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedEngineStartsAgain_data()
    {
        QTest::addColumn<QStringList>("first");   // folders synced by a start that ends when all is done
        QTest::addColumn<QStringList>("pass");    // folders added before the start that is killed
        // "completed N" or "compaction N" (the child kills itself at that moment) or "gallery N" (the test kills it
        // once the service has made N galleries)
        QTest::addColumn<QString>("killAt");
        QTest::addColumn<QStringList>("later");   // folders added before the last start
        // "none"; "ids descend" from the start; at the last start "sync state fails" twice, or "sync state down"
        // for good while the user syncs each folder by hand.
        QTest::addColumn<QString>("fault");
        QTest::newRow("confirmed run, sync state fails throughout the next start, synced by hand")
            << QStringList{"Shoot:s1.jpg,s2.jpg", "Tur:t1.jpg"} << QStringList{"Shoot:s3.jpg", "Tur:t2.jpg"}
            << "completed 2" << QStringList{} << "sync state down";
        QTest::newRow("links of a pass, a new folder of that title earlier in path order")
            << QStringList{} << QStringList{"2025/Kunde B/Bryllup:b1.jpg,b2.jpg", "2025/Kunde C/Dåp:c1.jpg,c2.jpg",
                                            "2025/Kunde D/Jubileum:d1.jpg"}
            << "gallery 2" << QStringList{"2023/Kunde A/Bryllup:x1.jpg,x2.jpg"} << "none";
        QTest::newRow("links of a pass, sibling folders of one title")
            << QStringList{} << QStringList{"Fest:f1.jpg,f2.jpg", "Fest_:g1.jpg,g2.jpg", "Hage:h1.jpg"} << "completed 3"
            << QStringList{} << "ids descend";
        QTest::newRow("links of a pass, sibling folders of one title, synced by hand")
            << QStringList{} << QStringList{"Fest:f1.jpg,f2.jpg", "Fest_:g1.jpg,g2.jpg", "Hage:h1.jpg"} << "completed 3"
            << QStringList{} << "sync state down";
        QTest::newRow("killed while the state is written whole")
            << QStringList{} << QStringList{"A:a1.jpg,a2.jpg", "B:b1.jpg,b2.jpg", "C:c1.jpg"} << "compaction 2"
            << QStringList{} << "sync state fails";
    }

    void killedEngineStartsAgain()
    {
        QFETCH(QStringList, first);
        QFETCH(QStringList, pass);
        QFETCH(QString, killAt);
        QFETCH(QStringList, later);
        QFETCH(QString, fault);
        StandInService service;
        service.addAccount(token);
        service.setIdsDescending(fault == "ids descend");
        TempTree support;
        TempTree tree;
        qint64 size = 1000;
        const auto add = [&](const QStringList &layouts) {
            const QMap<QString, QStringList> folders = foldersOf(layouts);
            for (auto it = folders.cbegin(); it != folders.cend(); ++it) {
                for (const QString &name : it.value())
                    tree.addFile(it.key() + '/' + name, ++size);
            }
        };
        const auto start = [&](const QStringList &extra = {}) {
            return std::make_unique<Child>(support.root(), tree.root(), service.baseUrl(), extra);
        };

        if (!first.isEmpty()) {
            add(first);
            auto child = start();
            QVERIFY(QTest::qWaitFor([&] { return child->said("synced") || !child->running(); }, 60000));
            QVERIFY(child->said("synced"));
        }

        add(pass);
        {
            const QString moment = killAt.section(' ', 0, 0);
            const QString n = killAt.section(' ', 1);
            auto child = start(moment == "compaction"  ? QStringList{"--die-in-compaction", n}
                               : moment == "completed" ? QStringList{"--die-at-completed", n}
                                                       : QStringList{});
            if (moment != "gallery") {
                QVERIFY(QTest::qWaitFor([&] { return !child->running(); }, 60000)); // it kills itself
                QVERIFY(!child->said("synced"));
            } else {
                const qsizetype n = killAt.section(' ', 1).toInt();
                QVERIFY(QTest::qWaitFor(
                    [&] { return service.requests("POST", "/api/gallery").size() >= n || !child->running(); }, 60000));
            }
            child->kill();
        }

        add(later);
        if (fault == "sync state fails")
            service.script("GET", "/api/sync/state", {500, "{\"error\":\"busy\"}"}, 2);
        if (fault == "sync state down")
            service.script("GET", "/api/sync/state", {500, "{\"error\":\"busy\"}"}, 1000000);
        auto child = start(fault == "sync state down" ? QStringList{"--sync-by-hand"} : QStringList{});
        QVERIFY(QTest::qWaitFor([&] { return child->said("synced") || !child->running(); }, 90000));
        QVERIFY(child->said("synced"));
        child->kill();
        QMap<QString, QString> linkOfFolder;
        for (const QString &link : child->after("linked "))
            linkOfFolder.insert(QDir(tree.root()).relativeFilePath(link.section(' ', 1)), link.section(' ', 0, 0));

        // Each folder's images are in one gallery, once each, and that gallery holds nothing else; the folder is
        // linked to that gallery.
        const QMap<QString, QStringList> folders = foldersOf(first + pass + later);
        QMap<QString, QString> galleryOfFolder;
        for (const auto &gallery : service.galleries()) {
            QStringList names;
            for (const auto &image : gallery.images)
                names.append(image.fileName);
            if (names.isEmpty())
                continue;
            QString owner;
            for (auto it = folders.cbegin(); it != folders.cend(); ++it) {
                if (it.value().contains(names.first()))
                    owner = it.key();
            }
            QVERIFY2(!owner.isEmpty(), qPrintable(names.join(',')));
            QVERIFY2(!galleryOfFolder.contains(owner), qPrintable("two galleries hold images of " + owner));
            galleryOfFolder.insert(owner, gallery.id);
            QStringList sorted = names;
            sorted.sort();
            QStringList expected = folders.value(owner);
            expected.sort();
            QVERIFY2(sorted == expected, qPrintable(QStringLiteral("gallery %1 (%2) holds %3, the folder %4")
                                                         .arg(gallery.id, gallery.title, names.join(','), owner)));
            QCOMPARE(linkOfFolder.value(owner), gallery.id);
        }
        QCOMPARE(galleryOfFolder.size(), folders.size());
    }
};

QTEST_GUILESS_MAIN(TestKillRestart)
#include "tst_killrestart.moc"
