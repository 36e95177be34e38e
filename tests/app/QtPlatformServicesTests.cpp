// The desktop's own panels and alerts, driven as the operator would: the extension a save panel
// adds, the window each panel and alert belongs to, and the icon an alert shows.

#include <Velmora/Platform/QtPlatformServices.hpp>
#include <support/ScopedVariable.hpp>
#include <support/TestFiles.hpp>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::writeFile;
using velmora::AlertKind;
using velmora::Confirmation;
using velmora::FileKind;
using velmora::QtPlatformServices;
using velmora::withSavedExtension;

TEST(SavedFileNames, EndWithTheExtensionOfTheirKind) {
    EXPECT_EQ(withSavedExtension("/tmp/copia", FileKind::backup), fs::path("/tmp/copia.velmorabackup"));
    EXPECT_EQ(withSavedExtension("/tmp/copia.2025", FileKind::backup),
              fs::path("/tmp/copia.2025.velmorabackup"));
    EXPECT_EQ(withSavedExtension("/tmp/copia.velmorabackup", FileKind::backup),
              fs::path("/tmp/copia.velmorabackup"));
    EXPECT_EQ(withSavedExtension("/tmp/Pedido-12-A4", FileKind::pdf), fs::path("/tmp/Pedido-12-A4.pdf"));
    EXPECT_EQ(withSavedExtension("/tmp/ticket.PDF", FileKind::pdf), fs::path("/tmp/ticket.PDF"))
        << "an extension in capitals is the same extension";
    EXPECT_EQ(withSavedExtension("/tmp/ticket.pdf.txt", FileKind::pdf), fs::path("/tmp/ticket.pdf.txt.pdf"));
    EXPECT_EQ(withSavedExtension("/tmp/Pizzería «Sol»", FileKind::pdf), fs::path("/tmp/Pizzería «Sol».pdf"));
    EXPECT_EQ(withSavedExtension("/tmp/datos", FileKind::any), fs::path("/tmp/datos"));
}

// Answers the modal panels and alerts as they open: a file panel gets `file` typed in and is
// accepted; an alert is recorded and answered with the button titled `button`.
class ModalAnswerer {
public:
    QString file;
    QString button;
    int panels = 0;
    std::optional<QString> alert;
    QWidget* panelParent = nullptr;

    ModalAnswerer() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
        timer_.start();
    }

private:
    void answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* panel = qobject_cast<QFileDialog*>(modal)) {
            ++panels;
            panelParent = panel->parentWidget();
            // The folder is chosen, then the name typed over the one proposed.
            const QFileInfo typed(file);
            panel->setDirectory(typed.absolutePath());
            auto* name = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!name) return;
            name->selectAll();
            QTest::keyClicks(name, typed.fileName());
            // As the panel's own "Guardar" button does.
            QMetaObject::invokeMethod(panel, "accept", Qt::DirectConnection);
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            alert = box->text();
            for (QAbstractButton* candidate : box->buttons())
                if (candidate->text() == button) candidate->click();
            if (box->isVisible()) box->reject();
        }
    }

    QTimer timer_;
};

TEST(QtPrintDialog, WithNoPrinterInstalledOffersNoPrintAndChoosesNothing) {
    TemporaryDirectory directory;
    const pizzacore::testing::ScopedVariable nowhere("CUPS_SERVER",
                                                     (directory.path() / "no-cups.sock").string());
    cupsSetServer(nullptr);
    QtPlatformServices services;
    std::optional<bool> acceptEnabled;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        auto* box = dialog->findChild<QDialogButtonBox*>();
        QPushButton* accept = box ? box->button(QDialogButtonBox::Ok) : nullptr;
        acceptEnabled = accept && accept->isEnabled();
        // Accepted all the same (as a keyboard shortcut could): still no printer is chosen.
        dialog->accept();
    });
    timer.start();
    const auto choice =
        services.choosePrinter({QStringLiteral("Pedido 27"), QString(), QSizeF(226.77, 720)}, nullptr);
    timer.stop();
    cupsSetServer(nullptr);
    ASSERT_TRUE(acceptEnabled.has_value());
    EXPECT_FALSE(*acceptEnabled);
    EXPECT_FALSE(choice);
}

