#include <Velmora/Platform/QtPlatformServices.hpp>

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <system_error>
#include <vector>

namespace velmora {

namespace {

QString nameFilter(FileKind kind) {
    switch (kind) {
    case FileKind::image:
        return QStringLiteral("Imágenes PNG o JPEG (*.png *.PNG *.jpg *.JPG *.jpeg *.JPEG)");
    case FileKind::pdf:
        return QStringLiteral("Documentos PDF (*.pdf *.PDF)");
    case FileKind::backup:
        return QStringLiteral("Copias de Velmora (*.velmorabackup)");
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

QString savedExtension(FileKind kind) {
    switch (kind) {
    case FileKind::pdf:
        return QStringLiteral(".pdf");
    case FileKind::backup:
        return QStringLiteral(".velmorabackup");
    case FileKind::image:
    case FileKind::any:
        break;
    }
    return {};
}

std::filesystem::path withSavedExtension(const std::filesystem::path& path, FileKind kind) {
    const QString extension = savedExtension(kind);
    const QString name = QString::fromStdString(path.filename().string());
    if (extension.isEmpty() || name.isEmpty() || name.endsWith(extension, Qt::CaseInsensitive)) return path;
    std::filesystem::path completed = path;
    completed.replace_filename((name + extension).toStdString());
    return completed;
}

QtPlatformServices::QtPlatformServices(QWidget* parentWindow)
    : parentWindow_(parentWindow) {}

void QtPlatformServices::setParentWindow(QWidget* parentWindow) {
    parentWindow_ = parentWindow;
}

QWidget* QtPlatformServices::owner(QWidget* requested) const {
    // A panel belongs to a window, never to a control inside it.
    if (requested) return requested->window();
    return parentWindow_ ? parentWindow_ : QApplication::activeWindow();
}

std::optional<std::filesystem::path> QtPlatformServices::chooseSaveLocation(const QString& title,
                                                                            const QString& proposedName,
                                                                            FileKind kind, QWidget* parent) {
    QFileDialog dialog(owner(parent), title, QDir::home().filePath(proposedName), nameFilter(kind));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A name typed without any extension gets it inside the panel, which then asks before
    // replacing the file of that complete name.
    const QString extension = savedExtension(kind);
    if (!extension.isEmpty()) dialog.setDefaultSuffix(extension.mid(1));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const std::optional<std::filesystem::path> chosen = chosenPath(dialog.selectedFiles().front());
    if (!chosen) return std::nullopt;
    // A name with a dot of its own ("copia.2025") gets the extension only now; the panel asked
    // about the name as typed, so replacing the completed one is asked here.
    const std::filesystem::path completed = withSavedExtension(*chosen, kind);
    std::error_code error;
    if (completed != *chosen && std::filesystem::exists(completed, error)) {
        const QString name = QString::fromStdString(completed.filename().string());
        const std::optional<int> replace = confirm(
            Confirmation{QStringLiteral("«") + name + QStringLiteral("» ya existe. ¿Quieres reemplazarlo?"),
                         QStringLiteral("Se sustituirá el archivo que tiene ese nombre."),
                         {QStringLiteral("Reemplazar"), QStringLiteral("Cancelar")}},
            parent);
        if (replace != 0) return std::nullopt;
    }
    return completed;
}

std::optional<std::filesystem::path> QtPlatformServices::chooseFileToOpen(const QString& title, FileKind kind,
                                                                          QWidget* parent) {
    return chosenPath(QFileDialog::getOpenFileName(owner(parent), title, QString(), nameFilter(kind)));
}

std::optional<int> QtPlatformServices::confirm(const Confirmation& confirmation, QWidget* parent) {
    QMessageBox box(owner(parent));
    box.setIcon(confirmation.kind == AlertKind::information ? QMessageBox::Information
                                                            : QMessageBox::Warning);
    box.setWindowTitle(QStringLiteral("Velmora"));
    box.setText(confirmation.message);
    box.setInformativeText(confirmation.informative);
    // Messages can quote what the operator typed (names, notes): shown as written, never as markup.
    box.setTextFormat(Qt::PlainText);
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
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

namespace {

// With no printer installed the print dialog would still offer to print, to a printer with no
// name: its accept button stays off, each time the dialog shows, while there is none.
class PrinterRequired : public QObject {
public:
    explicit PrinterRequired(QPrintDialog& dialog)
        : QObject(&dialog)
        , dialog_(dialog) {
        dialog.installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &dialog_ && event->type() == QEvent::Show) {
            if (auto* box = dialog_.findChild<QDialogButtonBox*>()) {
                if (QPushButton* accept = box->button(QDialogButtonBox::Ok)) {
                    accept->setEnabled(false);
                    accept->setToolTip(QStringLiteral("No hay ninguna impresora instalada."));
                }
            }
        }
        return false;
    }

private:
    QPrintDialog& dialog_;
};

} // namespace

std::optional<PrintChoice> QtPlatformServices::choosePrinter(const PrintRequest& request, QWidget* parent) {
    QPrinter printer(QPrinter::HighResolution);
    if (!request.printer.isEmpty()) printer.setPrinterName(request.printer);
    printer.setDocName(request.title);
    if (!request.paperPoints.isEmpty())
        printer.setPageSize(
            QPageSize(request.paperPoints, QPageSize::Point, QString(), QPageSize::ExactMatch));
    printer.setFullPage(true);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPrintDialog dialog(&printer, owner(parent));
    dialog.setWindowTitle(QStringLiteral("Imprimir"));
    // The tickets go to a CUPS queue as they are; printing to a file is what the preview does.
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    if (QPrinterInfo::availablePrinterNames().isEmpty()) new PrinterRequired(dialog);
    if (dialog.exec() != QDialog::Accepted || printer.printerName().isEmpty()) return std::nullopt;
    return PrintChoice{printer.printerName(), std::max(1, printer.copyCount())};
}

bool QtPlatformServices::openWithDefaultApplication(const std::filesystem::path& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path.string())));
}

} // namespace velmora
