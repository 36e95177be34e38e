#pragma once

#include <QWidget>

namespace velmora {

class AppStore;

// The application's settings window: one for the whole run, opened from the menu, by the
// standard shortcut or by "Ajustes…" in the sidebar.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    explicit SettingsWindow(AppStore& store, QWidget* parent = nullptr);

    // Shows the window, or brings it to the front when it is already open.
    void present();

private:
    // The controller the settings are read from and saved through.
    [[maybe_unused]] AppStore& store_;
};

} // namespace velmora
