// The invoicing screens on real data directories: proposals prepared from orders or from scratch,
// the invoice editor's kinds, prices and rates, the fiscal configuration's rates and declaration,
// and proposal PDFs saved where the operator chooses and read back by an independent PDF reader.

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Stores/InvoiceDocuments.hpp>
#include <Velmora/Views/Fiscal/FiscalSettingsView.hpp>
#include <Velmora/Views/Fiscal/FiscalView.hpp>
#include <Velmora/Views/Fiscal/InvoiceEditor.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/RowActions.hpp>
#include <support/TestFiles.hpp>

#include "ScreenTesting.hpp"

#include <PizzaCore/PizzaCore.hpp>

#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;
using pizzacore::Instant;
using pizzacore::testing::writeFile;
using velmora::AppStore;
using namespace velmora::testing;

// The invoicing screens start on an empty data folder, as at the first start; each test adds the
// orders it invoices.
class FiscalScreensTest : public ScreenTest {
protected:
    FiscalScreensTest() { start_ = Start::emptyFolder; }

    // A confirmed order of two pizzas at 10,00 € with a 10 % rate and a drink without rate.
    pizzacore::Order confirmedOrder() {
        pizzacore::Product pizza;
        pizza.name = "Margarita";
        pizza.cents = 1000;
        pizza.taxRate = 1000;
        pizzacore::Product drink;
        drink.name = "Agua";
        drink.cents = 150;
        drink.category = pizzacore::Category::drink();
        pizzacore::Draft draft;
        draft.lines = {pizzacore::Line::make(pizza), pizzacore::Line::make(drink)};
        draft.lines[0].quantity = 2;
        pizzacore::Order order;
        const Instant now = *now_;
        EXPECT_TRUE(store_->transact([&](pizzacore::Database& db) {
            db.saveProduct(pizza, now);
            db.saveProduct(drink, now);
            order = db.confirm(draft, now);
        }));
        return order;
    }

    std::vector<pizzacore::InvoiceProposal> storedProposals() const {
        return store_->db().fiscalState().proposals;
    }
};

TEST_F(FiscalScreensTest, AProposalFromAnOrderIsSavedAndListedNewestFirstWithItsTotal) {
    velmora::FiscalView view(*store_);
    EXPECT_EQ(view.proposals().rowCount(), 0);

    const pizzacore::Order order = confirmedOrder();
    pizzacore::InvoiceProposal fromOrder = store_->db().invoiceProposalFor(order, *now_);
    velmora::InvoiceEditor editor(*store_, fromOrder);
    ASSERT_EQ(editor.findChildren<QLineEdit*>(QStringLiteral("price")).size(), 2);
    EXPECT_EQ(child<QLineEdit>(editor, "recipientName").text(), "");
    // The drink has no rate: no breakdown until every line has one, and saving is decided by the
    // archive's rules.
    EXPECT_EQ(child<QLabel>(editor, "totals").text(),
              "Selecciona el impuesto de todos los conceptos para calcular el desglose.");
    auto rates = editor.findChildren<QComboBox*>(QStringLiteral("rate"));
    ASSERT_EQ(rates.size(), 2);
    EXPECT_EQ(rates[0]->currentText(), "10.00 %");
    rates[1]->setCurrentIndex(rates[1]->findData(qlonglong{2100}));
    EXPECT_TRUE(child<QLabel>(editor, "totals").text().contains("Total: 21,50 EUR"));
    child<QPushButton>(editor, "saveProposal").click();
    written();
    EXPECT_EQ(editor.error(), "");
    ASSERT_EQ(storedProposals().size(), 1u);
    EXPECT_EQ(storedProposals()[0].orderID, order.id);

    *now_ = Instant{friday.seconds + 3600};
    velmora::FiscalView refreshed(*store_);
    refreshed.newProposal();
    auto* fresh = refreshed.findChild<velmora::InvoiceEditor*>();
    ASSERT_NE(fresh, nullptr);
    child<QPushButton>(*fresh, "addLine").click();
    child<QLineEdit>(*fresh, "description").setText("Catering");
    child<QLineEdit>(*fresh, "price").setText("40");
    auto& rate = child<QComboBox>(*fresh, "rate");
    rate.setCurrentIndex(rate.findData(qlonglong{1000}));
    child<QPushButton>(*fresh, "saveProposal").click();
    written();
    ASSERT_EQ(storedProposals().size(), 2u);

    ASSERT_EQ(view.proposals().rowCount(), 2);
    const auto first = view.proposals().index(0);
    EXPECT_EQ(first.data(velmora::ProposalsModel::TitleRole).toString(),
              "Factura completa · Sin destinatario");
    EXPECT_EQ(first.data(velmora::ProposalsModel::TotalRole).toString(), "40,00 EUR");
    EXPECT_EQ(view.proposals().index(1).data(velmora::ProposalsModel::TotalRole).toString(), "21,50 EUR");
    view.resize(1000, 700);
    view.grab().save(QStringLiteral("/tmp/velmora-fiscal-list.png"));
    velmora::InvoiceEditor reopened(*store_, storedProposals()[0]);
    reopened.grab().save(QStringLiteral("/tmp/velmora-invoice-editor.png"));
}

