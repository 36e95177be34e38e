#pragma once

#include <QString>
#include <QWidget>

#include <array>

class QLabel;
class QListWidget;

namespace velmora {

class AppStore;
class SettingsAccess;
class SidebarLogo;

// One section of the main window: its title (the value of the controller's selectedTab) and the
// symbol name of its icon.
struct Section {
    const char* title;
    const char* icon;
};

// The six sections, in the order the sidebar lists them.
inline constexpr std::array<Section, 6> sections{{
    {"Caja", "cart.fill"},
    {"Pedidos", "list.bullet.rectangle"},
    {"Clientes", "person.2.fill"},
    {"Productos", "square.grid.2x2.fill"},
    {"Jornadas", "chart.bar.fill"},
    {"Facturación", "doc.text.fill"},
}};

// The main window's sidebar: the name, the restaurant's logo and business name, the sections,
// the version caption and the settings button. Choosing a section sets the controller's
// selectedTab; the highlighted row follows selectedTab.
class Sidebar : public QWidget {
    Q_OBJECT
public:
    explicit Sidebar(AppStore& store, QWidget* parent = nullptr);

    SettingsAccess& settingsAccess() const { return *settingsAccess_; }

private:
    void showDocument();
    void showSelectedTab();

    AppStore& store_;
    SidebarLogo* logo_;
    QLabel* business_;
    QListWidget* list_;
    SettingsAccess* settingsAccess_;
};

} // namespace velmora
