#pragma once

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Window/MainWindow.hpp>
#include <Velmora/Views/Settings/SettingsWindow.hpp>

#include <QObject>
#include <QString>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QApplication;
class QTranslator;

namespace velmora {

class PlatformServices;

// Reads one environment variable; nothing when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// The process's own environment.
std::optional<std::string> processEnvironment(const char* name);

// The message for the terminal when Velmora has no display to open its window on: no X11 or
// Wayland display in the environment and no Qt platform chosen by variable or by "-platform"
// among the program's arguments. Nothing when a window can be shown.
std::optional<QString> noDisplayMessage(const EnvironmentLookup& environment,
                                        const std::vector<std::string>& arguments);

// Loads Qt's own Spanish texts (standard buttons, file dialogs, …) from Qt's translations folder
// and installs them in `app`, which owns the translator. Nothing when they are not installed.
QTranslator* installQtSpanishTranslations(QApplication& app);

// Names the application, sets its icon, Spanish locale and Qt's Spanish texts.
void prepareApplication(QApplication& app);

// The user guide shipped with the program: next to the program in a build tree, or in the
// program's data folder once installed. Nothing when neither exists.
std::optional<std::filesystem::path> findGuide(const std::filesystem::path& programDirectory);

// The application: the one controller for the whole run, the main window, the settings window and
// the menu. Closing the main window quits, once the settings window has closed: with edits not
// saved there, the operator is asked first and can stay.
class VelmoraApp : public QObject {
    Q_OBJECT
public:
    // How the data is opened: before the constructor returns, or on another thread while the
    // window shows that it is opening (the application itself: a busy year takes seconds).
    enum class Opening { waiting, inBackground };

    // Opens the data of `dataDirectory`, or of the standard data directory when absent.
    VelmoraApp(PlatformServices& platform, std::optional<std::filesystem::path> dataDirectory,
               pizzacore::Clock clock = pizzacore::Clock::system(), Opening opening = Opening::waiting,
               QObject* parent = nullptr);
    ~VelmoraApp() override;

    AppStore& store() { return *store_; }
    MainWindow& window() { return window_; }
    SettingsWindow& settingsWindow() { return settings_; }

    // Shows the main window and brings it to the front.
    void show();
    // Opens the settings window; not while the data could not be opened.
    void openSettings();
    // Opens the user guide with the desktop's default application; nothing when it is missing.
    void openGuide();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenu();
    void showAbout();

    PlatformServices& platform_;
    std::unique_ptr<AppStore> store_;
    MainWindow window_;
    SettingsWindow settings_;
    QAction* settingsAction_ = nullptr;
};

} // namespace velmora
