// The settings window on a real data directory: the edited copy and its saving, the refusals,
// the saved / unsaved line, the printer and time-zone pickers, the logo, and backup and restore
// from the window.

#include <Velmora/App/VelmoraApp.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Orders/TicketPreview.hpp>
#include <Velmora/Views/Settings/SettingsWindow.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <support/TestFiles.hpp>

#include "ScreenTesting.hpp"
#include "TestImages.hpp"
#include "TestPlatformServices.hpp"

#include <PizzaCore/PizzaCore.hpp>

#include <QAccessible>
#include <QAccessibleEditableTextInterface>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using pizzacore::Clock;
using pizzacore::Database;
using pizzacore::Instant;
using pizzacore::Repository;
using pizzacore::testing::snapshot;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::writeFile;
using velmora::AlertKind;
using velmora::AppStore;
using velmora::FileKind;
using velmora::PrinterList;
using velmora::SettingsWindow;
using velmora::testing::TestPlatformServices;
using namespace velmora::testing;

const QString unsaved = QStringLiteral("Los cambios se aplican al guardar.");
const QString refusal = QStringLiteral("Indica el nombre del negocio y activa al menos un destinatario.");
const QString discardQuestion = QStringLiteral("¿Descartar los cambios de Ajustes?");
const QString discard = QStringLiteral("Descartar cambios");

std::string pngFile(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(0x20, 0x80, 0xC0));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

// The settings window over a controller opened on an empty data folder, as at the first start.
class SettingsWindowTest : public ScreenTest {
protected:
    SettingsWindowTest() { start_ = Start::emptyFolder; }

    // Opens the window on the stored settings, as the menu does, and waits for the printer list,
    // which comes from another thread.
    SettingsWindow& open() {
        window_ = std::make_unique<SettingsWindow>(store(), nullptr, [this] { return printers_; });
        window_->present();
        waitForPrinters();
        return *window_;
    }

    void waitForPrinters() {
        for (int step = 0; step < 500 && window_->listingPrinters(); ++step)
            QTest::qWait(10);
        ASSERT_FALSE(window_->listingPrinters());
    }

    template <class W>
    W& child(const char* name) {
        return ScreenTest::child<W>(*window_, name);
    }

    // Types `text` into a field in place of what it held.
    void type(const char* field, const QString& text) {
        auto& edit = child<QLineEdit>(field);
        edit.selectAll();
        QTest::keyClick(&edit, Qt::Key_Delete);
        // As typed: insert() edits like the keyboard does, accented letters included.
        edit.insert(text);
    }

    QString status() { return child<QLabel>("saveStatus").text(); }
    // Presses "Guardar" and lets the save be written and come back to the window.
    void save() {
        QTest::mouseClick(&child<QPushButton>("saveSettings"), Qt::LeftButton);
        store().flush();
        QCoreApplication::processEvents();
    }
    void changeStored(const std::function<void(pizzacore::Settings&)>& change) {
        ASSERT_TRUE(store().transact([&](Database& db) { change(db.settings); }));
    }

    PrinterList printers_{{"Cocina-80", "Oficina"}, "Oficina"};
    std::unique_ptr<SettingsWindow> window_;
};

TEST_F(SettingsWindowTest, ShowsTheStoredSettingsInFourTabs) {
    changeStored([](pizzacore::Settings& settings) {
        settings.business = "Pizzería Sol";
        settings.taxID = "B12345678";
        settings.paper = pizzacore::Paper::mm80;
        settings.bar = true;
        settings.closingHour = 3;
        settings.closingMinute = 30;
        settings.timeZone = "Atlantic/Canary";
        settings.printer = "Cocina-80";
    });
    SettingsWindow& window = open();
    EXPECT_EQ(child<QLabel>("settingsTitle").text(), "Ajustes de Velmora");
    auto& tabs = child<QTabWidget>("settingsTabs");
    ASSERT_EQ(tabs.count(), 4);
    EXPECT_EQ(tabs.tabText(0), "Negocio");
    EXPECT_EQ(tabs.tabText(1), "Tickets");
    EXPECT_EQ(tabs.tabText(2), "Cierre");
    EXPECT_EQ(tabs.tabText(3), "Datos y alcance");

    EXPECT_EQ(child<QLineEdit>("business").text(), "Pizzería Sol");
    EXPECT_EQ(child<QLineEdit>("taxID").text(), "B12345678");
    EXPECT_EQ(child<QLineEdit>("footer").text(), "Gracias por tu pedido");
    EXPECT_EQ(child<QComboBox>("paper").currentText(), "80 mm");
    EXPECT_EQ(child<QComboBox>("paper").count(), 3);
    EXPECT_EQ(child<QComboBox>("printer").currentText(), "Cocina-80");
    EXPECT_TRUE(child<QCheckBox>("kitchen").isChecked());
    EXPECT_TRUE(child<QCheckBox>("bar").isChecked());
    EXPECT_EQ(child<QComboBox>("timeZone").currentText(), "Canarias · Atlantic/Canary");
    EXPECT_EQ(child<QComboBox>("timeZone").count(), 2);
    EXPECT_EQ(child<QTimeEdit>("closingTime").text(), "03:30");
    EXPECT_EQ(status(), unsaved);
    EXPECT_EQ(window.edited(), store().db().settings);

    // Every control can be found and is named after its label.
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (!qobject_cast<QLineEdit*>(widget) && !qobject_cast<QAbstractButton*>(widget) &&
            !qobject_cast<QComboBox*>(widget) && !qobject_cast<QAbstractSpinBox*>(widget))
            continue;
        if (widget->parentWidget() && qobject_cast<QAbstractSpinBox*>(widget->parentWidget())) continue;
        if (qobject_cast<QComboBox*>(widget->parentWidget())) continue;
        if (widget->objectName().startsWith("qt_")) continue;
        EXPECT_FALSE(widget->objectName().isEmpty()) << widget->metaObject()->className();
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->objectName().toStdString();
    }
}

