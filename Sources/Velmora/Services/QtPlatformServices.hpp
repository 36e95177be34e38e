#pragma once

#include <Velmora/Services/PlatformServices.hpp>

class QWidget;

namespace velmora {

// The desktop's own panels and alerts, through Qt Widgets. Panels and alerts are modal and are
// parented to the window given by `parentWindow`, or to the application's active window.
class QtPlatformServices : public PlatformServices {
public:
    QtPlatformServices() = default;
    explicit QtPlatformServices(QWidget* parentWindow);

    // The window the panels and alerts belong to; may be null.
    void setParentWindow(QWidget* parentWindow);

    std::optional<std::filesystem::path> chooseSaveLocation(const QString& title, const QString& proposedName,
                                                            FileKind kind) override;
    std::optional<std::filesystem::path> chooseFileToOpen(const QString& title, FileKind kind) override;
    std::optional<int> confirm(const Confirmation& confirmation) override;
    std::optional<PrintChoice> choosePrinter(const PrintRequest& request) override;
    bool openWithDefaultApplication(const std::filesystem::path& path) override;

private:
    QWidget* parent() const;
    QWidget* parentWindow_ = nullptr;
};

} // namespace velmora
