#include "app/theme/Fonts.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kCategory = QStringLiteral("no.varnostima.mac.Fonts");

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

bool copyBundled(const QString &name, const QString &destination)
{
    QDir().mkpath(QFileInfo(destination).absolutePath());
    return QFile::copy(QStringLiteral(":/Fonts/%1.ttf").arg(name), destination);
}

bool haveBundledFonts()
{
    return QFile::exists(QStringLiteral(":/Fonts/DMSans.ttf")) &&
           QFile::exists(QStringLiteral(":/Fonts/BricolageGrotesque.ttf"));
}

} // namespace

class TestFonts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each name is looked up at the top first, then in "Fonts"; what is found is read, what is not is logged.
    void lookup_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("expectedLines");

        QTest::newRow("nothing there") << QStringList{}
                                       << QStringList{"Could not find bundled font: DMSans.ttf",
                                                      "Could not find bundled font: DMSans-Italic.ttf",
                                                      "Could not find bundled font: BricolageGrotesque.ttf",
                                                      "Could not find bundled font: DMSans-Medium.ttf"};
        // A file that is not a font proves the lookup reached it: registration fails instead of not-found.
        QTest::newRow("only in Fonts") << QStringList{"Fonts/DMSans.ttf"}
                                       << QStringList{"Failed to register font DMSans: unknown",
                                                      "Could not find bundled font: DMSans-Italic.ttf",
                                                      "Could not find bundled font: BricolageGrotesque.ttf",
                                                      "Could not find bundled font: DMSans-Medium.ttf"};
        QTest::newRow("empty file on top") << QStringList{"DMSans-Italic.ttf"}
                                           << QStringList{"Could not find bundled font: DMSans.ttf",
                                                          "Failed to register font DMSans-Italic: empty file",
                                                          "Could not find bundled font: BricolageGrotesque.ttf",
                                                          "Could not find bundled font: DMSans-Medium.ttf"};
    }

    void lookup()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, expectedLines);
        QTemporaryDir dir;
        for (const QString &file : files)
            writeFile(dir.filePath(file), file.startsWith(QStringLiteral("Fonts/")) ? "not a font" : "");
        testsupport::LogCapture capture;
        registerBundledFonts(dir.path());
        QStringList messages;
        for (const auto &line : capture.lines(kCategory)) {
            if (line.type == QtCriticalMsg)
                messages << line.message;
        }
        QCOMPARE(messages, expectedLines);
    }

    void topLevelWinsOverFontsFolder()
    {
        if (!haveBundledFonts())
            QSKIP("bundled fonts not fetched");
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("BricolageGrotesque.ttf")), "broken");
        QVERIFY(copyBundled(QStringLiteral("BricolageGrotesque"),
                            dir.filePath(QStringLiteral("Fonts/BricolageGrotesque.ttf"))));
        testsupport::LogCapture capture;
        registerBundledFonts(dir.path());
        QVERIFY(capture.contains(kCategory, QStringLiteral("Failed to register font BricolageGrotesque: unknown")));
    }

    void missingOneStillRegistersTheOthers()
    {
        if (!haveBundledFonts())
            QSKIP("bundled fonts not fetched");
        QTemporaryDir dir;
        for (const QString &name : {QStringLiteral("DMSans"), QStringLiteral("DMSans-Italic")})
            QVERIFY(copyBundled(name, dir.filePath(QStringLiteral("Fonts/%1.ttf").arg(name))));
        testsupport::LogCapture capture;
        registerBundledFonts(dir.path());
        QVERIFY(capture.contains(kCategory, QStringLiteral("Could not find bundled font: BricolageGrotesque.ttf")));
        QCOMPARE(capture.count(kCategory, QStringLiteral("Failed to register")), 0);
        QVERIFY(QFontDatabase::families().contains(QStringLiteral("DM Sans")));
    }

    // Last: registers the embedded fonts for the rest of this process.
    void embeddedFontsRegisterOnce()
    {
        if (!haveBundledFonts())
            QSKIP("bundled fonts not fetched");
        {
            testsupport::LogCapture capture;
            registerBundledFonts();
            QVERIFY(QFontDatabase::families().contains(QStringLiteral("Bricolage Grotesque")));
            QVERIFY(QFontDatabase::styles(QStringLiteral("DM Sans")).contains(QStringLiteral("Italic")));
            QCOMPARE(capture.count(kCategory, QStringLiteral("Failed to register")), 0);
        }
        testsupport::LogCapture again;
        registerBundledFonts();
        QCOMPARE(again.count(kCategory, QStringLiteral("already registered")), 4);
    }
};

QTEST_MAIN(TestFonts)
#include "tst_fonts.moc"
