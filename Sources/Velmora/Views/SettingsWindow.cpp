#include <Velmora/Views/SettingsWindow.hpp>

#include <Velmora/Stores/AppStore.hpp>

#include <QLabel>
#include <QVBoxLayout>

namespace velmora {

SettingsWindow::SettingsWindow(AppStore& store, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , store_(store) {
    setObjectName(QStringLiteral("SettingsWindow"));
    setWindowTitle(QStringLiteral("Ajustes"));
    auto* title = new QLabel(QStringLiteral("Ajustes de Velmora"), this);
    title->setObjectName(QStringLiteral("settingsTitle"));
    QFont font = title->font();
    font.setPointSizeF(font.pointSizeF() * 1.35);
    font.setBold(true);
    title->setFont(font);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->addWidget(title);
    layout->addStretch();
    resize(620, 480);
}

void SettingsWindow::present() {
    show();
    raise();
    activateWindow();
}

} // namespace velmora
