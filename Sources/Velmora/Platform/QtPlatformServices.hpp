#pragma once

#include <Velmora/Platform/PlatformServices.hpp>

class QWidget;

namespace velmora {

// The extension a file of `kind` is saved with (".pdf"), or nothing when any name will do.
QString savedExtension(FileKind kind);

// `path` with the extension of `kind` added when its name does not already end with it, in any
// case: a name typed as "copia" or "copia.2025" still becomes a file that opens as what it is.
std::filesystem::path withSavedExtension(const std::filesystem::path& path, FileKind kind);

// The desktop's own panels and alerts, through Qt Widgets. Panels and alerts are modal and
// belong to the window of the widget they are given; without one, to the window given by
// `setParentWindow` (the main window), or to the application's active window.
class QtPlatformServices : public PlatformServices {
public:
    QtPlatformServices() = default;
    explicit QtPlatformServices(QWidget* parentWindow);

    // The window panels and alerts belong to when the caller names none; may be null.
    void setParentWindow(QWidget* parentWindow);

    std::optional<std::filesystem::path> chooseSaveLocation(const QString& title, const QString& proposedName,
                                                            FileKind kind, QWidget* parent) override;
    std::optional<std::filesystem::path> chooseFileToOpen(const QString& title, FileKind kind,
                                                          QWidget* parent) override;
    std::optional<int> confirm(const Confirmation& confirmation, QWidget* parent) override;
    std::optional<PrintChoice> choosePrinter(const PrintRequest& request, QWidget* parent) override;
    bool openWithDefaultApplication(const std::filesystem::path& path) override;

private:
    QWidget* owner(QWidget* requested) const;
    QWidget* parentWindow_ = nullptr;
};

} // namespace velmora
