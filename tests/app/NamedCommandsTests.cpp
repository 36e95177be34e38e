// The controller's named commands and the sheets that run them without waiting: each command's
// audit entry, refusals that come back to the editor that asked and nowhere else, failures that
// reach the alert even when nobody is left to show them, and sheets closed while their change is
// written, which are never called back and lose nothing.

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Checkout/CheckoutView.hpp>
#include <Velmora/Views/Customers/CustomersView.hpp>
#include <Velmora/Views/Fiscal/FiscalSettingsView.hpp>
#include <Velmora/Views/Orders/CancelOrderDialog.hpp>
#include <Velmora/Views/Products/CategoriesView.hpp>
#include <Velmora/Views/Products/ProductEditor.hpp>
#include <Velmora/Views/Shared/ThumbnailCache.hpp>

#include "ScreenTesting.hpp"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::testing {
namespace {

using pizzacore::Database;

std::size_t count(const Database& db, const std::string& action) {
    return static_cast<std::size_t>(std::count_if(
        db.audit.begin(), db.audit.end(), [&](const pizzacore::Audit& a) { return a.action == action; }));
}

class NamedCommands : public ScreenTest {
protected:
    void prepare(Database& db) override {
        pizza_ = product(db, "Margarita", 1050);
        card_ = customer(db, "Ana Pérez", "612 345 678");
        order_ = order(db, pizza_, card_, {}, std::nullopt);
    }

    // Runs a command and lets the window run until its outcome is back.
    template <class Command>
    std::optional<Outcome> run(Command command) {
        QObject context;
        std::optional<Outcome> outcome;
        command(&context, [&](const Outcome& given) { outcome = given; });
        store().flush();
        settle();
        return outcome;
    }

