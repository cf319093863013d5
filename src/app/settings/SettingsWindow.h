#pragma once

#include "app/AppContext.h"

#include <QWidget>

#include <functional>

class DirectoryChooser;
class QTabWidget;

// What the settings window reaches on the desktop; tests put in their own.
struct SettingsEnvironment {
    DirectoryChooser *chooser = nullptr; // nullptr: the desktop's folder dialog
    // Opens the desktop's notification settings; empty when this desktop has none we know.
    std::function<void()> openNotificationSettings;

    static SettingsEnvironment desktop();
};

// The settings window: "Generelt", "Eksportmappe" and "Konto" in a fixed 450 × 250 frame. Its content is built
// when it is created and goes with it when it is closed, so each opening reads everything afresh.
class SettingsWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr QSize kSize{450, 250};

    explicit SettingsWindow(const AppContext &context, QWidget *parent = nullptr);
    SettingsWindow(const AppContext &context, const SettingsEnvironment &environment, QWidget *parent = nullptr);

    QTabWidget *tabs() const { return m_tabs; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QTabWidget *m_tabs = nullptr;
};
