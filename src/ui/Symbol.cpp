#include "Symbol.h"

#include "ThemeLogging.h"

#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QRegularExpression>
#include <QSet>
#include <QSvgRenderer>

#include <algorithm>
#include <array>
#include <memory>

namespace {

enum class Look {
    Outline,    // as drawn
    FillShape,  // one element filled with the tint, the others knocked out in white
    Badge,      // a filled disc with the outline knocked out on it
};

struct SymbolEntry {
    const char *name;
    const char *outline; // file under :/symbols/ without ".svg"
    Look look;
    int filledElement;
};

constexpr std::array kSymbols{
    SymbolEntry{"checkmark", "check", Look::Outline, 0},
    SymbolEntry{"checkmark.circle", "circle-check", Look::Outline, 0},
    SymbolEntry{"checkmark.circle.fill", "circle-check", Look::FillShape, 0},
    SymbolEntry{"folder", "folder", Look::Outline, 0},
    SymbolEntry{"folder.fill", "folder", Look::FillShape, 0},
    SymbolEntry{"folder.badge.gearshape", "folder-cog", Look::Outline, 0},
    SymbolEntry{"photo", "image", Look::Outline, 0},
    SymbolEntry{"photo.on.rectangle", "images", Look::Outline, 0},
    SymbolEntry{"photo.on.rectangle.angled", "images", Look::Outline, 0},
    SymbolEntry{"tray", "inbox", Look::Outline, 0},
    SymbolEntry{"exclamationmark.triangle", "triangle-alert", Look::Outline, 0},
    SymbolEntry{"exclamationmark.triangle.fill", "triangle-alert", Look::FillShape, 0},
    SymbolEntry{"exclamationmark.circle.fill", "circle-alert", Look::FillShape, 0},
    SymbolEntry{"arrow.triangle.branch", "git-branch", Look::Outline, 0},
    SymbolEntry{"arrow.triangle.2.circlepath", "refresh-cw", Look::Outline, 0},
    SymbolEntry{"arrow.clockwise", "rotate-cw", Look::Outline, 0},
    SymbolEntry{"arrow.up.circle", "circle-arrow-up", Look::Outline, 0},
    SymbolEntry{"arrow.up.circle.fill", "circle-arrow-up", Look::FillShape, 0},
    SymbolEntry{"arrow.up.right", "arrow-up-right", Look::Outline, 0},
    SymbolEntry{"arrow.up.right.square", "square-arrow-up-right", Look::Outline, 0},
    SymbolEntry{"plus.circle.fill", "circle-plus", Look::FillShape, 0},
    SymbolEntry{"minus.circle.fill", "circle-minus", Look::FillShape, 0},
    SymbolEntry{"trash", "trash-2", Look::Outline, 0},
    SymbolEntry{"trash.circle.fill", "trash-2", Look::Badge, 0},
    SymbolEntry{"eye", "eye", Look::Outline, 0},
    SymbolEntry{"eye.slash", "eye-off", Look::Outline, 0},
    SymbolEntry{"eye.slash.circle.fill", "eye-off", Look::Badge, 0},
    SymbolEntry{"link", "link", Look::Outline, 0},
    SymbolEntry{"xmark", "x", Look::Outline, 0},
    SymbolEntry{"chevron.right", "chevron-right", Look::Outline, 0},
    SymbolEntry{"chevron.left", "chevron-left", Look::Outline, 0},
    SymbolEntry{"sidebar.trailing", "panel-right", Look::Outline, 0},
    SymbolEntry{"sidebar.right", "panel-right", Look::Outline, 0},
    SymbolEntry{"rectangle.stack", "layers", Look::Outline, 0},
    SymbolEntry{"person.circle", "circle-user", Look::Outline, 0},
    SymbolEntry{"house.fill", "house", Look::FillShape, 1},
    SymbolEntry{"gear", "settings", Look::Outline, 0},
};

const SymbolEntry *find(const QString &name)
{
    for (const SymbolEntry &symbol : kSymbols) {
        if (name == QLatin1String(symbol.name))
            return &symbol;
    }
    return nullptr;
}

// What is "cut out" of a filled symbol: white on most tints, near black on white-ish ones (dark appearance's
// primary), where white would vanish.
QString knockoutFor(const QColor &tint)
{
    const qreal luminance = 0.2126 * tint.redF() + 0.7152 * tint.greenF() + 0.0722 * tint.blueF();
    return luminance > 0.8 ? QStringLiteral("#1C1C1E") : QStringLiteral("#FFFFFF");
}

QString withAttribute(const QString &element, const QString &attribute)
{
    const qsizetype nameEnd = element.indexOf(QRegularExpression(QStringLiteral("[\\s/>]")), 1);
    return element.left(nameEnd) + u' ' + attribute + element.mid(nameEnd);
}

// The outline's SVG text reshaped for the entry's look, still drawn in "currentColor".
QByteArray shapedSvg(const SymbolEntry &symbol, const QString &source, const QString &knockout)
{
    if (symbol.look == Look::Outline)
        return source.toUtf8();

    static const QRegularExpression openTag(QStringLiteral("<svg\\b[^>]*>"));
    static const QRegularExpression element(
        QStringLiteral("<(?:path|circle|line|rect|polyline|polygon|ellipse)\\b[^>]*/>"));
    const QString header = openTag.match(source).captured(0);
    QStringList elements;
    for (auto it = element.globalMatch(source); it.hasNext();)
        elements << it.next().captured(0);

    QString body;
    if (symbol.look == Look::FillShape) {
        for (int i = 0; i < elements.size(); ++i) {
            body += i == symbol.filledElement
                        ? withAttribute(elements[i], QStringLiteral("fill=\"currentColor\""))
                        : withAttribute(elements[i], QStringLiteral("stroke=\"%1\"").arg(knockout));
        }
    } else {
        body = QStringLiteral("<circle cx=\"12\" cy=\"12\" r=\"11\" fill=\"currentColor\" stroke=\"none\"/>"
                              "<g transform=\"translate(12 12) scale(0.55) translate(-12 -12)\" stroke=\"%1\" "
                              "stroke-width=\"3\">")
                   .arg(knockout)
               + elements.join(QString()) + QStringLiteral("</g>");
    }
    return (header + body + QStringLiteral("</svg>")).toUtf8();
}

// Renderers per symbol and opaque tint; the tint's alpha is applied as painter opacity.
class RendererCache
{
public:
    QSvgRenderer *renderer(const QString &name, QRgb opaqueTint)
    {
        const QString key = name + u'|' + QString::number(opaqueTint, 16);
        if (auto it = m_renderers.constFind(key); it != m_renderers.constEnd())
            return it->get();
        const QByteArray svg = tintedSvg(name, QColor::fromRgb(opaqueTint));
        if (svg.isEmpty())
            return nullptr;
        auto renderer = std::make_shared<QSvgRenderer>(svg);
        if (!renderer->isValid()) {
            warnOnce(name, "Symbol %s has an unreadable outline; drawing a placeholder");
            return nullptr;
        }
        if (m_renderers.size() > 512)
            m_renderers.clear();
        m_renderers.insert(key, renderer);
        return renderer.get();
    }

