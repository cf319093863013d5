// Renders the folder inspector for a folder in every state, the changes section opened, the preview grid while it
// loads, empty, full and after an export into the folder shown, and the preview sheet with an image, with an image
// that cannot be decoded and after the folder changed under it, in the light and the dark palette, for a person to
// look at.
// Usage: QT_QPA_PLATFORM=offscreen detail_shots [output folder, default /tmp/detail-shots]

#include "overview/FolderZoo.h" // tests/overview: the folders the tests use
#include "support/TempTree.h"

#include "ui/Fonts.h"
#include "ui/Theme.h"
#include "overview/detail/FolderDetailActions.h"
#include "overview/detail/FolderDetailChanges.h"
#include "overview/detail/FolderDetailView.h"
#include "overview/SyncOverviewView.h"
#include "platform/UrlOpener.h"
#include "service/AuthManager.h"
#include "service/SecureStorage.h"
#include "service/VarnostimaAPI.h"
#include "sync/FolderScanner.h"
#include "sync/SyncManager.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoroSignal>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFutureInterface>
#include <QMessageBox>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kWidth = 480;

bool save(QWidget &widget, const QString &path)
{
    widget.show();
    // Layouts settle through posted requests; a window in use has had its event loop run by now.
    for (int round = 0; round < 4; ++round)
        QCoreApplication::sendPostedEvents();
    QImage image(widget.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    widget.render(&image);
    std::printf("%s\n", qPrintable(path));
    return image.save(path);
}

// Photographs stand-ins: a sky, a sun and a horizon, in the shape asked for.
void writePhoto(const QString &path, QSize size, int hue)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor::fromHsv(hue, 120, 230));
    sky.setColorAt(1, QColor::fromHsv((hue + 40) % 360, 200, 120));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromHsv((hue + 180) % 360, 160, 250));
    painter.drawEllipse(QPointF(size.width() * 0.7, size.height() * 0.3), size.width() * 0.1, size.width() * 0.1);
    painter.setBrush(QColor::fromHsv((hue + 90) % 360, 180, 80));
    painter.drawRect(0, size.height() * 2 / 3, size.width(), size.height() / 3);
    painter.end();
    image.save(path);
}

void waitFor(QObject *sender, const char *signal)
{
    QEventLoop loop;
    QObject::connect(sender, signal, &loop, SLOT(quit()));
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Shots {
    QString out;
    QString tone;
    bool ok = true;

    // The pane as the window shows it (on the inspector column's colour); whole: as tall as its content.
    void inspector(FolderDetailView &view, const QString &name, bool whole = false, int width = kWidth)
    {
        Theme::useBaseBackground(view);
        view.resize(width, 760);
        if (whole) {
            view.widget()->adjustSize();
            view.resize(width, std::max(300, view.widget()->heightForWidth(width)));
        }
        ok = save(view, QStringLiteral("%1/inspector-%2-%3.png").arg(out, name, tone)) && ok;
    }
    void take(QWidget &widget, const QString &name)
    {
        ok = save(widget, QStringLiteral("%1/%2-%3.png").arg(out, name, tone)) && ok;
    }
};

// An action that never ends: its button stays busy.
class Never : public QObject
{
    Q_OBJECT
public:
    QCoro::Task<void> wait()
    {
        auto forever = qCoro(this, &Never::done);
        co_await std::move(forever);
    }
Q_SIGNALS:
    void done();
};

SyncFolder withPath(SyncFolder folder, const QString &path)
{
    folder.path = path;
    return folder;
}

} // namespace