TEST_F(FiscalScreensTest, ASavedProposalSaysSoAndItsRowNamesTheOrderItCameFrom) {
    const pizzacore::Order order = confirmedOrder();
    pizzacore::InvoiceProposal fromOrder = store_->db().invoiceProposalFor(order, *now_);
    fromOrder.lines[1].rate = 2100;
    velmora::FiscalView view(*store_);
    velmora::InvoiceEditor editor(*store_, fromOrder);
    // Cancelar, then the prominent save at the right, as on every sheet.
    auto& cancel = child<QPushButton>(editor, "cancel");
    auto& save = child<QPushButton>(editor, "saveProposal");
    editor.show();
    EXPECT_LT(cancel.mapTo(&editor, QPoint()).x(), save.mapTo(&editor, QPoint()).x());
    EXPECT_TRUE(save.isDefault());
    save.click();
    written();
    ASSERT_EQ(storedProposals().size(), 1u);
    EXPECT_EQ(store_->message(), "Propuesta guardada. No tiene validez fiscal ni consume numeración.");
    EXPECT_EQ(store_->messageKind(), velmora::AlertKind::information);
    ASSERT_EQ(view.proposals().rowCount(), 1);
    const QString detail = view.proposals().index(0).data(velmora::ProposalsModel::DetailRole).toString();
    EXPECT_TRUE(detail.startsWith("Propuesta · ")) << detail.toStdString();
    EXPECT_TRUE(detail.endsWith(" · Pedido #" + QString::number(order.number))) << detail.toStdString();
}

TEST_F(FiscalScreensTest, TheIssuerIsProposedFromTheBusinessDataUntilTheFiscalSettingsNameIt) {
    ASSERT_TRUE(store_->transact([](pizzacore::Database& db) {
        db.settings.business = "Pizzería Sol";
        db.settings.taxID = "B12345678";
        db.settings.address = "Calle Mayor 3, Las Palmas";
    }));
    {
        velmora::FiscalSettingsView sheet(*store_);
        EXPECT_EQ(child<QLineEdit>(sheet, "issuerName").text(), "Pizzería Sol");
        EXPECT_EQ(child<QLineEdit>(sheet, "issuerTaxID").text(), "B12345678");
        EXPECT_EQ(child<QLineEdit>(sheet, "issuerAddress").text(), "Calle Mayor 3, Las Palmas");
        auto& close = child<QPushButton>(sheet, "close");
        auto& save = child<QPushButton>(sheet, "saveSettings");
        sheet.show();
        EXPECT_LT(close.mapTo(&sheet, QPoint()).x(), save.mapTo(&sheet, QPoint()).x());
        child<QLineEdit>(sheet, "issuerName").setText("Sol Restauración S.L.");
        save.click();
        written();
        EXPECT_EQ(sheet.error(), "");
    }
    const pizzacore::FiscalSettings saved = store_->db().fiscalState().settings;
    EXPECT_EQ(saved.issuerName, "Sol Restauración S.L.");
    EXPECT_EQ(saved.issuerTaxID, "B12345678");
    // What the fiscal settings hold wins over the business data from then on.
    velmora::FiscalSettingsView again(*store_);
    EXPECT_EQ(child<QLineEdit>(again, "issuerName").text(), "Sol Restauración S.L.");
}

TEST_F(FiscalScreensTest, ProposalsShowTheirTimeWithTwoDigitHours) {
    // 09:05 on this computer's clock, whatever its zone.
    const QDateTime morning(QDate(2025, 3, 8), QTime(9, 5));
    *now_ = Instant::fromUnix(static_cast<double>(morning.toSecsSinceEpoch()));
    velmora::FiscalView view(*store_);
    view.newProposal();
    auto* editor = view.findChild<velmora::InvoiceEditor*>();
    ASSERT_NE(editor, nullptr);
    child<QPushButton>(*editor, "addLine").click();
    child<QLineEdit>(*editor, "description").setText("Catering");
    child<QLineEdit>(*editor, "price").setText("40");
    auto& rate = child<QComboBox>(*editor, "rate");
    rate.setCurrentIndex(rate.findData(qlonglong{1000}));
    child<QPushButton>(*editor, "saveProposal").click();
    written();
    ASSERT_EQ(view.proposals().rowCount(), 1);
    const QString detail = view.proposals().index(0).data(velmora::ProposalsModel::DetailRole).toString();
    EXPECT_TRUE(detail.endsWith(", 09:05")) << detail.toStdString();
}