TEST_F(SettingsWindowTest, SavesTheEditedCopyInOneTransactionAndSaysSo) {
    open();
    const std::size_t audit = store().db().audit.size();
    type("business", "  Pizzería Sol  ");
    type("phone", "928 000 111");
    child<QComboBox>("paper").setCurrentIndex(1);
    child<QCheckBox>("bar").click();
    child<QTimeEdit>("closingTime").setTime(QTime(2, 0));
    EXPECT_EQ(status(), unsaved);
    EXPECT_EQ(store().db().settings.business, "Mi restaurante") << "nothing is stored before saving";

    save();
    EXPECT_FALSE(store().message());
    EXPECT_EQ(status(), "Ajustes guardados");
    const pizzacore::Settings stored = Repository(dataFolder(), Repository::Access::readOnly).load().settings;
    EXPECT_EQ(stored.business, "  Pizzería Sol  ") << "stored as typed";
    EXPECT_EQ(stored.phone, "928 000 111");
    EXPECT_EQ(stored.paper, pizzacore::Paper::mm58);
    EXPECT_TRUE(stored.bar);
    EXPECT_EQ(stored.closingHour, 2);
    EXPECT_EQ(stored, store().db().settings);
    ASSERT_EQ(store().db().audit.size(), audit + 1);
    EXPECT_EQ(store().db().audit.back().action, "Guardar ajustes");
    EXPECT_EQ(store().db().audit.back().reference, "");

    // Any further edit brings the notice back.
    QTest::keyClicks(&child<QLineEdit>("footer"), "!");
    EXPECT_EQ(status(), unsaved);
    // Return saves, wherever the focus is.
    QTest::keyClick(&child<QLineEdit>("footer"), Qt::Key_Return);
    store().flush();
    QCoreApplication::processEvents();
    EXPECT_EQ(status(), "Ajustes guardados");
    EXPECT_EQ(store().db().settings.footer, "Gracias por tu pedido!");
}

TEST_F(SettingsWindowTest, TheClosingTimeIsOneFieldTypedAsHoursAndMinutes) {
    changeStored([](pizzacore::Settings& settings) {
        settings.closingHour = 4;
        settings.closingMinute = 5;
    });
    open();
    auto& time = child<QTimeEdit>("closingTime");
    EXPECT_EQ(time.text(), "04:05");
    EXPECT_EQ(time.accessibleName(), "Cierre diario");
    // Typed as the operator does: the hours, then the minutes.
    time.setSelectedSection(QDateTimeEdit::HourSection);
    QTest::keyClicks(&time, "23");
    time.setSelectedSection(QDateTimeEdit::MinuteSection);
    QTest::keyClicks(&time, "45");
    EXPECT_EQ(time.text(), "23:45");
    EXPECT_EQ(window_->edited().closingHour, 23);
    EXPECT_EQ(window_->edited().closingMinute, 45);
    save();
    EXPECT_EQ(store().db().settings.closingHour, 23);
    EXPECT_EQ(store().db().settings.closingMinute, 45);
}

