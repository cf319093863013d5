// The preview grid and the preview sheet over real image files: which state shows, which tiles, and that a quick
// change of folder or image never shows the pixels of the one left behind.

#include "FolderZoo.h"
#include "overview/detail/FolderDetailPreview.h"
#include "thumbnails/ThumbnailCache.h"
#include "support/TempTree.h"
#include "sync/FolderScanner.h"

#include <QAbstractButton>
#include <QCoroSignal>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace {

QColor colourOf(int index)
{
    return QColor::fromHsv((index * 47) % 360, 220, 220);
}

// count images named IMG_<n>.png of one colour per folder (or one colour per image when colour is invalid).
QString writeImages(testsupport::TempTree &tree, const QString &folder, int count, QColor colour = {},
                    QSize size = {40, 30})
{
    const QString dir = tree.addDir(folder);
    for (int i = 0; i < count; ++i) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour.isValid() ? colour : colourOf(i));
        image.save(QStringLiteral("%1/IMG_%2.png").arg(dir).arg(i + 1));
    }
    return dir;
}

// The folder as the engine's scan leaves it, with each image's size and time.
SyncFolder onDisk(const QString &dir)
{
    SyncFolder folder = zoo::at(dir, zoo::synced());
    const QStringList images = FolderScanner::listImages(dir);
    folder.imageCount = images.size();
    folder.cachedLocalFileMeta = FolderScanner::localFileMetadata(images);
    return folder;
}

const QColor kReplacement(128, 128, 128); // no image of colourOf() is grey

// Rewrites the image in place as a portrait of another colour, later than before.
void replaceImage(const QString &path)
{
    const double before = QFileInfo(path).lastModified().toMSecsSinceEpoch() / 1000.0;
    QImage image(24, 48, QImage::Format_RGB32);
    image.fill(kReplacement);
    QVERIFY(image.save(path));
    testsupport::TempTree::setMtime(path, before + 5);
}

void addImage(const QString &path, QColor colour)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(colour);
    QVERIFY(image.save(path));
}

QStringList fileNames(const QList<QUrl> &urls)
{
    QStringList names;
    for (const QUrl &url : urls)
        names << url.fileName();
    return names;
}

bool near(QColor a, QColor b)
{
    return qAbs(a.red() - b.red()) < 8 && qAbs(a.green() - b.green()) < 8 && qAbs(a.blue() - b.blue()) < 8;
}

// Holds every batch until opened; counts what waits and what has come back.
class Gate : public QObject
{
    Q_OBJECT
public:
    QCoro::Task<QList<Thumbnail>> load(QList<QUrl> urls, double size)
    {
        ++waiting;
        folders << urls.value(0).adjusted(QUrl::RemoveFilename | QUrl::StripTrailingSlash).toLocalFile();
        if (!isOpen) {
            auto opening = qCoro(this, &Gate::opened);
            co_await std::move(opening);
        }
        QPointer<Gate> self(this); // a stale batch may come back after the test has ended
        QCoro::Task<QList<Thumbnail>> loading = loadThumbnails(urls, size);
        QList<Thumbnail> result = co_await std::move(loading);
        if (self)
            ++returned;
        co_return result;
    }
    void open()
    {
        isOpen = true;
        Q_EMIT opened();
    }
    PreviewLoaders loaders()
    {
        PreviewLoaders l;
        l.loadBatch = [this](QList<QUrl> urls, double size) { return load(std::move(urls), size); };
        return l;
    }
    bool isOpen = false;
    int waiting = 0;
    int returned = 0;
    QStringList folders; // of each batch asked for

Q_SIGNALS:
    void opened();
};

} // namespace

