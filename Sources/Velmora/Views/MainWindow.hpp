#pragma once

#include <QMainWindow>

#include <filesystem>

namespace velmora {

// The application's main window.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(const std::filesystem::path& dataDirectory, QWidget* parent = nullptr);
};

} // namespace velmora