TEST_F(SettingsWindowTest, PrintingOnConfirmFollowsThePreferredPrinterUntilTheOperatorDecides) {
    open();
    auto& print = child<QCheckBox>("printOnConfirm");
    EXPECT_EQ(print.text(), "Imprimir al confirmar");
    EXPECT_FALSE(print.isChecked()) << "no preferred printer, nothing prints unasked";

    // Choosing a preferred printer turns it on, without deciding it for later.
    auto& printer = child<QComboBox>("printer");
    printer.setCurrentIndex(printer.findData(QStringLiteral("Cocina-80")));
    EXPECT_TRUE(print.isChecked());
    EXPECT_FALSE(window_->edited().printOnConfirm.has_value());
    save();
    EXPECT_TRUE(store().db().settings.printsOnConfirm());

    // Turned off, it stays off with the printer chosen, and opens again as it was saved.
    print.click();
    EXPECT_EQ(status(), unsaved);
    save();
    EXPECT_EQ(store().db().settings.printOnConfirm, std::optional<bool>(false));
    EXPECT_EQ(store().db().settings.printer, "Cocina-80");
    window_.reset();
    open();
    EXPECT_FALSE(child<QCheckBox>("printOnConfirm").isChecked());
    EXPECT_EQ(child<QComboBox>("printer").currentData().toString(), "Cocina-80");
}

TEST_F(SettingsWindowTest, PrintingTheReportOnClosingIsOffUntilSwitchedOn) {
    open();
    auto& report = child<QCheckBox>("printReportOnClose");
    EXPECT_EQ(report.text(), "Imprimir el informe al cerrar la jornada");
    EXPECT_EQ(report.accessibleName(), report.text());
    EXPECT_FALSE(report.isChecked());
    EXPECT_FALSE(window_->edited().printReportOnClose.has_value()) << "opening decides nothing";

    report.click();
    EXPECT_EQ(status(), unsaved);
    save();
    EXPECT_EQ(store().db().settings.printReportOnClose, std::optional<bool>(true));
    window_.reset();
    open();
    EXPECT_TRUE(child<QCheckBox>("printReportOnClose").isChecked());
}

TEST_F(SettingsWindowTest, SavingTheCallersCardOnConfirmingIsOnUntilSwitchedOff) {
    open();
    auto& saveCard = child<QCheckBox>("saveCardOnConfirm");
    EXPECT_EQ(saveCard.accessibleName(), "Guardar la ficha al confirmar");
    EXPECT_TRUE(saveCard.isChecked());
    saveCard.click();
    EXPECT_EQ(status(), unsaved);
    save();
    EXPECT_EQ(store().db().settings.saveCardOnConfirm, std::optional<bool>(false));
    window_.reset();
    open();
    EXPECT_FALSE(child<QCheckBox>("saveCardOnConfirm").isChecked());
}

TEST_F(SettingsWindowTest, OpeningTheDrawerOnCashIsOffUntilSwitchedOn) {
    open();
    auto& drawer = child<QCheckBox>("openDrawerOnCash");
    EXPECT_EQ(drawer.text(), "Abrir el cajón al cobrar en efectivo");
    EXPECT_EQ(drawer.accessibleName(), drawer.text());
    EXPECT_FALSE(drawer.isChecked());
    drawer.click();
    EXPECT_EQ(status(), unsaved);
    save();
    EXPECT_EQ(store().db().settings.openDrawerOnCash, std::optional<bool>(true));
    window_.reset();
    open();
    EXPECT_TRUE(child<QCheckBox>("openDrawerOnCash").isChecked());
    child<QCheckBox>("openDrawerOnCash").click();
    save();
    EXPECT_EQ(store().db().settings.openDrawerOnCash, std::optional<bool>(false));
}

TEST_F(SettingsWindowTest, RefusesANameOfSpacesOrNoDestinationAndKeepsThePreviousSettings) {
    open();
    const pizzacore::Settings inForce = store().db().settings;
    const auto before = snapshot(dataFolder());

    type("business", "   ");
    save();
    EXPECT_EQ(store().message(), refusal);
    EXPECT_EQ(status(), unsaved);
    store().clearMessage();

    type("business", "Pizzería Sol");
    child<QCheckBox>("kitchen").click();
    child<QCheckBox>("customer").click();
    ASSERT_FALSE(window_->edited().kitchen || window_->edited().bar || window_->edited().customer);
    save();
    EXPECT_EQ(store().message(), refusal);
    EXPECT_EQ(status(), unsaved);
    EXPECT_EQ(store().db().settings, inForce);
    EXPECT_EQ(snapshot(dataFolder()), before);
}

