#pragma once

#include <QElapsedTimer>
#include <QRect>
#include <QWidget>

class MenuBarView;

// The window that holds the panel's content. By a tray icon it is a frameless tool window that hides when it loses
// focus; without a tray it is a small normal window titled "Varnostima", so the application can always be reached.
class MenuBarPanel : public QWidget
{
    Q_OBJECT
public:
    enum class Mode { Popup, Window };

    MenuBarPanel(MenuBarView *content, Mode mode, QWidget *parent = nullptr);

    Mode mode() const { return m_mode; }
    MenuBarView *content() const { return m_content; }

    // Shows the panel by the icon (or at the top right of the screen) and gives it focus.
    void showNear(const QRect &iconGeometry);
    // Whether it was hidden by losing focus just now: a click on the tray icon takes the focus before it arrives.
    bool wasJustDismissed() const;

    // Where a panel of `size` goes: under (or above) a known icon, kept on the screen; else the top right corner.
    static QPoint placement(const QRect &iconGeometry, const QSize &size, const QRect &available);

protected:
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    MenuBarView *m_content;
    Mode m_mode;
    QElapsedTimer m_dismissed;
};
