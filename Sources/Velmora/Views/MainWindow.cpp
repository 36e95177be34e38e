#include "MainWindow.hpp"

#include <QLabel>
#include <QVBoxLayout>

namespace velmora {

MainWindow::MainWindow(const std::filesystem::path& dataDirectory, QWidget* parent)
    : QMainWindow(parent) {
    setWindowTitle("Velmora");
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* title = new QLabel(tr("Velmora"), central);
    title->setObjectName("title");
    QFont font = title->font();
    font.setPointSizeF(font.pointSizeF() * 2);
    font.setBold(true);
    title->setFont(font);
    auto* folder = new QLabel(
        QString::fromUtf8("Carpeta de datos: ") + QString::fromStdString(dataDirectory.string()), central);
    folder->setObjectName("dataFolder");
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addStretch();
    layout->addWidget(title, 0, Qt::AlignHCenter);
    layout->addWidget(folder, 0, Qt::AlignHCenter);
    layout->addStretch();
    setCentralWidget(central);
    resize(1024, 700);
}

} // namespace velmora
