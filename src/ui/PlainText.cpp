#include "PlainText.h"

QString plainToolTip(const QString &text)
{
    if (text.isEmpty())
        return text; // no tooltip
    return QStringLiteral("<p style=\"white-space:pre\">") + text.toHtmlEscaped() + QStringLiteral("</p>");
}
