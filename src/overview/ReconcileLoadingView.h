#pragma once

// Fills the overview until the first reconcile has ended: a spinning arc around a folder, "Sjekker mapper" with
// dots that count up every half second, and how many folders were found so far.

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <chrono>

class QLabel;

class ReconcileLoadingView : public QWidget
{
    Q_OBJECT
public:
    explicit ReconcileLoadingView(std::chrono::milliseconds dotInterval = std::chrono::milliseconds(500),
                                  QWidget *parent = nullptr);

    void setFolderCount(qint64 count);
    qint64 folderCount() const { return m_folderCount; }
    int dotCount() const { return m_dotCount; }
    QString titleText() const;
    // Empty while no folder is known.
    QString countText() const;
    bool isAnimating() const { return m_dots.isActive(); }

    // One step of the dots: none, then one, two, three, one, ...
    void advanceDots();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer m_dots;
    QWidget *m_ring;
    QLabel *m_title;
    QLabel *m_count;
    qint64 m_folderCount = 0;
    int m_dotCount = 0;
};
