#include "ui/Fonts.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kCategory = QStringLiteral("no.varnostima.mac.Fonts");

bool haveBundledFonts()
{
    return QFile::exists(QStringLiteral(":/Fonts/DMSans.ttf"));
}

// A real font file for the lookup: the bundled one of that name, else any TrueType font of the system, so the
// lookup's cases run without the fetched fonts too.
QString fontFileFor(const QString &fileName)
{
    if (haveBundledFonts())
        return QStringLiteral(":/Fonts/") + fileName;
    QDirIterator fonts(QStringLiteral("/usr/share/fonts"), {QStringLiteral("*.ttf")}, QDir::Files,
                       QDirIterator::Subdirectories);
    return fonts.hasNext() ? fonts.next() : QString();
}

QStringList errorLines(const testsupport::LogCapture &capture)
{
    QStringList messages;
    for (const auto &line : capture.lines(kCategory)) {
        if (line.type == QtCriticalMsg)
            messages << line.message;
    }
    return messages;
}

} // namespace

class TestFonts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each name is looked up at the top first, then in "Fonts"; what is found is read, what is not is logged.
    void lookup_data()
    {
        QTest::addColumn<QStringList>("files"); // path=content: "junk", "empty" or "font" (the bundled file)
        QTest::addColumn<QStringList>("expected");
        const QString missing = QStringLiteral("Could not find bundled font: %1.ttf");
        QTest::newRow("nothing there") << QStringList{}
                                       << QStringList{missing.arg("DMSans"), missing.arg("DMSans-Italic"),
                                                      missing.arg("BricolageGrotesque"), missing.arg("DMSans-Medium")};
        // A file that is not a font proves the lookup reached it: registration fails instead of not-found.
        QTest::newRow("only in Fonts") << QStringList{"Fonts/DMSans.ttf=junk", "DMSans-Italic.ttf=empty"}
                                       << QStringList{"Failed to register font DMSans: unknown",
                                                      "Failed to register font DMSans-Italic: empty file",
                                                      missing.arg("BricolageGrotesque"), missing.arg("DMSans-Medium")};
        QTest::newRow("top level wins") << QStringList{"BricolageGrotesque.ttf=junk", "Fonts/BricolageGrotesque.ttf=font"}
                                        << QStringList{missing.arg("DMSans"), missing.arg("DMSans-Italic"),
                                                       "Failed to register font BricolageGrotesque: unknown",
                                                       missing.arg("DMSans-Medium")};
        QTest::newRow("one missing, the others registered")
            << QStringList{"Fonts/DMSans.ttf=font", "DMSans-Italic.ttf=font", "Fonts/DMSans-Medium.ttf=font"}
            << QStringList{missing.arg("BricolageGrotesque")};
    }
    void lookup()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid() && QDir(dir.path()).mkdir(QStringLiteral("Fonts")));
        for (const QString &file : std::as_const(files)) {
            const QString path = dir.filePath(file.section(u'=', 0, 0));
            const QString content = file.section(u'=', 1);
            if (content == QLatin1String("font")) {
                const QString source = fontFileFor(QFileInfo(path).fileName());
                if (source.isEmpty())
                    QSKIP("no TrueType font on this machine and the bundled fonts not fetched");
                QVERIFY(QFile::copy(source, path));
                continue;
            }
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(content == QLatin1String("junk") ? "not a font" : "");
        }
        testsupport::LogCapture capture;
        registerBundledFonts(dir.path());
        QCOMPARE(errorLines(capture), expected);
    }

    // Last: registers the embedded fonts for the rest of this process.
    void embeddedFontsRegisterOnce()
    {
        if (!haveBundledFonts())
            QSKIP("bundled fonts not fetched");
        {
            testsupport::LogCapture capture;
            registerBundledFonts();
            QVERIFY(errorLines(capture).isEmpty());
            QVERIFY(QFontDatabase::families().contains(QStringLiteral("Bricolage Grotesque")));
            QVERIFY(QFontDatabase::styles(QStringLiteral("DM Sans")).contains(QStringLiteral("Italic")));
        }
        testsupport::LogCapture again;
        registerBundledFonts();
        QCOMPARE(again.count(kCategory, QStringLiteral("already registered")), 4);
    }
};

QTEST_MAIN(TestFonts)
#include "tst_fonts.moc"
