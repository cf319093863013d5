// The about window: the version line with its fallbacks, the links, and its fixed frame.

#include "app/CheckForUpdatesViewModel.h"
#include "app/settings/AboutWindow.h"
#include "ui/CapsuleLabel.h"
#include "platform/Updater.h"

#include <QTest>

namespace {

AboutLink *link(const QWidget &window, const QString &title)
{
    for (auto *candidate : window.findChildren<AboutLink *>()) {
        if (candidate->text() == title)
            return candidate;
    }
    return nullptr;
}

} // namespace

class TestAboutWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void versionText_data()
    {
        QTest::addColumn<std::optional<QString>>("version");
        QTest::addColumn<std::optional<QString>>("build");
        QTest::addColumn<QString>("text");
        const std::optional<QString> none;
        QTest::newRow("both") << std::optional<QString>("1.4.2") << std::optional<QString>("318")
                              << QStringLiteral("Versjon 1.4.2 (build 318)");
        QTest::newRow("no build") << std::optional<QString>("1.4.2") << none
                                  << QStringLiteral("Versjon 1.4.2 (build ?)");
        QTest::newRow("neither") << none << none << QStringLiteral("Versjon ? (build ?)");
        QTest::newRow("empty values") << std::optional<QString>("") << std::optional<QString>("")
                                      << QStringLiteral("Versjon ? (build ?)");
    }
    void versionText()
    {
        QFETCH(std::optional<QString>, version);
        QFETCH(std::optional<QString>, build);
        QFETCH(QString, text);
        QCOMPARE(AboutWindow::versionText(version, build), text);
    }

    // The links open their addresses, the home page's titled by its domain; the update link asks the updater even
    // while the menu command is off.
    void links()
    {
        FakeUpdater updater; // cannot check now
        CheckForUpdatesViewModel updates(updater);
        AppContext context;
        context.updates = &updates;
        AboutInfo info;
        info.shortVersion = QStringLiteral("2.0");
        info.copyright = QStringLiteral("© 2026 Varnostima");
        info.homePage = QUrl(QStringLiteral("https://www.varnostima.no/"));
        info.feedbackMail = QStringLiteral("hei@varnostima.no");
        QList<QUrl> opened;
        AboutWindow window(context, info, [&opened](const QUrl &url) {
            opened.append(url);
            return true;
        });

        QCOMPARE(window.findChild<CapsuleLabel *>(QStringLiteral("version"))->text(),
                 QStringLiteral("Versjon 2.0 (build ?)"));

        link(window, QStringLiteral("Åpne Varnostima.no"))->click();
        link(window, QStringLiteral("Send tilbakemelding"))->click();
        QCOMPARE(opened, (QList<QUrl>{QUrl("https://www.varnostima.no/"), QUrl("mailto:hei@varnostima.no")}));
        QVERIFY(link(window, QStringLiteral("Sjekk etter oppdateringer"))->cursor().shape() == Qt::PointingHandCursor);
        link(window, QStringLiteral("Sjekk etter oppdateringer"))->click();
        QCOMPARE(updater.checks, 1);
        QCOMPARE(opened.size(), 2);
    }

    void openWithDesktopRefusesOtherSchemes()
    {
        QVERIFY(!AboutWindow::openWithDesktop(QUrl(QStringLiteral("file:///etc/passwd"))));
        QVERIFY(!AboutWindow::openWithDesktop(QUrl(QStringLiteral("javascript:alert(1)"))));
    }
};

QTEST_MAIN(TestAboutWindow)
#include "tst_aboutwindow.moc"
