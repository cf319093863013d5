#include "RelativeDate.h"

#include "ThemeLogging.h"

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/udisplaycontext.h>
#include <unicode/unistr.h>

#include <QMutex>

#include <array>
#include <memory>

namespace {

// ICU formatters are not safe for concurrent formatting: one lock around the one instance.
class Formatter
{
public:
    Formatter()
    {
        UErrorCode status = U_ZERO_ERROR;
        auto made = std::make_unique<icu::RelativeDateTimeFormatter>(
            icu::Locale("nb_NO"), nullptr, UDAT_STYLE_SHORT, UDISPCTX_CAPITALIZATION_FOR_STANDALONE, status);
        if (U_FAILURE(status))
            qCCritical(lcTheme, "Relative date formatter unavailable: %s", u_errorName(status));
        else
            m_icu = std::move(made);
    }

    QString format(double value, URelativeDateTimeUnit unit)
    {
        if (!m_icu)
            return {};
        icu::UnicodeString out;
        UErrorCode status = U_ZERO_ERROR;
        {
            QMutexLocker lock(&m_mutex);
            m_icu->formatNumeric(value, unit, out, status);
        }
        if (U_FAILURE(status))
            return {};
        return QString(reinterpret_cast<const QChar *>(out.getBuffer()), out.length());
    }

private:
    QMutex m_mutex;
    std::unique_ptr<icu::RelativeDateTimeFormatter> m_icu;
};

Formatter &formatter()
{
    static Formatter instance;
    return instance;
}

struct Span {
    URelativeDateTimeUnit unit;
    qint64 value; // magnitude, never negative
};

// Calendar differences from the earlier to the later moment, largest unit first, each unit taking what the
// larger ones left (years, months, weeks, days, hours, minutes, seconds).
std::array<Span, 7> breakDown(const QDateTime &from, const QDateTime &to)
{
    QDateTime cursor = from;
    qint64 years = to.date().year() - cursor.date().year();
    if (cursor.addYears(static_cast<int>(years)) > to)
        --years;
    cursor = cursor.addYears(static_cast<int>(years));
    qint64 months = (to.date().year() - cursor.date().year()) * 12 + to.date().month() - cursor.date().month();
    if (cursor.addMonths(static_cast<int>(months)) > to)
        --months;
    cursor = cursor.addMonths(static_cast<int>(months));
    qint64 days = cursor.date().daysTo(to.date());
    if (cursor.addDays(days) > to)
        --days;
    cursor = cursor.addDays(days);
    const qint64 seconds = cursor.secsTo(to);
    return {{{UDAT_REL_UNIT_YEAR, years},
             {UDAT_REL_UNIT_MONTH, months},
             {UDAT_REL_UNIT_WEEK, days / 7},
             {UDAT_REL_UNIT_DAY, days % 7},
             {UDAT_REL_UNIT_HOUR, seconds / 3600},
             {UDAT_REL_UNIT_MINUTE, seconds / 60 % 60},
             {UDAT_REL_UNIT_SECOND, seconds % 60}}};
}

// How many of the next smaller unit make one of this unit, for rounding.
constexpr std::array<qint64, 6> kNextPerUnit{12, 4, 7, 24, 60, 60};

} // namespace

QString relativeAge(const QDateTime &moment, const QDateTime &now)
{
    const bool past = moment <= now;
    const std::array<Span, 7> spans = past ? breakDown(moment, now) : breakDown(now, moment);
    Span chosen{UDAT_REL_UNIT_SECOND, 0};
    for (size_t i = 0; i < spans.size(); ++i) {
        if (spans[i].value == 0)
            continue;
        chosen = spans[i];
        if (i + 1 < spans.size() && spans[i + 1].value * 2 >= kNextPerUnit[i])
            ++chosen.value;
        break;
    }

    // An upload that has just finished is in the past: with no difference the negative zero makes that
    // "for 0 sek siden", where a plain zero would read "om 0 sek" (in 0 seconds).
    const double signedValue = past ? -static_cast<double>(chosen.value) : static_cast<double>(chosen.value);
    return formatter().format(signedValue, chosen.unit);
}
