#pragma once

#include <Velmora/Views/Shared/ThumbnailCache.hpp>

#include <QMainWindow>

#include <cstddef>

class QLabel;
class QStackedWidget;
class QTimer;

namespace velmora {

class AppStore;

// The application's main window. It shows the sidebar of sections and the screen of the selected
// one, or only the fatal-state screen when the data could not be opened; while the data is being
// opened, only a busy "Abriendo los datos…" indicator. It also shows the
// controller's pending message as an alert, ticks the business clock every 30 seconds and
// whenever the application becomes active, saves the order draft after every change (in the
// background) and says so while a save takes long enough to notice.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Period of the business clock's tick.
    static constexpr int tickInterval = 30'000;
    // How long a save runs before the window says it is saving.
    static constexpr int savingIndicatorDelay = 250;

    explicit MainWindow(AppStore& store, QWidget* parent = nullptr);

    // The section on screen: its index in the sidebar's order.
    int visibleSection() const;
    // Shows the window at the size and place it was closed at, maximised if it was, and
    // maximised the first time: a till's screen is the till's.
    void showAsLastTime();
    // Where the window's size is kept between runs.
    static QString layoutFile();

signals:
    // "Ajustes…" was pressed.
    void settingsRequested();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void showSaving();
    void placeSavingIndicator();
    QWidget* makeSection(std::size_t position, QWidget* parent);
    void showContent();
    void showFatal();
    void showOpening();
    void showSelectedTab();
    void saveDraft();
    void scheduleAlert();
    void showAlerts();

    AppStore& store_;
    // Decoded product pictures, shared by the screens that show products.
    ThumbnailCache thumbnails_;
    QStackedWidget* detail_ = nullptr;
    QTimer* clock_;
    QLabel* savingShown_ = nullptr;
    QTimer* savingDelay_ = nullptr;
    // Counts the changes of the controller's message, so that dismissing an alert clears only the
    // message it showed and never one that arrived while it was open.
    quint64 messageGeneration_ = 0;
    bool alertScheduled_ = false;
    bool alertOpen_ = false;
};

} // namespace velmora
