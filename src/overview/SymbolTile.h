#pragma once

#include <QString>
#include <QWidget>

// The faint 80 px rounded tile with one symbol on it, above the texts of an empty or first-run state.
class SymbolTile : public QWidget
{
public:
    explicit SymbolTile(const QString &symbol, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
};
