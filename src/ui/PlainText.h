#pragma once

#include <QString>

// Qt shows a tooltip as rich text whenever it looks like markup, so a folder named "<b>Fet mappe" would turn bold
// and "<a href=x>" into a link. A tooltip made of names, titles, paths or error texts goes through here: escaped
// and marked up as one preformatted paragraph, it shows exactly as written, line breaks and all.
QString plainToolTip(const QString &text);