TEST_F(SettingsWindowTest, OpeningNeverWaitsForThePrintSystem) {
    changeStored([](pizzacore::Settings& settings) { settings.printer = "Oficina"; });
    // A print system that answers only when the test lets it (or after five seconds).
    auto answer = std::make_shared<std::promise<void>>();
    std::shared_future<void> answered = answer->get_future().share();
    window_ = std::make_unique<SettingsWindow>(store(), nullptr, [answered] {
        answered.wait_for(std::chrono::seconds(5));
        return PrinterList{{"Cocina-80", "Oficina"}, "Oficina"};
    });
    const auto start = std::chrono::steady_clock::now();
    window_->present();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    // Meanwhile the stored printer stays chosen, without being called unavailable, and the
    // fields take edits.
    auto& printer = child<QComboBox>("printer");
    EXPECT_TRUE(window_->listingPrinters());
    EXPECT_EQ(printer.currentText(), "Oficina");
    EXPECT_EQ(child<QLabel>("systemPrinter").text(), "Buscando impresoras…");
    type("business", "Pizzería Luna");
    EXPECT_EQ(window_->edited().business, "Pizzería Luna");

    answer->set_value();
    waitForPrinters();
    ASSERT_EQ(printer.count(), 3);
    EXPECT_EQ(printer.itemText(1), "Cocina-80");
    EXPECT_EQ(printer.currentText(), "Oficina");
    EXPECT_EQ(child<QLabel>("systemPrinter").text(), "Predeterminada ahora: Oficina");
    EXPECT_EQ(window_->edited().business, "Pizzería Luna") << "the list leaves the edits alone";
    EXPECT_EQ(window_->edited().printer, "Oficina");
}

TEST_F(SettingsWindowTest, AListThatComesAfterTheWindowIsGoneIsDropped) {
    std::atomic<bool> asked = false;
    window_ = std::make_unique<SettingsWindow>(store(), nullptr, [&asked] {
        asked = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return PrinterList{{"Cocina-80"}, "Cocina-80"};
    });
    window_->present();
    for (int step = 0; step < 200 && !asked; ++step)
        QTest::qWait(10);
    ASSERT_TRUE(asked);
    window_.reset();
    // The list arrives with nothing left to show it in.
    QTest::qWait(500);
}

TEST_F(SettingsWindowTest, AStoredPrinterThatIsGoneStaysChosenAndMarked) {
    changeStored([](pizzacore::Settings& settings) { settings.printer = "Barra-58"; });
    open();
    auto& printer = child<QComboBox>("printer");
    ASSERT_EQ(printer.count(), 4);
    EXPECT_EQ(printer.itemText(0), "Predeterminada del sistema");
    EXPECT_EQ(printer.itemText(1), "Cocina-80");
    EXPECT_EQ(printer.itemText(2), "Oficina");
    EXPECT_EQ(printer.itemText(3), "Barra-58 (no disponible)");
    EXPECT_EQ(printer.currentIndex(), 3);
    EXPECT_EQ(child<QLabel>("systemPrinter").text(), "Predeterminada ahora: Oficina");

    save();
    EXPECT_EQ(store().db().settings.printer, "Barra-58") << "kept when saved untouched";
    printer.setCurrentIndex(0);
    save();
    EXPECT_EQ(store().db().settings.printer, "") << "the system's default is the empty name";
    printer.setCurrentIndex(1);
    save();
    EXPECT_EQ(store().db().settings.printer, "Cocina-80");

    // Without any printer in the system only the default remains, and the window says so.
    printers_ = {};
    window_->close();
    window_->present();
    waitForPrinters();
    EXPECT_EQ(printer.count(), 2);
    EXPECT_EQ(printer.currentText(), "Cocina-80 (no disponible)");
    EXPECT_EQ(child<QLabel>("systemPrinter").text(), "No hay impresoras instaladas en el sistema.");
}

TEST_F(SettingsWindowTest, AnotherStoredTimeZoneIsOfferedAndKept) {
    changeStored([](pizzacore::Settings& settings) { settings.timeZone = "Europe/Lisbon"; });
    open();
    auto& zone = child<QComboBox>("timeZone");
    ASSERT_EQ(zone.count(), 3);
    EXPECT_EQ(zone.itemText(0), "Península · Europe/Madrid");
    EXPECT_EQ(zone.itemText(1), "Canarias · Atlantic/Canary");
    EXPECT_EQ(zone.currentText(), "Europe/Lisbon");
    type("footer", "Hasta pronto");
    save();
    EXPECT_EQ(store().db().settings.timeZone, "Europe/Lisbon");
    zone.setCurrentIndex(1);
    save();
    EXPECT_EQ(store().db().settings.timeZone, "Atlantic/Canary");
}

