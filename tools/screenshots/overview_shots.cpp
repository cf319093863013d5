// Renders the overview's folder list over a zoo of folders in every state, collapsed and expanded, in the light and
// the dark palette, for a person to look at.
// Usage: QT_QPA_PLATFORM=offscreen overview_shots [output folder, default /tmp/overview-shots]

#include "overview/FolderZoo.h" // tests/overview: the folders the tests use

#include "app/theme/Fonts.h"
#include "app/theme/Theme.h"
#include "overview/FolderListView.h"

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <functional>

namespace {

QList<SyncFolder> zooFolders()
{
    using namespace zoo;
    QList<SyncFolder> f{
        changed("Kunder/2024/Mai/Bryllup_Hansen-og-Berg", 0, 0),
        folder("Kunder/2024/Mai/Konfirmasjon", SyncStatus::syncing(0.47)),
        changed("Kunder/2024/Juni/Portrett", 3, 2),
        changed("Kunder/2024/Juni/Sommerfest", 0, 4),
        changed("Kunder/2024/Juni/Produktbilder", 12, 0),
        modified("Kunder/2024/Juni/Redigert"),
        moved(changed("Kunder/2023/Flyttet_mappe", 0, 0), "Gammelt/Flyttet_mappe"),
        folder("Kunder/2023/Mislyktes", SyncStatus::failed("Ingen kontakt med Varnostima — sjekk internettforbindelsen")),
        folder("Kunder/2023/Privat", SyncStatus::ignored()),
        folder("Reiser/Island"),
        folder("Reiser/Lofoten"),
        changed("Reiser/Lofoten_2", 0, 0),
        folder("Et veldig langt mappenavn som ikke får plass på én linje i listen over mapper"),
        changed("Enkeltbilder", 0, 0),
    };
    f.append(placeholder("g42", "Slettet galleri"));
    return f;
}

bool save(QWidget &widget, const QString &path)
{
    widget.show();
    QImage image(widget.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    widget.render(&image);
    widget.hide();
    std::printf("%s\n", qPrintable(path));
    return image.save(path);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    registerBundledFonts();
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/overview-shots");
    QDir().mkpath(out);

    for (const auto appearance : {Theme::Appearance::Light, Theme::Appearance::Dark}) {
        Theme::apply(app, appearance);
        const QString tone = appearance == Theme::Appearance::Light ? QStringLiteral("light") : QStringLiteral("dark");

        FolderListView list;
        list.resize(560, 820);
        list.setFolders(zooFolders());
        list.setSelectedFolderId(QStringLiteral("/eksport/Kunder/2024/Juni/Portrett"));
        if (!save(list, QStringLiteral("%1/folderlist-expanded-%2.png").arg(out, tone)))
            return 1;
        list.setCollapsedNodes({QStringLiteral("Kunder/2024"), QStringLiteral("Reiser")});
        if (!save(list, QStringLiteral("%1/folderlist-collapsed-%2.png").arg(out, tone)))
            return 1;
    }
    return 0;
}