    pizzacore::Product pizza_;
    pizzacore::Customer card_;
    pizzacore::Order order_;
};

TEST_F(NamedCommands, RemovingACardOrAProductRecordsItsAuditEntryAndKeepsTheOrders) {
    ASSERT_TRUE(store().deleteCustomer(card_));
    ASSERT_TRUE(store().deleteProduct(pizza_));
    const Database stored = reloaded();
    EXPECT_TRUE(stored.customers.empty());
    EXPECT_TRUE(stored.products.empty());
    ASSERT_GE(stored.audit.size(), 2u);
    EXPECT_EQ(stored.audit[stored.audit.size() - 2].action, "Eliminar cliente");
    EXPECT_EQ(stored.audit[stored.audit.size() - 2].reference, card_.id.text());
    EXPECT_EQ(stored.audit.back().action, "Eliminar producto");
    EXPECT_EQ(stored.audit.back().reference, pizza_.id.text());
    // The order keeps its own copy of the card's data and of its line.
    ASSERT_EQ(stored.orders.size(), 1u);
    EXPECT_EQ(stored.orders[0], order_);
    EXPECT_EQ(stored, store().db());
}

TEST_F(NamedCommands, APrintAttemptIsCountedOnDiskAndAnOrderNoLongerStoredChangesNothing) {
    const auto counted = run([&](QObject* context, AppStore::Then then) {
        store().countPrintAttempt(order_.id, context, std::move(then));
    });
    ASSERT_TRUE(counted);
    EXPECT_TRUE(*counted);
    Database stored = reloaded();
    EXPECT_EQ(stored.orders[0].printAttempts, 1);
    EXPECT_EQ(stored.audit.back().action, "Intento de impresión");
    EXPECT_EQ(stored.audit.back().reference, std::to_string(order_.number));

    const Database before = store().db();
    const auto missing = run([&](QObject* context, AppStore::Then then) {
        store().countPrintAttempt(pizzacore::Uuid::random(), context, std::move(then));
    });
    ASSERT_TRUE(missing);
    EXPECT_TRUE(*missing);
    EXPECT_EQ(store().db(), before);
    EXPECT_EQ(reloaded(), before);
    EXPECT_FALSE(store().message());
}

TEST_F(NamedCommands, AnEditorsRefusalComesBackToItAloneAndWritesNothing) {
    const Database before = store().db();
    pizzacore::Customer taken;
    taken.name = "Luis";
    taken.phone = "+34 612 34 56 78"; // Ana's telephone
    const auto outcome = run([&](QObject* context, AppStore::Then then) {
        store().saveCustomer(taken, context, std::move(then));
    });
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(outcome->ok);
    EXPECT_TRUE(outcome->refused);
    EXPECT_EQ(outcome->failure, "Ese teléfono ya pertenece a otro cliente.");
    EXPECT_FALSE(store().message()) << "the editor shows the refusal in its own line";
    EXPECT_EQ(store().db(), before);
    EXPECT_EQ(reloaded(), before);

    // Other commands' refusals are the alert's.
    pizzacore::Category only = store().db().categories[0];
    const auto stale = run([&](QObject* context, AppStore::Then then) {
        store().deleteCategory(only, context, std::move(then));
    });
    ASSERT_TRUE(stale);
    EXPECT_FALSE(stale->ok);
    EXPECT_EQ(store().message().value_or(QString()), "Traslada primero los productos a otra categoría.");
}

TEST_F(NamedCommands, ARefusalForAnEditorClosedMeanwhileGoesToTheAlert) {
    pizzacore::Customer blank;
    blank.phone = "600 111 222";
    auto editor = std::make_unique<QObject>();
    bool called = false;
    store().saveCustomer(blank, editor.get(), [&](const Outcome&) { called = true; });
    editor.reset();
    store().flush();
    settle();
    EXPECT_FALSE(called);
    EXPECT_EQ(store().message().value_or(QString()), "Indica nombre y un teléfono válido (7–15 cifras).");
}

TEST(NamedCommandsFatal, AFailureToWriteIsNeverLeftToTheEditor) {
    pizzacore::testing::TemporaryDirectory directory;
    pizzacore::testing::writeFile(directory.path() / "Velmora.json", "{ no es un documento");
    TestPlatformServices platform;
    AppStore store(directory.path(), pizzacore::Clock::fixed(friday), platform);
    store.start();
    ASSERT_TRUE(store.fatal());
    pizzacore::Customer card;
    card.name = "Ana";
    card.phone = "612 345 678";
    CustomerEditor editor(store, card);
    editor.show();
    editor.save();
    store.flush();
    settle();
    EXPECT_EQ(store.message().value_or(QString()), "El almacenamiento no está disponible.");
    EXPECT_EQ(editor.error(), "");
    EXPECT_TRUE(editor.isVisible()) << "nothing was saved, so the sheet stays open";
}

// Each sheet is closed (destroyed) as soon as its save has been asked for, before the change is
// written: the change is still saved, nothing calls the sheet back and nothing goes to the alert.
TEST_F(NamedCommands, SheetsClosedWhileTheirChangeIsWrittenLoseNothing) {
    struct Case {
        const char* sheet;
        std::function<QDialog*(QWidget&)> openAndSave;
        std::function<bool(const Database&)> saved;
    };
    const pizzacore::Uuid newCard = pizzacore::Uuid::random();
    const pizzacore::Uuid newProduct = pizzacore::Uuid::random();
    const std::vector<Case> cases = {
        {"ficha de cliente",
         [&](QWidget& parent) {
             pizzacore::Customer card;
             card.id = newCard;
             card.name = "Luis";
             card.phone = "699 111 222";
             auto* editor = new CustomerEditor(store(), card, &parent);
             editor->show();
             editor->save();
             return editor;
         },
         [&](const Database& db) {
             return std::any_of(db.customers.begin(), db.customers.end(),
                                [&](const pizzacore::Customer& c) { return c.id == newCard; });
         }},
        {"producto",
         [&](QWidget& parent) {
             pizzacore::Product made;
             made.id = newProduct;
             made.name = "Calzone";
             made.cents = 1200;
             made.category = store().db().categories[0];
             auto* editor = new ProductEditor(store(), made, &parent);
             editor->show();
             editor->save();
             return editor;
         },
         [&](const Database& db) {
             return std::any_of(db.products.begin(), db.products.end(),
                                [&](const pizzacore::Product& p) { return p.id == newProduct; });
         }},
        {"categoría",
         [&](QWidget& parent) {
             auto* editor = new CategoryEditor(store(), pizzacore::Category::make("Postres", false), &parent);
             editor->show();
             editor->save();
             return editor;
         },
         [&](const Database& db) {
             return std::any_of(db.categories.begin(), db.categories.end(),
                                [](const pizzacore::Category& c) { return c.rawValue == "Postres"; });
         }},
        {"anulación",
         [&](QWidget& parent) {
             auto* dialog = new CancelOrderDialog(store(), order_, &parent);
             dialog->show();
             auto* reason = dialog->findChildren<QLineEdit*>().value(0);
             reason->setText(QStringLiteral("Se fue sin esperar"));
             for (QPushButton* button : dialog->findChildren<QPushButton*>())
                 if (button->text() == QStringLiteral("Anular pedido")) button->click();
             return dialog;
         },
         [&](const Database& db) {
             return db.orders[0].preparation == pizzacore::Preparation::cancelled &&
                    db.orders[0].cancellationReason == "Se fue sin esperar";
         }},
        {"configuración fiscal",
         [&](QWidget& parent) {
             auto* sheet = new FiscalSettingsView(store(), &parent);
             sheet->show();
             sheet->findChild<QLineEdit*>(QStringLiteral("rates"))->setText(QStringLiteral("10; 21"));
             sheet->save();
             return sheet;
         },
         [&](const Database& db) {
             return db.fiscal && db.fiscal->settings.rates == std::vector<std::int64_t>{1000, 2100};
         }},
    };
    QWidget parent;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sheet);
        store().clearMessage();
        ASSERT_FALSE(c.saved(store().db()));
        QPointer<QDialog> sheet = c.openAndSave(parent);
        ASSERT_TRUE(sheet);
        EXPECT_FALSE(c.saved(store().db())) << "the save did not wait for the disk";
        delete sheet.data();
        store().flush();
        settle();
        EXPECT_TRUE(c.saved(store().db()));
        EXPECT_TRUE(c.saved(reloaded()));
        EXPECT_FALSE(store().message()) << store().message().value_or(QString()).toStdString();
    }
}