TEST_F(FiscalScreensTest, RectifyingKindsAskForTheInvoiceAndReasonAndAllowNegativeQuantities) {
    pizzacore::InvoiceProposal proposal;
    proposal.lines.emplace_back();
    velmora::InvoiceEditor editor(*store_, proposal);
    editor.show();
    auto& kind = child<QComboBox>(editor, "kind");
    auto& quantity = child<QSpinBox>(editor, "quantity");
    EXPECT_FALSE(child<QComboBox>(editor, "correctionOf").isVisible());
    EXPECT_EQ(quantity.minimum(), 1);
    EXPECT_EQ(quantity.maximum(), 999);
    EXPECT_EQ(quantity.prefix(), "Cantidad: ");

    kind.setCurrentIndex(kind.findText("Factura rectificativa"));
    EXPECT_TRUE(child<QComboBox>(editor, "correctionOf").isVisible());
    EXPECT_TRUE(child<QLineEdit>(editor, "reason").isVisible());
    EXPECT_EQ(child<QComboBox>(editor, "correctionOf").itemText(0), "Selecciona una factura emitida");
    EXPECT_EQ(quantity.minimum(), -999);
    quantity.setValue(-2);
    EXPECT_EQ(editor.proposal().lines[0].quantity, -2);
    EXPECT_EQ(editor.proposal().kind, pizzacore::InvoiceKind::correction);

    kind.setCurrentIndex(kind.findText("Factura simplificada"));
    EXPECT_FALSE(child<QComboBox>(editor, "correctionOf").isVisible());
    EXPECT_EQ(quantity.value(), 1);
}

TEST_F(FiscalScreensTest, BadPricesAndMissingRatesAreRefusedWithTheCoresMessageAndNothingSaved) {
    const std::string before = pizzacore::testing::readFile(dataFolder() / "Velmora.json");
    pizzacore::InvoiceProposal proposal;
    proposal.lines.emplace_back();
    proposal.lines[0].description = "Menú";
    proposal.lines[0].rate = 1000;
    velmora::InvoiceEditor editor(*store_, proposal);
    child<QLineEdit>(editor, "price").setText("12,345");
    child<QPushButton>(editor, "saveProposal").click();
    written();
    EXPECT_EQ(editor.error(), "Escribe un importe positivo con un máximo de dos decimales.");

    child<QLineEdit>(editor, "price").setText("12,50");
    auto& rate = child<QComboBox>(editor, "rate");
    rate.setCurrentIndex(rate.findText("Sin configurar"));
    child<QPushButton>(editor, "saveProposal").click();
    written();
    EXPECT_EQ(editor.error(), "Revisa los conceptos, cantidades, precios e impuestos.");

    EXPECT_TRUE(storedProposals().empty());
    EXPECT_EQ(pizzacore::testing::readFile(dataFolder() / "Velmora.json"), before);
}

TEST_F(FiscalScreensTest, RatesAreReadAsAmountsAndShownBackWithCommas) {
    struct Case {
        const char* typed;
        std::vector<std::int64_t> stored;
        const char* shown;
    };
    for (const Case& c : {Case{"4; 10; 21", {400, 1000, 2100}, "4,00; 10,00; 21,00"},
                          Case{"4; 10;; 21", {400, 1000, 2100}, "4,00; 10,00; 21,00"},
                          Case{"21,00", {2100}, "21,00"}, Case{"5,5", {550}, "5,50"}}) {
        SCOPED_TRACE(c.typed);
        velmora::FiscalSettingsView sheet(*store_);
        child<QLineEdit>(sheet, "rates").setText(QString::fromUtf8(c.typed));
        child<QLineEdit>(sheet, "country").setText(" es\n");
        child<QLineEdit>(sheet, "currency").setText(" eur ");
        child<QPushButton>(sheet, "saveSettings").click();
        written();
        EXPECT_EQ(sheet.error(), "");
        const pizzacore::FiscalSettings saved = store_->db().fiscalState().settings;
        EXPECT_EQ(saved.rates, c.stored);
        EXPECT_EQ(saved.country, "ES");
        EXPECT_EQ(saved.currency, "EUR");
        velmora::FiscalSettingsView again(*store_);
        EXPECT_EQ(child<QLineEdit>(again, "rates").text(), QString::fromUtf8(c.shown));
    }

    const pizzacore::FiscalSettings before = store_->db().fiscalState().settings;
    velmora::FiscalSettingsView sheet(*store_);
    child<QLineEdit>(sheet, "rates").setText("4; diez");
    child<QPushButton>(sheet, "saveSettings").click();
    written();
    EXPECT_EQ(sheet.error(), "Escribe un importe positivo con un máximo de dos decimales.");
    EXPECT_EQ(store_->db().fiscalState().settings, before);
}

