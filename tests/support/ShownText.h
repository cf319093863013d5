#pragma once

// What a person reads: a tooltip as Qt shows it, and whether words keep their order on screen.

#include <QString>
#include <QTextDocument>
#include <QTextLayout>

namespace testsupport {

// Qt takes a tooltip that looks like markup as rich text: the text it then shows is the document's.
inline QString shownToolTip(const QString &toolTip)
{
    if (!Qt::mightBeRichText(toolTip))
        return toolTip;
    QTextDocument document;
    document.setHtml(toolTip);
    return document.toPlainText();
}

// Whether the last occurrence of words in the sentence is laid out left to right, character by character.
inline bool readsLeftToRight(const QString &sentence, const QString &words)
{
    const qsizetype from = sentence.lastIndexOf(words);
    if (from < 0 || words.isEmpty())
        return false;
    QTextLayout layout(sentence);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(100000);
    layout.endLayout();
    qreal previous = -1;
    for (qsizetype i = from; i <= from + words.size(); ++i) {
        const qreal x = line.cursorToX(int(i));
        if (x <= previous)
            return false;
        previous = x;
    }
    return true;
}

} // namespace testsupport