// A sheet that stays open hears its outcome: closed on success, open with its line on a refusal.
TEST_F(NamedCommands, AnOpenSheetClosesOnSuccessAndKeepsARefusalInItsLine) {
    QWidget parent;
    pizzacore::Customer taken;
    taken.name = "Luis";
    taken.phone = "612 345 678";
    QPointer<CustomerEditor> editor = new CustomerEditor(store(), taken, &parent);
    editor->show();
    editor->save();
    editor->save(); // a second press while the first is written does nothing
    EXPECT_EQ(editor->error(), "") << "the outcome comes from the event loop";
    store().flush();
    settle();
    ASSERT_TRUE(editor);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->error(), "Ese teléfono ya pertenece a otro cliente.");
    EXPECT_FALSE(store().message());

    const std::size_t saves = count(store().db(), "Guardar categoría");
    QPointer<CategoryEditor> category =
        new CategoryEditor(store(), pizzacore::Category::make("Postres", false), &parent);
    category->show();
    category->save();
    category->save();
    store().flush();
    settle();
    EXPECT_FALSE(category && category->isVisible());
    EXPECT_EQ(count(store().db(), "Guardar categoría"), saves + 1) << "saved once";
}

// The checkout closed while its order is confirmed: the order is still confirmed and shown.
TEST_F(NamedCommands, TheCheckoutClosedWhileConfirmingStillConfirmsAndShowsTheOrder) {
    ThumbnailCache thumbnails;
    auto checkout = std::make_unique<CheckoutView>(store(), thumbnails);
    checkout->show();
    store().add(pizza_);
    const std::size_t before = store().db().orders.size();
    QPushButton* confirm = checkout->findChild<QPushButton*>(QStringLiteral("confirmOrder"));
    ASSERT_NE(confirm, nullptr);
    confirm->click();
    EXPECT_FALSE(confirm->isEnabled()) << "one confirmation at a time";
    checkout.reset();
    store().flush();
    settle();
    ASSERT_EQ(store().db().orders.size(), before + 1);
    EXPECT_EQ(store().selectedOrder(), store().db().orders.back().id);
    EXPECT_EQ(store().selectedTab(), "Pedidos");
    EXPECT_TRUE(store().draft().lines.empty());
    EXPECT_EQ(reloaded().orders.size(), before + 1);
}

} // namespace
} // namespace velmora::testing