TEST(QtSavePanel, AddsTheExtensionLeftOffAndAsksBeforeReplacingThatFile) {
    TemporaryDirectory directory;
    QDialog window;
    window.show();
    QtPlatformServices services;

    // No extension at all: the panel completes the name.
    {
        ModalAnswerer answerer;
        answerer.file = QString::fromStdString((directory.path() / "copia").string());
        const auto chosen = services.chooseSaveLocation(QStringLiteral("Guardar copia de seguridad"),
                                                        QStringLiteral("Velmora-2025-03-07.velmorabackup"),
                                                        FileKind::backup, &window);
        ASSERT_TRUE(chosen);
        EXPECT_EQ(*chosen, directory.path() / "copia.velmorabackup");
        EXPECT_EQ(answerer.panels, 1);
        EXPECT_EQ(answerer.panelParent, &window);
        EXPECT_FALSE(answerer.alert);
    }
    // A dot of its own: the extension is added after the panel.
    {
        ModalAnswerer answerer;
        answerer.file = QString::fromStdString((directory.path() / "Pedido.12").string());
        const auto chosen =
            services.chooseSaveLocation(QStringLiteral("Guardar PDF y abrir vista previa"),
                                        QStringLiteral("Pedido-12-A4.pdf"), FileKind::pdf, &window);
        ASSERT_TRUE(chosen);
        EXPECT_EQ(*chosen, directory.path() / "Pedido.12.pdf");
        EXPECT_FALSE(answerer.alert);
    }
    // The completed name is taken: replacing it is asked, and declining cancels the save.
    writeFile(directory.path() / "Pedido.12.pdf", "ya estaba");
    {
        ModalAnswerer answerer;
        answerer.file = QString::fromStdString((directory.path() / "Pedido.12").string());
        answerer.button = QStringLiteral("Cancelar");
        EXPECT_FALSE(services.chooseSaveLocation(QStringLiteral("Guardar PDF y abrir vista previa"),
                                                 QStringLiteral("Pedido-12-A4.pdf"), FileKind::pdf, &window));
        EXPECT_EQ(answerer.alert, QStringLiteral("«Pedido.12.pdf» ya existe. ¿Quieres reemplazarlo?"));
    }
    {
        ModalAnswerer answerer;
        answerer.file = QString::fromStdString((directory.path() / "Pedido.12").string());
        answerer.button = QStringLiteral("Reemplazar");
        EXPECT_EQ(services.chooseSaveLocation(QStringLiteral("Guardar PDF y abrir vista previa"),
                                              QStringLiteral("Pedido-12-A4.pdf"), FileKind::pdf, &window),
                  directory.path() / "Pedido.12.pdf");
    }
}

TEST(QtAlert, ShowsTheIconOfItsKindOverTheWindowItBelongsTo) {
    QDialog main;
    QDialog settings;
    main.show();
    settings.show();
    QtPlatformServices services(&main);

    struct Seen {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QWidget* parent = nullptr;
    };
    const auto show = [&](const Confirmation& confirmation, QWidget* parent) {
        Seen seen;
        QTimer::singleShot(0, [&seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            seen = {box->icon(), box->parentWidget()};
            box->buttons().front()->click();
        });
        EXPECT_EQ(services.confirm(confirmation, parent), 0);
        return seen;
    };

    const Seen saved = show(Confirmation{QStringLiteral("Copia guardada."),
                                         QString(),
                                         {QStringLiteral("Aceptar")},
                                         AlertKind::information},
                            &settings);
    EXPECT_EQ(saved.icon, QMessageBox::Information);
    EXPECT_EQ(saved.parent, &settings);

    // A control inside a window stands for its window.
    QWidget* control = new QWidget(&settings);
    const Seen refused = show(
        Confirmation{QStringLiteral("No se pudo guardar."), QString(), {QStringLiteral("Aceptar")}}, control);
    EXPECT_EQ(refused.icon, QMessageBox::Warning);
    EXPECT_EQ(refused.parent, &settings);

    // Without one, the main window.
    EXPECT_EQ(
        show(Confirmation{QStringLiteral("Aviso"), QString(), {QStringLiteral("Aceptar")}}, nullptr).parent,
        &main);
}

} // namespace
