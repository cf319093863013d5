#pragma once

#include <QTranslator>

// Bokmål for the texts Qt's own dialogs and menus show (the folder chooser, message boxes, the edit menu of a text
// field): the distribution ships no Bokmål translation of Qt, and the English would stand out among ours.
class QtTexts final : public QTranslator
{
public:
    using QTranslator::QTranslator;

    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *disambiguation = nullptr,
                      int n = -1) const override;
};