TEST_F(SettingsWindowTest, TheLogoIsImportedIntoTheCopyAndRemovedWithQuitar) {
    open();
    auto& remove = child<QPushButton>("removeLogo");
    EXPECT_TRUE(remove.isHidden()) << "no Quitar without a logo";
    const fs::path picture = folder() / "logo.png";
    writeFile(picture, pngFile(120, 60));

    platform_.answerNextOpenPanel(picture);
    QTest::mouseClick(&child<QPushButton>("importLogo"), Qt::LeftButton);
    ASSERT_TRUE(window_->edited().logo);
    EXPECT_FALSE(remove.isHidden());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !child<QLabel>("logoPreview").pixmap().isNull(); }, 10000));
    EXPECT_LE(child<QLabel>("logoPreview").pixmap().width(), 64);
    EXPECT_FALSE(store().db().settings.logo) << "nothing is stored before saving";
    save();
    EXPECT_EQ(store().db().settings.logo, window_->edited().logo);

    QTest::mouseClick(&remove, Qt::LeftButton);
    EXPECT_FALSE(window_->edited().logo);
    EXPECT_TRUE(remove.isHidden());
    EXPECT_EQ(status(), unsaved);

    // A refused picture leaves the copy as it was.
    writeFile(folder() / "nota.png", "texto");
    platform_.answerNextOpenPanel(folder() / "nota.png");
    QTest::mouseClick(&child<QPushButton>("importLogo"), Qt::LeftButton);
    EXPECT_EQ(store().message(), "Elige una imagen PNG o JPEG de hasta 2 MB.");
    EXPECT_FALSE(window_->edited().logo);
}

TEST_F(SettingsWindowTest, TheLogoPreviewIsUprightAndOfItsOwnSize) {
    open();
    // Stored 400 × 200 with the left half red, taken with the camera turned a quarter: the
    // preview is upright, red on top, fitted into 64 × 48.
    const QByteArray turned = velmora::testing::withOrientation(
        velmora::testing::encoded(velmora::testing::twoColours(400, 200), "JPEG", 95), 6);
    const fs::path picture = folder() / "girado.jpg";
    writeFile(picture, velmora::testing::toString(turned));
    platform_.answerNextOpenPanel(picture);
    QTest::mouseClick(&child<QPushButton>("importLogo"), Qt::LeftButton);
    ASSERT_TRUE(window_->edited().logo);
    auto& preview = child<QLabel>("logoPreview");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !preview.pixmap().isNull(); }, 10000));
    const QImage shown = preview.pixmap().toImage();
    ASSERT_EQ(shown.size(), QSize(24, 48));
    EXPECT_GT(QColor(shown.pixel(12, 6)).red(), 200);
    EXPECT_GT(QColor(shown.pixel(12, 42)).blue(), 200);
}

TEST_F(SettingsWindowTest, ReopeningDiscardsUnsavedEdits) {
    open();
    type("business", "Sin guardar");
    platform_.answerNextAlert(discard);
    window_->close();
    window_->present();
    EXPECT_EQ(child<QLineEdit>("business").text(), "Mi restaurante");
    EXPECT_EQ(window_->edited(), store().db().settings);
    EXPECT_EQ(status(), unsaved);
}

TEST_F(SettingsWindowTest, BackupAndRestoreFromTheWindow) {
    open();
    type("business", "Pizzería Sol");
    save();
    const fs::path backup = folder() / "copia.velmorabackup";
    platform_.answerNextSavePanel(backup);
    QTest::mouseClick(&child<QPushButton>("exportBackup"), Qt::LeftButton);
    ASSERT_TRUE(fs::exists(backup));
    store().clearMessage();

    type("business", "Otro");
    save();
    // Without pending edits the window shows the restored settings.
    platform_.answerNextOpenPanel(backup);
    platform_.answerNextAlert(QStringLiteral("Restaurar"));
    QTest::mouseClick(&child<QPushButton>("restoreBackup"), Qt::LeftButton);
    EXPECT_EQ(store().db().settings.business, "Pizzería Sol");
    EXPECT_EQ(child<QLineEdit>("business").text(), "Pizzería Sol");

    // Edits in progress are kept through a restore.
    type("footer", "Editando");
    platform_.answerNextOpenPanel(backup);
    platform_.answerNextAlert(QStringLiteral("Restaurar"));
    QTest::mouseClick(&child<QPushButton>("restoreBackup"), Qt::LeftButton);
    EXPECT_EQ(child<QLineEdit>("footer").text(), "Editando");

    QTest::mouseClick(&child<QPushButton>("openDataFolder"), Qt::LeftButton);
    ASSERT_FALSE(platform_.opened().empty());
    EXPECT_EQ(platform_.opened().back(), store().location());
}

// The text of every page of the preview.
QString previewText(SettingsWindow& window) {
    QPdfDocument& document = window.preview().document();
    QString text;
    for (int page = 0; page < document.pageCount(); ++page)
        text += document.getAllText(page).text() + QLatin1Char('\n');
    return text;
}

