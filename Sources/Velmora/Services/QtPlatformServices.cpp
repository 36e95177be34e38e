#include <Velmora/Services/QtPlatformServices.hpp>

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace velmora {

namespace {

QString nameFilter(FileKind kind) {
    switch (kind) {
    case FileKind::image:
        return QStringLiteral("Imágenes PNG o JPEG (*.png *.PNG *.jpg *.JPG *.jpeg *.JPEG)");
    case FileKind::pdf:
        return QStringLiteral("Documentos PDF (*.pdf *.PDF)");
    case FileKind::any:
        break;
    }
    return QStringLiteral("Todos los archivos (*)");
}

std::optional<std::filesystem::path> chosenPath(const QString& file) {
    if (file.isEmpty()) return std::nullopt;
    return std::filesystem::path(file.toStdString());
}

} // namespace

QtPlatformServices::QtPlatformServices(QWidget* parentWindow)
    : parentWindow_(parentWindow) {}

void QtPlatformServices::setParentWindow(QWidget* parentWindow) {
    parentWindow_ = parentWindow;
}

QWidget* QtPlatformServices::parent() const {
    return parentWindow_ ? parentWindow_ : QApplication::activeWindow();
}

std::optional<std::filesystem::path>
QtPlatformServices::chooseSaveLocation(const QString& title, const QString& proposedName, FileKind kind) {
    const QString proposed = QDir::home().filePath(proposedName);
    return chosenPath(QFileDialog::getSaveFileName(parent(), title, proposed, nameFilter(kind)));
}

std::optional<std::filesystem::path> QtPlatformServices::chooseFileToOpen(const QString& title,
                                                                          FileKind kind) {
    return chosenPath(QFileDialog::getOpenFileName(parent(), title, QString(), nameFilter(kind)));
}

std::optional<int> QtPlatformServices::confirm(const Confirmation& confirmation) {
    QMessageBox box(parent());
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QStringLiteral("Velmora"));
    box.setText(confirmation.message);
    box.setInformativeText(confirmation.informative);
    std::vector<QPushButton*> buttons;
    for (qsizetype index = 0; index < confirmation.buttons.size(); ++index) {
        // The first button is the one the alert proposes; the others decline.
        const auto role = index == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        buttons.push_back(box.addButton(confirmation.buttons[index], role));
    }
    if (!buttons.empty()) box.setDefaultButton(buttons.front());
    box.exec();
    const QAbstractButton* clicked = box.clickedButton();
    for (std::size_t index = 0; index < buttons.size(); ++index)
        if (buttons[index] == clicked) return static_cast<int>(index);
    return std::nullopt;
}

std::optional<PrintChoice> QtPlatformServices::choosePrinter(const PrintRequest& request) {
    QPrinter printer(QPrinter::HighResolution);
    if (!request.printer.isEmpty()) printer.setPrinterName(request.printer);
    printer.setDocName(request.title);
    if (!request.paperPoints.isEmpty())
        printer.setPageSize(
            QPageSize(request.paperPoints, QPageSize::Point, QString(), QPageSize::ExactMatch));
    printer.setFullPage(true);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPrintDialog dialog(&printer, parent());
    dialog.setWindowTitle(QStringLiteral("Imprimir"));
    // The tickets go to a CUPS queue as they are; printing to a file is what the preview does.
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return PrintChoice{printer.printerName(), std::max(1, printer.copyCount())};
}

bool QtPlatformServices::openWithDefaultApplication(const std::filesystem::path& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path.string())));
}

} // namespace velmora