class TestFolderDetailPreview : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void columns_data()
    {
        QTest::addColumn<QList<QSizeF>>("sizes");
        QTest::addColumn<QList<QList<qsizetype>>>("columns");
        QTest::newRow("portrait, landscape, square, then the shortest")
            << QList<QSizeF>{{300, 400}, {400, 300}, {300, 300}, {300, 300}}
            << QList<QList<qsizetype>>{{0}, {1, 3}, {2}};
        // 0 px high counts as 1; more than ten times taller than wide counts as ten times.
        QTest::newRow("flat and very tall") << QList<QSizeF>{{10, 0}, {1, 100}, {10, 100}, {1, 1}}
                                            << QList<QList<qsizetype>>{{0, 3}, {1}, {2}};
    }
    void columns()
    {
        QFETCH(QList<QSizeF>, sizes);
        QFETCH(QList<QList<qsizetype>>, columns);
        QCOMPARE(distributeIntoColumns(sizes, 3), columns);
    }

    void gridStates_data()
    {
        QTest::addColumn<int>("images");
        QTest::addColumn<QList<qsizetype>>("batches");
        QTest::addColumn<QString>("total");
        QTest::newRow("none") << 0 << QList<qsizetype>{} << "";
        QTest::newRow("50") << 50 << QList<qsizetype>{6, 6, 6, 6, 6, 6, 6, 6, 2} << "";
        QTest::newRow("120") << 120 << QList<qsizetype>{6, 6, 6, 6, 6, 6, 6, 6, 2} << "120 bilder totalt";
    }
    void gridStates()
    {
        QFETCH(int, images);
        QFETCH(QList<qsizetype>, batches);
        QFETCH(QString, total);
        testsupport::TempTree tree;
        const QString dir = writeImages(tree, "Bryllup", images);
        QList<qsizetype> requested;
        PreviewLoaders loaders;
        loaders.loadBatch = [&requested](QList<QUrl> urls, double size) {
            requested << urls.size();
            return loadThumbnails(std::move(urls), size);
        };
        FolderDetailPreview preview(nullptr, loaders);
        preview.resize(400, 800);
        QSignalSpy finished(&preview, &FolderDetailPreview::loadFinished);

        preview.setFolder(zoo::at(dir, {}));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000); // may already have come: a listing can be done at once

        QCOMPARE(requested, batches);
        QCOMPARE(preview.state(), images ? FolderDetailPreview::State::Grid : FolderDetailPreview::State::Empty);
        QCOMPARE(preview.thumbnails().size(), qMin(images, 50));
        QCOMPARE(preview.allImageURLs().size(), images);
        QCOMPARE(preview.tileRects().size(), qMin(images, 50));
        QCOMPARE(preview.totalText(), total);
        if (images < 50)
            return;
        // The 50th tile opens the sheet at position 49; the sheet steps on through the whole folder.
        preview.openPreview(49);
        QVERIFY(preview.sheet());
        QCOMPARE(preview.previewIndex(), 49);
        for (int i = 0; i < images; ++i)
            preview.sheet()->showNext();
        QCOMPARE(preview.sheet()->positionText(), QStringLiteral("%1 av %1").arg(images));
        preview.sheet()->reject();
        QVERIFY(!preview.previewIndex());
    }

    // A batch that comes back after another folder was selected is dropped.
    void staleBatchesNeverShow()
    {
        testsupport::TempTree tree;
        const QString first = writeImages(tree, "A", 7, Qt::red);
        const QString second = writeImages(tree, "B", 7, Qt::blue);
        const QString empty = tree.addDir("Tom");
        Gate gate;
        FolderDetailPreview preview(nullptr, gate.loaders());
        QSignalSpy finished(&preview, &FolderDetailPreview::loadFinished);

        preview.setFolder(zoo::at(first, {}));
        QTRY_COMPARE_WITH_TIMEOUT(gate.waiting, 1, 20000);
        preview.setFolder(zoo::at(empty, {}));
        QTRY_COMPARE_WITH_TIMEOUT(preview.state(), FolderDetailPreview::State::Empty, 20000);
        gate.open();
        QTRY_COMPARE_WITH_TIMEOUT(gate.returned, 1, 20000);
        QCOMPARE(preview.state(), FolderDetailPreview::State::Empty);
        QVERIFY(preview.thumbnails().isEmpty());

        // A -> B -> A while A's first batch is held: A's tiles once, none of B's.
        gate.isOpen = false;
        preview.setFolder(zoo::at(first, {}));
        QTRY_COMPARE_WITH_TIMEOUT(gate.folders.count(first), 2, 20000);
        preview.setFolder(zoo::at(second, {}));
        preview.setFolder(zoo::at(first, {}));
        // B's batch may be asked for too, when its listing is done before it is awaited; it is dropped as well.
        QTRY_COMPARE_WITH_TIMEOUT(gate.folders.count(first), 3, 20000);
        finished.clear();
        gate.open();
        QVERIFY(finished.wait(20000));
        QCOMPARE(preview.thumbnails().size(), 7);
        QSet<QUrl> urls;
        for (const Thumbnail &t : preview.thumbnails()) {
            urls.insert(t.url);
            QVERIFY(t.url.toLocalFile().startsWith(first + '/'));
            QVERIFY(near(t.image.pixelColor(2, 2), Qt::red));
        }
        QCOMPARE(urls.size(), 7);
    }

    // Showing a folder drops its cached thumbnails (plain text prefix), so a re-export shows its new pixels.
    void showingAFolderDecodesItAfresh()
    {
        testsupport::TempTree tree;
        const QString dir = writeImages(tree, "Bryllup", 1, Qt::red);
        ThumbnailCache cache;
        cache.set(dir + " 2/x.png@400@0", QImage(4, 4, QImage::Format_RGB32));
        cache.set("/other/x.png@400@0", QImage(4, 4, QImage::Format_RGB32));
        FolderDetailPreview preview(&cache);
        preview.setFolder(zoo::at(dir, {}));
        QCOMPARE(cache.accessOrder(), QStringList{"/other/x.png@400@0"});
    }

    // The grid follows the folder's files: shown again after being hidden, or given another image list, it lists
    // and decodes them anew; an upload's progress alone loads nothing.
    void reloadsWhenShownOrChanged_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("reloads");
        QTest::newRow("shown again") << "show" << true;
        QTest::newRow("image list changed") << "list" << true;
        QTest::newRow("progress only") << "progress" << false;
    }
    void reloadsWhenShownOrChanged()
    {
        QFETCH(QString, change);
        QFETCH(bool, reloads);
        testsupport::TempTree tree;
        const QString dir = writeImages(tree, "Bryllup", 3, Qt::red);
        int listings = 0;
        PreviewLoaders loaders;
        loaders.listImages = [&listings](QUrl folder) {
            ++listings;
            return listFolderImageVersionsInBackground(folder);
        };
        FolderDetailPreview preview(nullptr, loaders);
        preview.resize(400, 600);
        preview.show();
        QSignalSpy finished(&preview, &FolderDetailPreview::loadFinished);
        SyncFolder folder = zoo::at(dir, zoo::synced(3));
        folder.cachedLocalFileMeta = LocalFiles::fromNames({"IMG_1.png", "IMG_2.png", "IMG_3.png"});
        preview.setFolder(folder);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(preview.allImageURLs().size(), 3);

        QVERIFY(QFile::remove(dir + "/IMG_3.png"));
        if (change == "show") {
            preview.hide(); // the overview closed, then opened again
            preview.show();
        } else if (change == "list") {
            folder.imageCount = 2;
            folder.cachedLocalFileMeta = LocalFiles::fromNames({"IMG_1.png", "IMG_2.png"});
            preview.setFolder(folder);
        } else {
            folder.status = SyncStatus::syncing(0.5);
            preview.setFolder(folder);
        }
        QCOMPARE(listings, reloads ? 2 : 1);
        if (!reloads)
            return;
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 20000);
        QCOMPARE(preview.allImageURLs(), (QList<QUrl>{QUrl::fromLocalFile(dir + "/IMG_1.png"),
                                                       QUrl::fromLocalFile(dir + "/IMG_2.png")}));
        QCOMPARE(preview.tileRects().size(), 2);
    }

    // An export into the folder shown while the sheet is open: only new and changed images load in the grid, its
    // other tiles stay as they are and the placeholders never come back; the sheet shows a replaced image's new
    // pixels, leaves a deleted one (the image after it shows, or the one before at the end), keeps its image when
    // others come and go, and closes when no image is left.
    void followsTheDisk_data()
    {
        QTest::addColumn<int>("opened");
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<QStringList>("replaced");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("gridLoads");
        QTest::addColumn<QString>("shown"); // empty: the sheet closed
        QTest::addColumn<QString>("position");
        QTest::addColumn<bool>("sheetLoads");
        const QStringList none;
        QTest::newRow("shown image replaced") << 1 << none << QStringList{"IMG_2.png"} << none
                                              << QStringList{"IMG_2.png"} << "IMG_2.png" << "2 av 6" << true;
        QTest::newRow("shown image deleted") << 1 << QStringList{"IMG_2.png"} << none << none << none << "IMG_3.png"
                                             << "2 av 5" << true;
        QTest::newRow("shown and next deleted") << 1 << QStringList{"IMG_2.png", "IMG_3.png"} << none << none << none
                                                << "IMG_4.png" << "2 av 4" << true;
        QTest::newRow("last image deleted") << 5 << QStringList{"IMG_6.png"} << none << none << none << "IMG_5.png"
                                            << "5 av 5" << true;
        QTest::newRow("image before deleted") << 1 << QStringList{"IMG_1.png"} << none << none << none << "IMG_2.png"
                                              << "1 av 5" << false;
        QTest::newRow("image added before") << 1 << none << none << QStringList{"IMG_0.png"}
                                            << QStringList{"IMG_0.png"} << "IMG_2.png" << "3 av 7" << false;
        QTest::newRow("export goes on") << 1 << QStringList{"IMG_6.png"} << QStringList{"IMG_5.png"}
                                        << QStringList{"IMG_7.png", "IMG_8.png"}
                                        << QStringList{"IMG_5.png", "IMG_7.png", "IMG_8.png"} << "IMG_2.png"
                                        << "2 av 7" << false;
        QTest::newRow("every image deleted")
            << 1 << QStringList{"IMG_1.png", "IMG_2.png", "IMG_3.png", "IMG_4.png", "IMG_5.png", "IMG_6.png"} << none
            << none << none << "" << "" << false;
    }
    void followsTheDisk()
    {
        QFETCH(int, opened);
        QFETCH(QStringList, removed);
        QFETCH(QStringList, replaced);
        QFETCH(QStringList, added);
        QFETCH(QStringList, gridLoads);
        QFETCH(QString, shown);
        QFETCH(QString, position);
        QFETCH(bool, sheetLoads);
        testsupport::TempTree tree;
        const QString dir = writeImages(tree, "Bryllup", 6);
        QStringList asked;
        QStringList sheetAsked;
        PreviewLoaders loaders;
        loaders.loadBatch = [&asked](QList<QUrl> urls, double size) {
            asked << fileNames(urls);
            return loadThumbnails(std::move(urls), size);
        };
        loaders.loadImage = [&sheetAsked](QUrl url, double size) {
            sheetAsked << url.fileName();
            return loadThumbnail(std::move(url), size);
        };
        QWidget window;
        auto *preview = new FolderDetailPreview(nullptr, loaders, &window);
        window.resize(400, 800);
        window.show();
        QSignalSpy finished(preview, &FolderDetailPreview::loadFinished);
        preview->setFolder(onDisk(dir));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(asked.size(), 6);
        QHash<QString, qint64> before; // the decoded image each tile shows
        for (const Thumbnail &t : preview->thumbnails())
            before.insert(t.url.fileName(), t.image.cacheKey());
        preview->openPreview(opened);
        QPointer<ImagePreviewSheet> sheet = preview->sheet();
        QTRY_VERIFY_WITH_TIMEOUT(!sheet->isLoading(), 20000);
        asked.clear();
        sheetAsked.clear();
        QList<FolderDetailPreview::State> states;
        connect(preview, &FolderDetailPreview::stateChanged, this, [&] { states << preview->state(); });

        for (const QString &name : removed)
            QVERIFY(QFile::remove(dir + '/' + name));
        for (const QString &name : replaced)
            replaceImage(dir + '/' + name);
        for (int i = 0; i < added.size(); ++i)
            addImage(dir + '/' + added.at(i), colourOf(6 + i));
        preview->setFolder(onDisk(dir));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 20000);

        QCOMPARE(asked, gridLoads);
        QVERIFY(!states.contains(FolderDetailPreview::State::Loading));
        QCOMPARE(fileNames(preview->allImageURLs()), fileNames(listFolderImagesForPreview(QUrl::fromLocalFile(dir))));
        QCOMPARE(preview->allImageURLs().size(), 6 - removed.size() + added.size());
        QCOMPARE(preview->tileRects().size(), preview->allImageURLs().size());
        for (const Thumbnail &t : preview->thumbnails()) {
            const QString name = t.url.fileName();
            if (replaced.contains(name))
                QVERIFY(near(t.image.pixelColor(2, 2), kReplacement) && t.image.height() > t.image.width());
            else if (!added.contains(name))
                QCOMPARE(t.image.cacheKey(), before.value(name));
        }

        if (shown.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(!sheet, 20000);
            QVERIFY(!preview->previewIndex());
            QCOMPARE(preview->state(), FolderDetailPreview::State::Empty);
            return;
        }
        QVERIFY(sheet && sheet->isVisible());
        QCOMPARE(sheet->fileNameText(), shown);
        QCOMPARE(sheet->positionText(), position);
        QCOMPARE(sheetAsked, sheetLoads ? QStringList{shown} : QStringList{});
        QTRY_VERIFY_WITH_TIMEOUT(!sheet->isLoading(), 20000);
        const int number = QStringView(shown).mid(4, 1).toInt();
        QVERIFY(near(sheet->currentImage().pixelColor(2, 2),
                     replaced.contains(shown) ? kReplacement : colourOf(number - 1)));

        // Stepping on walks the folder as it is now: every image loads, the line ends at N av N.
        const qsizetype count = preview->allImageURLs().size();
        while (sheet->currentIndex() < count - 1) {
            sheet->showNext();
            QTRY_VERIFY_WITH_TIMEOUT(!sheet->isLoading(), 20000);
            QCOMPARE(sheet->content(), ImagePreviewSheet::Content::Image);
        }
        QCOMPARE(sheet->positionText(), QStringLiteral("%1 av %1").arg(count));
        sheet->reject();
    }

    void rapidSteppingShowsTheLastImage()
    {
        testsupport::TempTree tree;
        const QString dir = writeImages(tree, "Bryllup", 8, {}, {600, 400});
        QList<QUrl> urls;
        for (int i = 1; i <= 8; ++i)
            urls << QUrl::fromLocalFile(QStringLiteral("%1/IMG_%2.png").arg(dir).arg(i));
        ImagePreviewSheet sheet(urls, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!sheet.isLoading(), 20000);
        QCOMPARE(sheet.content(), ImagePreviewSheet::Content::Image);
        QVERIFY(!sheet.previousButton()->isEnabled());
        QTest::keyClick(&sheet, Qt::Key_Left);
        QCOMPARE(sheet.currentIndex(), 0);

        for (int i = 0; i < 10; ++i)
            QTest::keyClick(&sheet, Qt::Key_Right);
        QCOMPARE(sheet.currentIndex(), 7);
        QCOMPARE(sheet.positionText(), "8 av 8");
        QCOMPARE(sheet.fileNameText(), "IMG_8.png");
        QVERIFY(!sheet.nextButton()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!sheet.isLoading(), 20000);
        QVERIFY(near(sheet.currentImage().pixelColor(10, 10), colourOf(7)));
    }

    void undecodableImageShowsError()
    {
        testsupport::TempTree tree;
        const QString dir = writeImages(tree, "Bryllup", 1, Qt::green);
        QFile broken(tree.addFile("Bryllup/IMG_0.jpg"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("not an image");
        broken.close();

        FolderDetailPreview preview;
        QSignalSpy finished(&preview, &FolderDetailPreview::loadFinished);
        preview.setFolder(zoo::at(dir, {}));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(preview.allImageURLs().size(), 2);
        QCOMPARE(preview.thumbnails().size(), 1);

        preview.openPreview(0);
        ImagePreviewSheet *sheet = preview.sheet();
        QTRY_VERIFY_WITH_TIMEOUT(!sheet->isLoading(), 20000);
        QCOMPARE(sheet->content(), ImagePreviewSheet::Content::Error);
        sheet->showNext();
        QTRY_VERIFY_WITH_TIMEOUT(!sheet->isLoading(), 20000);
        QCOMPARE(sheet->content(), ImagePreviewSheet::Content::Image);
        sheet->reject();

        ImagePreviewSheet outOfBounds(QList<QUrl>{}, 0);
        QVERIFY(!outOfBounds.isLoading());
        QCOMPARE(outOfBounds.content(), ImagePreviewSheet::Content::Error);
        QCOMPARE(outOfBounds.positionText(), QString());
    }

    void closing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Escape") << "escape";
        QTest::newRow("Ctrl+W") << "ctrl+w";
        QTest::newRow("Ferdig") << "done";
    }
    void closing()
    {
        QFETCH(QString, how);
        ImagePreviewSheet sheet({QUrl::fromLocalFile("/nowhere/a.jpg")}, 0);
        sheet.show();
        QApplication::setActiveWindow(&sheet);
        QVERIFY(QTest::qWaitForWindowActive(&sheet));
        QSignalSpy rejected(&sheet, &QDialog::rejected);
        if (how == "escape")
            QTest::keyClick(&sheet, Qt::Key_Escape);
        else if (how == "ctrl+w")
            QTest::keyClick(&sheet, Qt::Key_W, Qt::ControlModifier);
        else
            sheet.doneButton()->click();
        QCOMPARE(rejected.size(), 1);
        QVERIFY(!sheet.isVisible());
    }
};

QTEST_MAIN(TestFolderDetailPreview)
#include "tst_folderdetailpreview.moc"