TEST_F(SettingsWindowTest, ThePreviewDrawsTheSampleOrderWithTheEditedSettings) {
    SettingsWindow& window = open();
    QPdfDocument& document = window.preview().document();
    // Shown at once: kitchen and customer tickets on A4.
    ASSERT_EQ(document.status(), QPdfDocument::Status::Ready);
    EXPECT_EQ(document.pageCount(), 2);
    EXPECT_NEAR(document.pagePointSize(0).width(), 595.28, 0.5);
    EXPECT_TRUE(previewText(window).contains("Gracias por tu pedido"));

    // Edits show a moment later, without saving anything.
    type("footer", "Vuelve pronto");
    child<QComboBox>("paper").setCurrentIndex(2);
    child<QCheckBox>("bar").click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return document.pageCount() == 3; }, 3000));
    EXPECT_NEAR(document.pagePointSize(0).width(), 226.77, 0.5) << "80 mm roll";
    EXPECT_TRUE(previewText(window).contains("Vuelve pronto"));
    EXPECT_TRUE(previewText(window).contains("BARRA"));
    EXPECT_EQ(store().db().settings.footer, "Gracias por tu pedido");

    // Without destinations there is no ticket, and the preview says why.
    child<QCheckBox>("kitchen").click();
    child<QCheckBox>("bar").click();
    child<QCheckBox>("customer").click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.preview().failure().isEmpty(); }, 3000));
    EXPECT_EQ(window.preview().failure(), "Activa al menos un destinatario en Ajustes → Tickets.");
    EXPECT_EQ(document.pageCount(), 0);
    child<QCheckBox>("customer").click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return document.pageCount() == 1; }, 3000));
    EXPECT_TRUE(window.preview().failure().isEmpty());
}

TEST(SettingsInTheApplication, WhatIsSavedReachesTheSidebarAtOnce) {
    TemporaryDirectory temporary;
    TestPlatformServices platform;
    velmora::VelmoraApp app(platform, temporary.path(), Clock::fixed(friday));
    app.openSettings();
    ASSERT_TRUE(app.settingsWindow().isVisible());
    auto* business = app.settingsWindow().findChild<QLineEdit*>(QStringLiteral("business"));
    auto* save = app.settingsWindow().findChild<QPushButton*>(QStringLiteral("saveSettings"));
    auto* sidebar = app.window().findChild<QLabel*>(QStringLiteral("businessName"));
    ASSERT_TRUE(business && save && sidebar);
    business->selectAll();
    business->insert(QStringLiteral("Pizzería Sol"));
    EXPECT_EQ(sidebar->text(), "Mi restaurante") << "not before saving";
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return sidebar->text() == "Pizzería Sol"; }));
    app.settingsWindow().close();
}

// Sets the text of a field as a screen reader, dictation or an on-screen keyboard does: through
// the accessibility interface, without a single key press.
void setAccessibly(QLineEdit& field, const QString& text) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&field);
    ASSERT_NE(accessible, nullptr);
    accessible->setText(QAccessible::Value, text);
}

TEST_F(SettingsWindowTest, TextSetThroughAccessibilityIsWhatIsSaved) {
    open();
    auto& business = child<QLineEdit>("business");
    setAccessibly(business, QString());
    EXPECT_EQ(business.text(), "");
    EXPECT_EQ(window_->edited().business, "");
    save();
    EXPECT_EQ(store().message(), refusal) << "a blank name is refused, never saved with the old name";
    EXPECT_EQ(store().db().settings.business, "Mi restaurante");
    store().clearMessage();

    setAccessibly(business, QStringLiteral("Pizzería Sol"));
    QAccessibleInterface* taxID = QAccessible::queryAccessibleInterface(&child<QLineEdit>("taxID"));
    ASSERT_TRUE(taxID && taxID->editableTextInterface());
    taxID->editableTextInterface()->insertText(0, QStringLiteral("B12345678"));
    EXPECT_EQ(status(), unsaved);
    save();
    EXPECT_FALSE(store().message());
    EXPECT_EQ(store().db().settings.business, "Pizzería Sol");
    EXPECT_EQ(store().db().settings.taxID, "B12345678");

    // Filling the fields from the settings in force is not an edit.
    window_->close();
    window_->present();
    EXPECT_FALSE(window_->hasUnsavedEdits());
    EXPECT_EQ(window_->edited(), store().db().settings);
}