TEST_F(FiscalScreensTest, TheDeclarationIsAPdfOfAtMostTenMegabytes) {
    const fs::path exact = dataFolder() / "exacta.pdf";
    const fs::path over = dataFolder() / "grande.pdf";
    const fs::path png = dataFolder() / "declaracion.png";
    std::string content = "%PDF-1.4\n";
    content.resize(10'000'000, ' ');
    writeFile(exact, content);
    writeFile(over, content + " ");
    writeFile(png, "\x89PNG\r\n\x1a\n");

    velmora::FiscalSettingsView sheet(*store_);
    for (const fs::path& refused : {over, png, dataFolder() / "no-existe.pdf", dataFolder()}) {
        SCOPED_TRACE(refused.string());
        platform_.answerNextOpenPanel(refused);
        sheet.attachDeclaration();
        EXPECT_EQ(sheet.error(), "Elige un PDF de hasta 10 MB.");
        EXPECT_FALSE(sheet.editedSettings().declaration);
    }
    platform_.answerNextOpenPanel(std::nullopt);
    sheet.attachDeclaration();
    EXPECT_FALSE(sheet.editedSettings().declaration);

    platform_.answerNextOpenPanel(exact);
    sheet.attachDeclaration();
    EXPECT_EQ(sheet.error(), "");
    ASSERT_TRUE(sheet.editedSettings().declaration);
    EXPECT_EQ(sheet.editedSettings().declaration->size(), 10'000'000u);
    child<QPushButton>(sheet, "saveSettings").click();
    written();
    ASSERT_TRUE(store_->db().fiscalState().settings.declaration);
    EXPECT_EQ(store_->db().fiscalState().settings.declaration->size(), 10'000'000u);
}

