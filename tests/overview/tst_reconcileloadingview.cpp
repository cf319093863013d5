#include "overview/ReconcileLoadingView.h"

#include <QTest>

using namespace std::chrono_literals;

class TestReconcileLoadingView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dotsAndCount()
    {
        // A long interval: the steps are driven by hand, the timer only has to run while shown.
        ReconcileLoadingView view(1h);
        QCOMPARE(view.titleText(), QStringLiteral("Sjekker mapper"));
        QVERIFY(!view.isAnimating());
        view.show();
        QVERIFY(view.isAnimating());
        QStringList titles;
        for (int i = 0; i < 4; ++i) {
            view.advanceDots();
            titles << view.titleText();
        }
        QCOMPARE(titles, (QStringList{"Sjekker mapper.", "Sjekker mapper..", "Sjekker mapper...", "Sjekker mapper."}));
        view.hide();
        QVERIFY(!view.isAnimating());
        view.show(); // shown anew: no dots again
        QCOMPARE(view.dotCount(), 0);
        QCOMPARE(view.countText(), QString()); // none found yet
        view.setFolderCount(12);
        QCOMPARE(view.countText(), QStringLiteral("Fant 12 mapper — sjekker status"));
    }
};

QTEST_MAIN(TestReconcileLoadingView)
#include "tst_reconcileloadingview.moc"