TEST_F(SettingsWindowTest, ItsPanelsAlertsAndMessagesBelongToIt) {
    SettingsWindow& window = open();
    writeFile(folder() / "nota.png", "texto");
    platform_.answerNextOpenPanel(folder() / "nota.png");
    QTest::mouseClick(&child<QPushButton>("importLogo"), Qt::LeftButton);
    ASSERT_EQ(platform_.openPanels().size(), 1u);
    EXPECT_EQ(platform_.openPanels().back().parent, &window);
    EXPECT_EQ(store().message(), "Elige una imagen PNG o JPEG de hasta 2 MB.");
    EXPECT_EQ(store().messageWindow(), &window);
    EXPECT_EQ(store().messageKind(), AlertKind::warning);
    store().clearMessage();

    type("business", " ");
    save();
    EXPECT_EQ(store().message(), refusal);
    EXPECT_EQ(store().messageWindow(), &window);
    store().clearMessage();

    const fs::path backup = folder() / "copia.velmorabackup";
    platform_.answerNextSavePanel(backup);
    QTest::mouseClick(&child<QPushButton>("exportBackup"), Qt::LeftButton);
    ASSERT_EQ(platform_.savePanels().size(), 1u);
    EXPECT_EQ(platform_.savePanels().back().parent, &window);
    EXPECT_EQ(platform_.savePanels().back().kind, FileKind::backup);
    ASSERT_TRUE(store().message());
    EXPECT_TRUE(store().message()->startsWith("Copia guardada.")) << store().message()->toStdString();
    EXPECT_EQ(store().messageKind(), AlertKind::information);
    EXPECT_EQ(store().messageWindow(), &window);
    store().clearMessage();

    platform_.answerNextOpenPanel(backup);
    platform_.answerNextAlert(QStringLiteral("Restaurar"));
    QTest::mouseClick(&child<QPushButton>("restoreBackup"), Qt::LeftButton);
    EXPECT_EQ(platform_.openPanels().back().parent, &window);
    ASSERT_FALSE(platform_.alerts().empty());
    EXPECT_EQ(platform_.alerts().back().message, "¿Restaurar esta copia?");
    EXPECT_EQ(platform_.alerts().back().parent, &window);
    ASSERT_TRUE(store().message());
    EXPECT_TRUE(store().message()->startsWith("Copia restaurada.")) << store().message()->toStdString();
    EXPECT_EQ(store().messageKind(), AlertKind::information);
    EXPECT_EQ(store().messageWindow(), &window);
    store().clearMessage();

    platform_.setOpenSucceeds(false);
    QTest::mouseClick(&child<QPushButton>("openDataFolder"), Qt::LeftButton);
    ASSERT_TRUE(store().message());
    EXPECT_EQ(store().messageWindow(), &window);
    EXPECT_EQ(store().messageKind(), AlertKind::warning);
    store().clearMessage();

    // What the rest of the application reports stays with the main window.
    store().setMessage(QStringLiteral("Aviso"));
    EXPECT_EQ(store().messageWindow(), nullptr);
}

TEST_F(SettingsWindowTest, ClosingWithEditsNotSavedAsksBeforeDiscardingThem) {
    SettingsWindow& window = open();
    window.close();
    EXPECT_FALSE(window.isVisible()) << "nothing to lose, nothing asked";
    EXPECT_TRUE(platform_.alerts().empty());

    window.present();
    type("footer", "Vuelve pronto");
    // Escape asks, over the window; an alert dismissed without a choice keeps everything.
    QTest::keyClick(&child<QLineEdit>("footer"), Qt::Key_Escape);
    ASSERT_EQ(platform_.alerts().size(), 1u);
    EXPECT_EQ(platform_.alerts()[0].message, discardQuestion);
    EXPECT_EQ(platform_.alerts()[0].buttons, (QStringList{discard, QStringLiteral("Cancelar")}));
    EXPECT_EQ(platform_.alerts()[0].parent, &window);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.edited().footer, "Vuelve pronto");

    platform_.answerNextAlert(QStringLiteral("Cancelar"));
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(platform_.alerts().size(), 2u);

    platform_.answerNextAlert(discard);
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
    window.present();
    EXPECT_EQ(child<QLineEdit>("footer").text(), "Gracias por tu pedido");

    // Saved edits are not asked about.
    type("footer", "Hasta pronto");
    save();
    const std::size_t asked = platform_.alerts().size();
    EXPECT_TRUE(window.close());
    EXPECT_EQ(platform_.alerts().size(), asked);
}

TEST_F(SettingsWindowTest, TheUnsavedNoticeKeepsItsGreyThroughEveryEdit) {
    SettingsWindow& window = open();
    auto& notice = child<QLabel>("saveStatus");
    const QColor grey = notice.palette().color(QPalette::WindowText);
    EXPECT_NE(grey, window.palette().color(QPalette::WindowText));
    EXPECT_NE(grey, window.palette().color(QPalette::Window));
    EXPECT_EQ(grey, velmora::secondaryTextColor(window));
    QTest::keyClicks(&child<QLineEdit>("footer"), "abcdefghij");
    EXPECT_EQ(notice.palette().color(QPalette::WindowText), grey);

    save();
    EXPECT_EQ(status(), "Ajustes guardados");
    EXPECT_EQ(notice.palette().color(QPalette::WindowText), window.palette().color(QPalette::WindowText));
    QTest::keyClicks(&child<QLineEdit>("footer"), "k");
    EXPECT_EQ(status(), unsaved);
    EXPECT_EQ(notice.palette().color(QPalette::WindowText), grey);
}