    QByteArray tintedSvg(const QString &name, const QColor &tint)
    {
        const SymbolEntry *symbol = find(name);
        if (!symbol) {
            warnOnce(name, "Unknown symbol %s; drawing a placeholder");
            return {};
        }
        const QString source = outline(QString::fromLatin1(symbol->outline));
        if (source.isEmpty()) {
            warnOnce(name, "Symbol outline missing for %s; drawing a placeholder");
            return {};
        }
        return shapedSvg(*symbol, source, knockoutFor(tint)).replace("currentColor", tint.name(QColor::HexRgb).toLatin1());
    }

    static QString outline(const QString &file)
    {
        QFile f(QStringLiteral(":/symbols/%1.svg").arg(file));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll());
    }

private:
    void warnOnce(const QString &name, const char *format)
    {
        if (m_warned.contains(name))
            return;
        m_warned.insert(name);
        qCWarning(lcTheme, format, qPrintable(name));
    }

    QHash<QString, std::shared_ptr<QSvgRenderer>> m_renderers;
    QSet<QString> m_warned;
};

RendererCache &cache()
{
    static RendererCache instance;
    return instance;
}

void paintPlaceholder(QPainter *painter, const QRectF &rect, const QColor &tint)
{
    const qreal side = std::min(rect.width(), rect.height());
    const qreal pen = std::max<qreal>(1.0, side / 12.0);
    QRectF ring(0, 0, side * 0.7, side * 0.7);
    ring.moveCenter(rect.center());
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QColor faint = tint;
    faint.setAlphaF(tint.alphaF() * 0.5F);
    painter->setPen(QPen(faint, pen));
    painter->setBrush(Qt::NoBrush);
    painter->drawEllipse(ring);
    painter->restore();
}

class SymbolIconEngine final : public QIconEngine
{
public:
    SymbolIconEngine(QString name, QColor tint) : m_name(std::move(name)), m_tint(tint) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        Symbol::paint(painter, rect, m_name, tintFor(mode));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        return Symbol::pixmap(m_name, tintFor(mode), size, scale);
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine *clone() const override { return new SymbolIconEngine(m_name, m_tint); }
    QString key() const override { return QStringLiteral("VarnostimaSymbol"); }
    QString iconName() override { return m_name; }
    bool isNull() override { return false; }

private:
    QColor tintFor(QIcon::Mode mode) const
    {
        QColor tint = m_tint;
        if (mode == QIcon::Disabled)
            tint.setAlphaF(tint.alphaF() * 0.35F);
        return tint;
    }

    QString m_name;
    QColor m_tint;
};

} // namespace

QStringList Symbol::names()
{
    QStringList out;
    for (const SymbolEntry &symbol : kSymbols)
        out << QString::fromLatin1(symbol.name);
    return out;
}

bool Symbol::isAvailable(const QString &name)
{
    const SymbolEntry *symbol = find(name);
    return symbol && QFile::exists(QStringLiteral(":/symbols/%1.svg").arg(QLatin1String(symbol->outline)));
}

void Symbol::paint(QPainter *painter, const QRectF &rect, const QString &name, const QColor &tint)
{
    if (rect.isEmpty() || tint.alpha() == 0)
        return;
    QSvgRenderer *renderer = cache().renderer(name, tint.rgb());
    if (!renderer) {
        paintPlaceholder(painter, rect, tint);
        return;
    }
    // Square outlines: keep them square and centred in whatever rectangle they get.
    const qreal side = std::min(rect.width(), rect.height());
    QRectF target(0, 0, side, side);
    target.moveCenter(rect.center());
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setOpacity(painter->opacity() * tint.alphaF());
    renderer->render(painter, target);
    painter->restore();
}

QPixmap Symbol::pixmap(const QString &name, const QColor &tint, QSize logicalSize, qreal devicePixelRatio)
{
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QPixmap pm(logicalSize * dpr);
    if (pm.isNull())
        return pm;
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter painter(&pm);
    paint(&painter, QRectF(QPointF(0, 0), QSizeF(logicalSize)), name, tint);
    return pm;
}

QIcon Symbol::icon(const QString &name, const QColor &tint)
{
    return QIcon(new SymbolIconEngine(name, tint));
}