TEST_F(FiscalScreensTest, AProposalPdfIsSavedUnderItsSuggestedNameAndOpens) {
    pizzacore::InvoiceProposal proposal;
    proposal.id = *pizzacore::Uuid::parse("3F2504E0-4F89-11D3-9A0C-0305E82C3301");
    proposal.lines.emplace_back();
    proposal.lines[0].description = "Menú del día";
    proposal.lines[0].unitGross = 1250;
    proposal.lines[0].rate = 1000;
    EXPECT_EQ(velmora::InvoiceDocuments::proposedFileName(proposal),
              "Propuesta-sin-validez-fiscal-3F2504E0.pdf");

    const fs::path target = dataFolder() / "propuesta.pdf";
    // Written for its owner only, also over a file others could read.
    writeFile(target, "antigua");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                fs::perms::others_read);
    platform_.answerNextSavePanel(target);
    velmora::InvoiceDocuments::saveProposal(proposal, store_->db().fiscalState().settings, *store_);
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(platform_.savePanels().size(), 1u);
    EXPECT_EQ(platform_.savePanels()[0].proposedName, "Propuesta-sin-validez-fiscal-3F2504E0.pdf");
    EXPECT_EQ(platform_.savePanels()[0].kind, velmora::FileKind::pdf);
    ASSERT_EQ(platform_.opened(), std::vector<fs::path>{target});
    EXPECT_FALSE(store_->message());

    // Saved, but the desktop could not open it: the operator is told, not left waiting.
    platform_.setOpenSucceeds(false);
    platform_.answerNextSavePanel(target);
    velmora::InvoiceDocuments::saveProposal(proposal, store_->db().fiscalState().settings, *store_);
    EXPECT_EQ(store_->message(), "El PDF se ha guardado, pero el sistema no ha podido abrirlo.");
    EXPECT_TRUE(fs::exists(target));
    platform_.setOpenSucceeds(true);
    store_->clearMessage();

    QProcess reader;
    reader.start(QStringLiteral("pdftotext"), {QString::fromStdString(target.string()), QStringLiteral("-")});
    ASSERT_TRUE(reader.waitForFinished(30'000));
    EXPECT_EQ(reader.exitCode(), 0);
    const QString text = QString::fromUtf8(reader.readAllStandardOutput());
    EXPECT_TRUE(text.contains("PROPUESTA · SIN VALIDEZ FISCAL")) << text.toStdString();
    EXPECT_TRUE(text.contains("TOTAL PROPUESTO: 12,50 EUR")) << text.toStdString();

    // A cancelled panel writes nothing; an invalid proposal is refused before any panel.
    platform_.answerNextSavePanel(std::nullopt);
    velmora::InvoiceDocuments::saveProposal(proposal, store_->db().fiscalState().settings, *store_);
    proposal.lines[0].rate = -1;
    velmora::InvoiceDocuments::saveProposal(proposal, store_->db().fiscalState().settings, *store_);
    EXPECT_EQ(platform_.savePanels().size(), 3u);
    EXPECT_EQ(store_->message(), "Revisa los conceptos, cantidades, precios e impuestos.");
}

TEST_F(FiscalScreensTest, ProposalRowActionsAreReachableByButtonKeyboardMenuAndScreenReader) {
    using velmora::testing::openSheet;
    pizzacore::InvoiceProposal proposal = store_->db().invoiceProposalFor(confirmedOrder(), *now_);
    proposal.lines[1].rate = 2100;
    ASSERT_TRUE(store_->transact([&](pizzacore::Database& db) { db.saveInvoiceProposal(proposal, *now_); }));
    velmora::FiscalView view(*store_);
    view.resize(1000, 700);
    view.show();
    QApplication::setActiveWindow(&view);
    QListView& list = view.list();
    list.setFocus();
    list.setCurrentIndex(view.proposals().index(0));
    velmora::testing::settle();
    const auto closeEditor = [&] {
        velmora::InvoiceEditor* editor = openSheet<velmora::InvoiceEditor>(view);
        if (editor) editor->reject();
        velmora::testing::settle();
        return editor != nullptr;
    };

    // The drawn button and Return.
    velmora::testing::clickRowButton(list, view.rowActions(), 0, velmora::FiscalView::editAction);
    EXPECT_TRUE(closeEditor()) << "the button \"Editar\"";
    QTest::keyClick(&list, Qt::Key_Return);
    EXPECT_TRUE(closeEditor()) << "Return";

    // The menu key lists both; "PDF de propuesta…" saves the PDF where the operator chooses.
    QTest::keyClick(&list, Qt::Key_Menu);
    QMenu* menu = velmora::testing::openRowMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(velmora::testing::menuEntries(*menu), (QStringList{"Editar", "PDF de propuesta…"}));
    const fs::path target = dataFolder() / "propuesta.pdf";
    platform_.answerNextSavePanel(target);
    velmora::testing::chooseFromMenu(*menu, QStringLiteral("PDF de propuesta…"));
    velmora::testing::settle();
    ASSERT_EQ(platform_.savePanels().size(), 1u);
    EXPECT_TRUE(fs::exists(target));
    EXPECT_FALSE(store_->message());

    // A screen reader finds the proposal by its title and total and runs the same actions.
    QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(&list);
    ASSERT_NE(rows, nullptr);
    ASSERT_EQ(rows->childCount(), 1);
    EXPECT_EQ(rows->child(0)->text(QAccessible::Name), "Factura completa · Sin destinatario, 21,50 EUR");
    EXPECT_EQ(velmora::testing::accessibleActions(list, 0),
              (QStringList{"Editar", "PDF de propuesta…", QAccessibleActionInterface::showMenuAction(),
                           QAccessibleActionInterface::setFocusAction()}));
    velmora::testing::doAccessibleAction(list, 0, QStringLiteral("Editar"));
    EXPECT_TRUE(closeEditor()) << "the accessible action \"Editar\"";
}

TEST_F(FiscalScreensTest, RequirementsExplainWhatIsMissingAndTheCountersShowTheArchive) {
    velmora::FiscalView view(*store_);
    EXPECT_EQ(child<QLabel>(view, "counters").text(), "0 facturas emitidas · 0 eventos fiscales");
    child<QPushButton>(view, "requirements").click();
    ASSERT_TRUE(store_->message());
    EXPECT_TRUE(
        store_->message()->startsWith(QString::fromUtf8(pizzacore::FiscalRules::pendingValidation.data(),
                                                        pizzacore::FiscalRules::pendingValidation.size()) +
                                      "\n\nEl perfil español debe concretar territorio y régimen."));
    view.resize(1000, 700);
    view.grab().save(QStringLiteral("/tmp/velmora-fiscal-view.png"));
}

} // namespace