// Waits until the main window has shown `count` alerts.
bool alertsShown(const TestPlatformServices& platform, std::size_t count) {
    return QTest::qWaitFor([&] { return platform.alerts().size() >= count; }, 3000);
}

TEST(SettingsInTheApplication, ItsMessagesOpenOverItWhileItIsOpen) {
    TemporaryDirectory temporary;
    TestPlatformServices platform;
    velmora::VelmoraApp app(platform, temporary.path(), Clock::fixed(friday));
    app.show();
    app.openSettings();
    SettingsWindow& settings = app.settingsWindow();
    auto* business = settings.findChild<QLineEdit*>(QStringLiteral("business"));
    auto* save = settings.findChild<QPushButton*>(QStringLiteral("saveSettings"));
    auto* exportBackup = settings.findChild<QPushButton*>(QStringLiteral("exportBackup"));
    ASSERT_TRUE(business && save && exportBackup);

    business->clear();
    QTest::mouseClick(save, Qt::LeftButton);
    ASSERT_TRUE(alertsShown(platform, 1));
    EXPECT_EQ(platform.alerts().back().message, refusal);
    EXPECT_EQ(platform.alerts().back().parent, &settings);
    EXPECT_EQ(platform.alerts().back().kind, AlertKind::warning);

    business->setText(QStringLiteral("Pizzería Sol"));
    platform.answerNextSavePanel(temporary.path() / "copia.velmorabackup");
    QTest::mouseClick(exportBackup, Qt::LeftButton);
    ASSERT_TRUE(alertsShown(platform, 2));
    EXPECT_TRUE(platform.alerts().back().message.startsWith("Copia guardada."));
    EXPECT_EQ(platform.alerts().back().parent, &settings);
    EXPECT_EQ(platform.alerts().back().kind, AlertKind::information);

    // Closed (its edits discarded), the main window takes the alerts again.
    platform.answerNextAlert(discard);
    settings.close();
    ASSERT_FALSE(settings.isVisible());
    EXPECT_EQ(platform.alerts().back().message, discardQuestion);
    app.store().setMessage(QStringLiteral("Aviso"));
    ASSERT_TRUE(alertsShown(platform, 4));
    EXPECT_EQ(platform.alerts().back().parent, &app.window());
}

TEST(SettingsInTheApplication, QuittingWithEditsNotSavedAsksAndCanStay) {
    TemporaryDirectory temporary;
    TestPlatformServices platform;
    velmora::VelmoraApp app(platform, temporary.path(), Clock::fixed(friday));
    app.show();
    app.openSettings();
    auto* business = app.settingsWindow().findChild<QLineEdit*>(QStringLiteral("business"));
    ASSERT_TRUE(business);
    business->setText(QStringLiteral("Sin guardar"));

    platform.answerNextAlert(QStringLiteral("Cancelar"));
    EXPECT_FALSE(app.window().close());
    EXPECT_TRUE(app.window().isVisible());
    EXPECT_TRUE(app.settingsWindow().isVisible());
    ASSERT_EQ(platform.alerts().size(), 1u);
    EXPECT_EQ(platform.alerts()[0].message, discardQuestion);
    EXPECT_EQ(platform.alerts()[0].parent, &app.settingsWindow());
    EXPECT_EQ(app.settingsWindow().edited().business, "Sin guardar");

    // Discarding them closes both windows, and the application ends.
    platform.answerNextAlert(discard);
    QTimer::singleShot(0, &app.window(), &QWidget::close);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    guard.start(10'000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(app.settingsWindow().isVisible());
    EXPECT_EQ(app.store().db().settings.business, "Mi restaurante");
}

// Not a check: writes what the window looks like for a person to look at, when asked to.
TEST_F(SettingsWindowTest, Screenshot) {
    const char* folder = std::getenv("VELMORA_SCREENSHOTS");
    if (!folder) GTEST_SKIP() << "set VELMORA_SCREENSHOTS to a folder to get the pictures";
    const std::string logo = pngFile(160, 80);
    changeStored([&](pizzacore::Settings& settings) {
        settings.business = "Pizzería Sol";
        settings.taxID = "B12345678";
        settings.phone = "928 000 111";
        settings.address = "Calle Mayor 3, Las Palmas";
        settings.logo = pizzacore::Bytes(logo.begin(), logo.end());
        settings.printer = "Barra-58";
        settings.paper = pizzacore::Paper::mm80;
    });
    open();
    for (int tab = 0; tab < 4; ++tab) {
        child<QTabWidget>("settingsTabs").setCurrentIndex(tab);
        // The pages of the preview are drawn in the background.
        QTest::qWait(400);
        window_->grab().save(QString::fromLocal8Bit(folder) + QStringLiteral("/ajustes-%1.png").arg(tab));
    }
}

} // namespace
