#pragma once

#include <QWidget>

class ElidedLabel;
class QVBoxLayout;

// One section of the inspector: an optional small upper-case header with an optional symbol, above a faintly
// filled rounded panel that holds the section's content at its leading edge.
class DetailSection : public QWidget
{
    Q_OBJECT
public:
    // Without a title there is no header; a symbol without a title shows nothing.
    explicit DetailSection(const QString &title = {}, const QString &symbol = {}, QWidget *parent = nullptr);

    // Where the caller puts the section's content (8 px between items).
    QVBoxLayout *contentLayout() const { return m_content; }
    QWidget *panel() const { return m_panel; }
    // Null without a title.
    QWidget *header() const { return m_header; }
    QString displayedTitle() const;

private:
    QWidget *m_header = nullptr;
    ElidedLabel *m_title = nullptr;
    QWidget *m_panel;
    QVBoxLayout *m_content;
};