int main(int argc, char *argv[])
{
    using namespace std::chrono_literals;
    QApplication app(argc, argv);
    registerBundledFonts();
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/detail-shots");
    QDir().mkpath(out);

    // Image folders: 120 photographs in several shapes, one empty folder, one broken file.
    QTemporaryDir images;
    const QString full = images.path() + QStringLiteral("/Kunder/2024_05--Bryllup/Bryllup_Hansen-og-Berg");
    const QString few = images.path() + QStringLiteral("/Reiser/Lofoten");
    const QString empty = images.path() + QStringLiteral("/Tom");
    for (const QString &dir : {full, few, empty})
        QDir().mkpath(dir);
    const QList<QSize> shapes{{600, 400}, {400, 600}, {500, 500}, {640, 360}, {450, 600}};
    for (int i = 0; i < 120; ++i)
        writePhoto(QStringLiteral("%1/IMG_%2.jpg").arg(full).arg(i + 1, 4, 10, QLatin1Char('0')),
                   shapes.at(i % shapes.size()), (i * 29) % 360);
    for (int i = 0; i < 7; ++i)
        writePhoto(QStringLiteral("%1/DSC_%2.jpg").arg(few).arg(i + 1), shapes.at((i + 2) % shapes.size()), i * 50);
    QFile broken(few + QStringLiteral("/DSC_0.jpg"));
    broken.open(QIODevice::WriteOnly);
    broken.write("not an image");
    broken.close();

    QTemporaryDir support;
    SecureStorage(support.path()).write(QStringLiteral("base-url"), QStringLiteral("https://app.varnostima.no"));
    VarnostimaAPI api;
    AuthManager auth(api, SecureStorage(support.path()), AuthManager::StartupRestore::Manual);
    QTemporaryDir state;
    SyncManager sync(state.path());
    RecordingUrlOpener browser;

    using namespace zoo;
    SyncFolder pending = changed("Kunder/2024_05--Bryllup/Bryllup_Hansen-og-Berg", 18, 3);
    pending.cachedLocalFileMeta->insert(QStringLiteral("Et_veldig_langt_filnavn_fra_eksporten_som_ikke_faar_plass_2024-05-18.jpg"), {});
    pending = withPath(pending, full);
    SyncFolder skipped = withPath(changed("Reiser/Lofoten", 0, 0, 7), few);
    skipped.skippedEntries = {2, 1};
    SyncFolder failedPlaceholder = placeholder("g9", "Vinter 2022");
    failedPlaceholder.status = SyncStatus::failed(QStringLiteral("Sletting feilet: Serverfeil (500)"));
    const QList<std::pair<QString, SyncFolder>> states{
        {"synced", withPath(changed("Reiser/Lofoten", 0, 0, 7), few)},
        {"pending", pending},
        {"baseline", withPath(needingBaseline("Reiser/Lofoten"), few)},
        {"moved", withPath(moved(changed("Reiser/Lofoten", 2, 0), "Gammelt/Lofoten"), few)},
        {"syncing", withPath(folder("Reiser/Lofoten", SyncStatus::syncing(0.4567), 7), few)},
        {"failed", withPath(folder("Reiser/Lofoten",
                                   SyncStatus::failed(QStringLiteral(
                                       "Ingen kontakt med Varnostima — sjekk internettforbindelsen")), 7), few)},
        {"failed-move", withPath(moved(folder("Reiser/Lofoten",
                                              SyncStatus::failed(QStringLiteral(
                                                  "Flytting feilet: Ingen kontakt med Varnostima — sjekk "
                                                  "internettforbindelsen")), 7),
                                       "Gammelt/Lofoten"), few)},
        {"removed", placeholder("g42", "Sommerfest 2021")},
        {"removed-failed", failedPlaceholder},
        {"skipped", skipped},
        {"notsynced", withPath(folder("Reiser/Lofoten", SyncStatus::notSynced(), 7), few)},
        {"ignored", withPath(folder("Reiser/Lofoten", SyncStatus::ignored(), 7), few)},
        {"empty", withPath(folder("Tom", SyncStatus::notSynced(), 0), empty)},
        {"emptied", withPath(changed("Reiser/Lofoten", 0, 7, 0), empty)},
        {"modified", withPath(modified("Reiser/Lofoten"), few)},
    };

    for (const auto appearance : {Theme::Appearance::Light, Theme::Appearance::Dark}) {
        Theme::apply(app, appearance);
        Shots shots{out, appearance == Theme::Appearance::Light ? QStringLiteral("light") : QStringLiteral("dark")};

        for (const auto &[name, folder] : states) {
            FolderDetailView view(FolderDetailContext{&sync, &auth, nullptr, &browser, [](const QString &) {}, 1h, {}});
            view.setFolder(folder);
            if (view.preview()->state() == FolderDetailPreview::State::Loading)
                waitFor(view.preview(), SIGNAL(loadFinished()));
            if (name == QLatin1String("pending")) {
                // The grid of the 120 images with its total line, then the same with the groups opened and the
                // link copied.
                shots.inspector(view, name + QStringLiteral("-whole"), true);
                shots.inspector(view, name);
                for (QAbstractButton *group : view.changes()->findChildren<QAbstractButton *>())
                    group->click();
                view.actions()->trigger(FolderAction::CopyLink);
                shots.inspector(view, name + QStringLiteral("-opened-copied"));
                continue;
            }
            shots.inspector(view, name);
            if (name == QLatin1String("skipped")) // three counters in the narrowest pane
                shots.inspector(view, name + QStringLiteral("-narrow"), false, SyncOverviewView::kInspectorMinimum);
        }

        // The grid before its first batch.
        {
            PreviewLoaders held;
            // A listing that never ends: the placeholder tiles stay.
            static QFutureInterface<QList<ListedImage>> never;
            never.reportStarted();
            held.listImages = [](QUrl) { return never.future(); };
            FolderDetailContext context{&sync, &auth, nullptr, &browser, [](const QString &) {}, 1h, held};
            FolderDetailView view(context);
            view.setFolder(states.at(5).second);
            shots.inspector(view, QStringLiteral("grid-loading"));
        }

        // The actions while "Prøv igjen" runs.
        {
            Never never;
            FolderDetailCallbacks callbacks;
            callbacks.onSync = [&never] { return never.wait(); };
            FolderDetailActions actions(callbacks);
            actions.setFolder(states.at(5).second);
            actions.trigger(FolderAction::Sync);
            actions.resize(kWidth, actions.sizeHint().height());
            Theme::useBaseBackground(actions);
            shots.take(actions, QStringLiteral("actions-working"));
        }

        // The question "Slett fra server" asks first.
        {
            Never never;
            FolderDetailCallbacks callbacks;
            callbacks.onDeleteFromServer = [&never] { return never.wait(); };
            FolderDetailActions actions(callbacks);
            SyncFolder removed = placeholder("g42", "Sommerfest 2021");
            removed.imageCount = 148;
            actions.setFolder(removed);
            actions.trigger(FolderAction::DeleteFromServer);
            if (QMessageBox *question = actions.deleteConfirmation()) {
                question->adjustSize();
                shots.take(*question, QStringLiteral("delete-confirmation"));
                question->reject();
            }
        }

        // The sheet over the 7-image folder, on an image and on the broken file.
        FolderDetailPreview preview;
        preview.setFolder(states.at(0).second);
        waitFor(&preview, SIGNAL(loadFinished()));
        preview.openPreview(3);
        if (preview.sheet()->isLoading())
            waitFor(preview.sheet(), SIGNAL(imageSettled()));
        preview.sheet()->resize(900, 640);
        shots.take(*preview.sheet(), QStringLiteral("sheet-image"));
        preview.sheet()->reject();
        preview.openPreview(0);
        if (preview.sheet()->isLoading())
            waitFor(preview.sheet(), SIGNAL(imageSettled()));
        preview.sheet()->resize(900, 640);
        shots.take(*preview.sheet(), QStringLiteral("sheet-error"));
        preview.sheet()->reject();

        // An export goes on while the sheet shows DSC_3: it is replaced by a portrait, DSC_2 is deleted and DSC_7
        // added; the grid keeps its other tiles and the sheet shows the new DSC_3 at its new place.
        {
            const QString dir = images.path() + QStringLiteral("/Reiser/Senja-") + shots.tone;
            QDir().mkpath(dir);
            for (int i = 0; i < 6; ++i)
                writePhoto(QStringLiteral("%1/DSC_%2.jpg").arg(dir).arg(i + 1), shapes.at(i % shapes.size()), i * 50);
            const auto onDisk = [&dir] {
                SyncFolder f = withPath(folder("Reiser/Senja", synced(6), 6), dir);
                const QStringList files = FolderScanner::listImages(dir);
                f.imageCount = files.size();
                f.cachedLocalFileMeta = FolderScanner::localFileMetadata(files);
                return f;
            };
            FolderDetailView view(FolderDetailContext{&sync, &auth, nullptr, &browser, [](const QString &) {}, 1h, {}});
            view.setFolder(onDisk());
            if (view.preview()->state() == FolderDetailPreview::State::Loading)
                waitFor(view.preview(), SIGNAL(loadFinished()));
            view.preview()->openPreview(2);
            ImagePreviewSheet *sheet = view.preview()->sheet();
            if (sheet->isLoading())
                waitFor(sheet, SIGNAL(imageSettled()));

            QFile::remove(dir + QStringLiteral("/DSC_2.jpg"));
            writePhoto(dir + QStringLiteral("/DSC_3.jpg"), {360, 640}, 300);
            testsupport::TempTree::setMtime(dir + QStringLiteral("/DSC_3.jpg"), QDateTime::currentSecsSinceEpoch() + 5);
            writePhoto(dir + QStringLiteral("/DSC_7.jpg"), {640, 360}, 200);
            view.setFolder(onDisk());
            waitFor(view.preview(), SIGNAL(loadFinished()));
            if (sheet->isLoading())
                waitFor(sheet, SIGNAL(imageSettled()));
            shots.inspector(view, QStringLiteral("grid-followed"));
            sheet->resize(900, 640);
            shots.take(*sheet, QStringLiteral("sheet-followed"));
            sheet->reject();
        }
    }
    return 0;
}

#include "detail_shots.moc"
