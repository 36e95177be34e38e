// The customers screen on real data directories: the three searches, the rows' order counts and
// usual payments (checked against the core's own queries), the card editor with its refusals, the
// removal with its confirmation, "Usar en Caja" and the history sheet.

#include <Velmora/Stores/CustomerSummaries.hpp>
#include <Velmora/Views/Customers/CustomerHistoryView.hpp>
#include <Velmora/Views/Customers/CustomersView.hpp>
#include <support/SyntheticDocument.hpp>

#include "ScreenTesting.hpp"

#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QPushButton>

#include <algorithm>
#include <random>

namespace {

using namespace velmora::testing;
using pizzacore::Customer;
using pizzacore::Database;
using pizzacore::PaymentMethod;
using velmora::CustomerEditor;
using velmora::CustomerHistoryView;
using velmora::CustomersModel;
using velmora::CustomersView;

QStringList names(const CustomersView& view) {
    QStringList shown;
    for (int row = 0; row < view.model().rowCount(); ++row)
        shown << view.model().index(row).data().toString();
    return shown;
}

class CustomersViewTest : public ScreenTest {
protected:
    void prepare(Database& db) override {
        addSample(db);
        jose_ = customer(db, "José García", "612 345 678", "Calle Mayor 3", "Timbre roto");
        ana_ = customer(db, "ana Pérez", "+34 699 111 222", "Avenida del Puerto 12");
        customer(db, "Pizza Club 10", "931112233");
        customer(db, "Pizza Club 9", "931112244", "Plaza Mayor 1");
        // José: two cash payments (one a walk-in order with his telephone written otherwise), one
        // card payment, one unpaid order and one cancelled.
        first_ = order(db, margarita_, jose_, {}, PaymentMethod::cash, friday);
        order(db, margarita_, std::nullopt, "612-34-56-78", PaymentMethod::cash,
              pizzacore::Instant{friday.seconds + 60});
        order(db, margarita_, jose_, {}, PaymentMethod::card, pizzacore::Instant{friday.seconds + 120});
        latest_ = order(db, margarita_, jose_, {}, std::nullopt, pizzacore::Instant{friday.seconds + 180});
        const pizzacore::Order cancelled =
            order(db, margarita_, jose_, {}, std::nullopt, pizzacore::Instant{friday.seconds + 30});
        db.cancel(cancelled.id, "Se equivocó de número", pizzacore::Instant{friday.seconds + 40});
        // An order linked to Ana with José's telephone belongs to Ana only.
        pizzacore::Draft draft;
        draft.customerID = ana_.id;
        draft.name = ana_.name;
        draft.phone = jose_.phone;
        draft.lines.push_back(pizzacore::Line::make(margarita_));
        db.confirm(draft, friday);
        *now_ = pizzacore::Instant{friday.seconds + 600};
    }
    void SetUp() override {
        ScreenTest::SetUp();
        if (HasFatalFailure()) return;
        view_ = std::make_unique<CustomersView>(store());
        view_->resize(1000, 700);
        view_->show();
        settle();
    }

    int rowOf(const QString& name) const { return static_cast<int>(names(*view_).indexOf(name)); }

    Customer jose_;
    Customer ana_;
    pizzacore::Order first_;
    pizzacore::Order latest_;
    std::unique_ptr<CustomersView> view_;
};

TEST_F(CustomersViewTest, EachSearchFieldFindsItsCards) {
    // Nothing typed: every card, in natural order ignoring case.
    EXPECT_EQ(names(*view_), (QStringList{"ana Pérez", "José García", "Pizza Club 9", "Pizza Club 10"}));
    EXPECT_FALSE(view_->showsEmptyMessage());

    struct Case {
        const char* name;
        const char* phone;
        const char* address;
        QStringList expected;
    };
    const std::vector<Case> cases{
        {"jose", "", "", {"José García"}},
        {"  PEREZ ", "", "", {"ana Pérez"}},
        {"", "612-34-56-78", "", {"José García"}},
        {"", "5678", "", {"José García"}},
        {"", "(93) 111", "", {"Pizza Club 9", "Pizza Club 10"}},
        {"", "", "mayor", {"José García", "Pizza Club 9"}},
        {"pizza", "", "mayor", {"Pizza Club 9"}},
        {"", "sin cifras", "", {}},
        {"nadie", "", "", {}},
    };
    for (const Case& c : cases) {
        view_->nameField().setText(QString::fromUtf8(c.name));
        view_->phoneField().setText(QString::fromUtf8(c.phone));
        view_->addressField().setText(QString::fromUtf8(c.address));
        EXPECT_EQ(names(*view_), c.expected) << c.name << " | " << c.phone << " | " << c.address;
        EXPECT_EQ(view_->showsEmptyMessage(), c.expected.isEmpty());
    }
}

TEST_F(CustomersViewTest, RowsShowContactOrderCountAndUsualPayment) {
    const QModelIndex jose = view_->model().index(rowOf("José García"));
    EXPECT_EQ(jose.data(CustomersModel::ContactRole).toString(), "612 345 678 · Calle Mayor 3");
    EXPECT_EQ(jose.data(CustomersModel::NotesRole).toString(), "Timbre roto");
    EXPECT_EQ(jose.data(CustomersModel::OrdersRole).toString(), "5 pedidos");
    EXPECT_EQ(jose.data(CustomersModel::UsualPaymentRole).toString(), "Pago habitual: Efectivo");

    const QModelIndex ana = view_->model().index(rowOf("ana Pérez"));
    EXPECT_EQ(ana.data(CustomersModel::OrdersRole).toString(), "1 pedidos");
    EXPECT_EQ(ana.data(CustomersModel::UsualPaymentRole).toString(), "Pago habitual: Sin datos");
    const QModelIndex club = view_->model().index(rowOf("Pizza Club 10"));
    EXPECT_EQ(club.data(CustomersModel::ContactRole).toString(), "931112233");
    EXPECT_EQ(club.data(CustomersModel::OrdersRole).toString(), "0 pedidos");
    saveScreenshot(*view_, "Velmora-clientes.png");

    // A payment registered later shows in the row at once.
    ASSERT_TRUE(store().transact(
        [this](Database& db) { db.pay(latest_.id, PaymentMethod::card, std::nullopt, *now_); }));
    EXPECT_EQ(view_->model().index(rowOf("José García")).data(CustomersModel::UsualPaymentRole).toString(),
              "Pago habitual: Mixto");
}

TEST(CustomerSummariesTest, AgreeWithTheCoreQueriesForEveryCard) {
    auto shape = pizzacore::testing::DocumentShape::small();
    shape.awkwardText = true;
    for (const std::uint64_t seed : {7u, 2025u}) {
        const Database db = pizzacore::testing::makeDocument(shape, seed);
        const velmora::CustomerSummaries summaries(db);
        for (const Customer& card : db.customers) {
            const auto summary = summaries.summary(card);
            EXPECT_EQ(summary.orders, db.ordersFor(card).size()) << card.name;
            EXPECT_EQ(summary.usualPayment, db.usualPaymentFor(card)) << card.name;
        }
    }
}

// Figures brought up to date change by change agree with figures counted afresh and with the
// core's queries, whatever the changes: orders for cards and for telephones, payments, cancelled
// orders, cards removed.
TEST(CustomerSummariesTest, FollowingChangesAgreesWithCountingAfresh) {
    Database db = pizzacore::testing::makeDocument(pizzacore::testing::DocumentShape::small(), 11);
    velmora::CustomerSummaries followed(db);
    std::mt19937 random(11);
    const pizzacore::Instant now{db.sessions.back().opened.seconds + 60};
    std::vector<pizzacore::Product> active;
    for (const pizzacore::Product& product : db.products)
        if (product.active) active.push_back(product);
    ASSERT_FALSE(active.empty());
    for (int step = 0; step < 60; ++step) {
        SCOPED_TRACE(step);
        ASSERT_FALSE(db.customers.empty());
        const unsigned kind = random() % 5;
        try {
            if (kind < 2) {
                pizzacore::Draft draft;
                const Customer& card = db.customers[random() % db.customers.size()];
                if (random() % 2)
                    draft.customerID = card.id;
                else
                    draft.phone = card.phone;
                draft.lines = {pizzacore::Line::make(active[random() % active.size()])};
                db.confirm(draft, now);
            } else if (kind == 2) {
                const pizzacore::Order& order = db.orders[db.orders.size() - 1 - random() % 20];
                db.pay(order.id, random() % 2 ? PaymentMethod::cash : PaymentMethod::card, std::nullopt, now);
            } else if (kind == 3) {
                db.cancel(db.orders[db.orders.size() - 1 - random() % 5].id, "Prueba", now);
            } else {
                db.deleteCustomer(db.customers[random() % db.customers.size()].id, now);
            }
        } catch (const pizzacore::PCError&) {
            // Refused (already paid, cancelled, closed day): nothing changed.
        }
        followed.update(db);
        const velmora::CustomerSummaries afresh(db);
        for (const Customer& card : db.customers) {
            const auto summary = followed.summary(card);
            EXPECT_EQ(summary.orders, afresh.summary(card).orders) << card.name;
            EXPECT_EQ(summary.usualPayment, afresh.summary(card).usualPayment) << card.name;
            EXPECT_EQ(summary.orders, db.ordersFor(card).size()) << card.name;
            EXPECT_EQ(summary.usualPayment, db.usualPaymentFor(card)) << card.name;
        }
    }
}

TEST_F(CustomersViewTest, TheEditorCreatesACardAndKeepsWhatWasTypedWhenRefused) {
    auto* create = view_->findChild<QPushButton*>(QStringLiteral("newCustomer"));
    ASSERT_NE(create, nullptr);
    EXPECT_EQ(create->accessibleName(), "Nuevo cliente");
    create->click();
    QPointer<CustomerEditor> editor = openSheet<CustomerEditor>(*view_);
    ASSERT_NE(editor, nullptr);
    auto field = [&](const char* name) { return editor->findChild<QLineEdit*>(QString::fromLatin1(name)); };
    for (const char* name : {"name", "phone", "address", "notes"}) {
        ASSERT_NE(field(name), nullptr) << name;
        EXPECT_TRUE(field(name)->text().isEmpty());
    }
    EXPECT_EQ(field("notes")->accessibleName(), "Notas habituales");

    const std::size_t audit = store().db().audit.size();
    field("name")->setText("Lucía Gómez");
    field("phone")->setText("612 34 56 78"); // José's telephone, written otherwise
    editor->findChild<QPushButton*>(QStringLiteral("save"))->click();
    written();
    EXPECT_EQ(editor->error(), "Ese teléfono ya pertenece a otro cliente.");
    saveScreenshot(*editor, "Velmora-ficha-cliente.png");
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(field("name")->text(), "Lucía Gómez");
    EXPECT_EQ(store().db().audit.size(), audit);

    field("name")->setText("   ");
    field("phone")->setText("655 000 111");
    editor->findChild<QPushButton*>(QStringLiteral("save"))->click();
    written();
    EXPECT_EQ(editor->error(), "Indica nombre y un teléfono válido (7–15 cifras).");

    field("name")->setText("Lucía Gómez");
    field("address")->setText("Calle Luna 5");
    field("notes")->setText("Sin cebolla");
    editor->findChild<QPushButton*>(QStringLiteral("save"))->click();
    written();
    settle();
    EXPECT_FALSE(editor && editor->isVisible());
    const Database saved = reloaded();
    ASSERT_EQ(saved.customers.size(), 5u);
    EXPECT_EQ(saved.customers.back().name, "Lucía Gómez");
    EXPECT_EQ(saved.customers.back().notes, "Sin cebolla");
    EXPECT_EQ(saved.audit.back().action, "Guardar cliente");
    EXPECT_EQ(saved.audit.back().reference, saved.customers.back().id.text());
    EXPECT_TRUE(names(*view_).contains("Lucía Gómez"));
    EXPECT_FALSE(store().message());
}

TEST_F(CustomersViewTest, EditingKeepsTheCardInPlace) {
    clickRowButton(view_->list(), view_->rowActions(), rowOf("José García"), CustomersView::edit);
    QPointer<CustomerEditor> editor = openSheet<CustomerEditor>(*view_);
    ASSERT_NE(editor, nullptr);
    auto* name = editor->findChild<QLineEdit*>(QStringLiteral("name"));
    EXPECT_EQ(name->text(), "José García");
    name->setText("José García Ruiz");
    editor->findChild<QPushButton*>(QStringLiteral("save"))->click();
    written();
    settle();
    const Database saved = reloaded();
    ASSERT_EQ(saved.customers.size(), 4u);
    EXPECT_EQ(saved.customers.front().name, "José García Ruiz");
    EXPECT_EQ(saved.customers.front().id, jose_.id);
    EXPECT_TRUE(names(*view_).contains("José García Ruiz"));
    // The orders keep the name they were taken with.
    EXPECT_EQ(saved.orders.front().draft.name, "José García");
}

TEST_F(CustomersViewTest, DeletingAsksFirstAndLeavesTheOrdersAsTheyWere) {
    const int row = rowOf("José García");
    platform_.answerNextAlert(QStringLiteral("Cancelar"));
    clickRowButton(view_->list(), view_->rowActions(), row, CustomersView::remove);
    ASSERT_EQ(platform_.alerts().size(), 1u);
    EXPECT_EQ(platform_.alerts().back().message,
              "¿Eliminar la ficha? Los pedidos anteriores conservan sus datos.");
    EXPECT_EQ(platform_.alerts().back().buttons, (QStringList{"Eliminar ficha", "Cancelar"}));
    EXPECT_EQ(reloaded().customers.size(), 4u);

    platform_.answerNextAlert(QStringLiteral("Eliminar ficha"));
    clickRowButton(view_->list(), view_->rowActions(), row, CustomersView::remove);
    const Database saved = reloaded();
    EXPECT_EQ(saved.customers.size(), 3u);
    EXPECT_TRUE(std::none_of(saved.customers.begin(), saved.customers.end(),
                             [&](const Customer& c) { return c.id == jose_.id; }));
    EXPECT_EQ(saved.audit.back().action, "Eliminar cliente");
    EXPECT_EQ(saved.audit.back().reference, jose_.id.text());
    EXPECT_EQ(saved.orders.front().draft.name, "José García");
    EXPECT_EQ(saved.orders.front().draft.phone, "612 345 678");
    EXPECT_FALSE(names(*view_).contains("José García"));
}

TEST_F(CustomersViewTest, UseAtTillFillsTheDraftAndShowsTheCheckout) {
    store().setSelectedTab(QStringLiteral("Clientes"));
    clickRowButton(view_->list(), view_->rowActions(), rowOf("José García"), CustomersView::useAtTill);
    EXPECT_EQ(store().selectedTab(), "Caja");
    EXPECT_EQ(store().draft().customerID, jose_.id);
    EXPECT_EQ(store().draft().name, "José García");
    EXPECT_EQ(store().draft().phone, "612 345 678");
    EXPECT_EQ(store().draft().address, "Calle Mayor 3");
    EXPECT_EQ(store().draft().customerNotes, "Timbre roto");
}

TEST_F(CustomersViewTest, TheHistoryListsTheOrdersNewestFirstAndOpensOne) {
    clickRowButton(view_->list(), view_->rowActions(), rowOf("José García"), CustomersView::history);
    QPointer<CustomerHistoryView> history = openSheet<CustomerHistoryView>(*view_);
    ASSERT_NE(history, nullptr);
    EXPECT_EQ(history->summary(), "5 pedidos · Pago habitual: Efectivo");
    saveScreenshot(*history, "Velmora-historial.png");
    auto* title = history->findChild<QLabel*>(QStringLiteral("sheetTitle"));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), "Historial · José García");
    ASSERT_EQ(history->model().rowCount(), 5);
    EXPECT_EQ(history->model().order(0).id, latest_.id);
    EXPECT_TRUE(history->model().index(0).data().toString().startsWith("#" + QString::number(latest_.number) +
                                                                       " · "));
    EXPECT_EQ(history->model().index(0).data(velmora::CustomerOrdersModel::StateRole).toString(),
              "En preparación · Sin cobro registrado");
    EXPECT_EQ(history->model().index(0).data(velmora::CustomerOrdersModel::TotalRole).toString(), "9,50 EUR");
    EXPECT_EQ(history->model().index(4).data(velmora::CustomerOrdersModel::StateRole).toString(),
              "En preparación · Efectivo");
    // The cancelled order is listed with its state.
    bool cancelledShown = false;
    for (int row = 0; row < 5; ++row)
        cancelledShown |=
            history->model().index(row).data(velmora::CustomerOrdersModel::StateRole).toString() ==
            "Anulado · Sin cobro registrado";
    EXPECT_TRUE(cancelledShown);

    clickRowButton(history->list(), history->rowActions(), 4, 0);
    settle();
    EXPECT_EQ(store().selectedOrder(), first_.id);
    EXPECT_EQ(store().selectedTab(), "Pedidos");
    EXPECT_FALSE(openSheet<CustomerHistoryView>(*view_));
}

TEST_F(CustomersViewTest, ACardWithoutOrdersHasAnEmptyHistory) {
    clickRowButton(view_->list(), view_->rowActions(), rowOf("Pizza Club 9"), CustomersView::history);
    QPointer<CustomerHistoryView> history = openSheet<CustomerHistoryView>(*view_);
    ASSERT_NE(history, nullptr);
    EXPECT_EQ(history->summary(), "0 pedidos · Pago habitual: Sin datos");
    EXPECT_TRUE(history->showsEmptyMessage());
    history->findChild<QPushButton*>(QStringLiteral("close"))->click();
    settle();
    EXPECT_FALSE(openSheet<CustomerHistoryView>(*view_));
}

TEST_F(CustomersViewTest, AHiddenScreenCatchesUpWhenShown) {
    view_->hide();
    ASSERT_TRUE(store().transact([](Database& db) {
        Customer card;
        card.name = "Zoe";
        card.phone = "600700800";
        db.saveCustomer(card);
    }));
    EXPECT_EQ(view_->model().rowCount(), 4) << "a hidden screen does not search on every change";
    view_->show();
    settle();
    EXPECT_EQ(names(*view_).back(), "Zoe");
}

} // namespace

namespace {

TEST_F(CustomersViewTest, ReturnEditsAndDeleteRemovesTheCurrentCard) {
    QListView& list = view_->list();
    list.setFocus();
    list.setCurrentIndex(view_->model().index(rowOf("ana Pérez")));
    QTest::keyClick(&list, Qt::Key_Return);
    QPointer<CustomerEditor> editor = openSheet<CustomerEditor>(*view_);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->findChild<QLineEdit*>(QStringLiteral("name"))->text(), "ana Pérez");
    editor->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    settle();

    platform_.answerNextAlert(QStringLiteral("Eliminar ficha"));
    list.setCurrentIndex(view_->model().index(rowOf("ana Pérez")));
    QTest::keyClick(&list, Qt::Key_Delete);
    EXPECT_FALSE(names(*view_).contains("ana Pérez"));
    EXPECT_EQ(reloaded().customers.size(), 3u);
}

} // namespace

namespace {

TEST_F(CustomersViewTest, EveryRowActionIsReachableByKeyboardMenuAndScreenReader) {
    QListView& list = view_->list();
    QApplication::setActiveWindow(view_.get());
    list.setFocus();
    const auto current = [&](const QString& name) {
        list.setCurrentIndex(view_->model().index(rowOf(name)));
    };

    // The menu key lists the row's buttons by their labels; "Historial" opens the history, whose
    // own rows offer "Ver pedido" the same way.
    current("José García");
    QTest::keyClick(&list, Qt::Key_Menu);
    QMenu* menu = openRowMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menuEntries(*menu), (QStringList{"Historial", "Usar en Caja", "Editar", "Eliminar"}));
    chooseFromMenu(*menu, QStringLiteral("Historial"));
    settle();
    QPointer<CustomerHistoryView> history = openSheet<CustomerHistoryView>(*view_);
    ASSERT_NE(history, nullptr);
    EXPECT_EQ(accessibleActions(history->list(), 4),
              (QStringList{"Ver pedido", QAccessibleActionInterface::showMenuAction(),
                           QAccessibleActionInterface::setFocusAction()}));
    doAccessibleAction(history->list(), 4, QStringLiteral("Ver pedido"));
    EXPECT_EQ(store().selectedOrder(), first_.id);
    EXPECT_EQ(store().selectedTab(), "Pedidos");
    EXPECT_FALSE(openSheet<CustomerHistoryView>(*view_));

    // Shift+F10 and "Editar".
    current("ana Pérez");
    QTest::keyClick(&list, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_NE(openRowMenu(), nullptr);
    chooseFromMenu(*openRowMenu(), QStringLiteral("Editar"));
    settle();
    QPointer<CustomerEditor> editor = openSheet<CustomerEditor>(*view_);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->findChild<QLineEdit*>(QStringLiteral("name"))->text(), "ana Pérez");
    editor->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    settle();

    // A right click and "Eliminar", which asks first.
    platform_.answerNextAlert(QStringLiteral("Cancelar"));
    rightClickRow(list, rowOf("Pizza Club 9"));
    ASSERT_NE(openRowMenu(), nullptr);
    chooseFromMenu(*openRowMenu(), QStringLiteral("Eliminar"));
    settle();
    ASSERT_EQ(platform_.alerts().size(), 1u);
    EXPECT_EQ(platform_.alerts().back().message,
              "¿Eliminar la ficha? Los pedidos anteriores conservan sus datos.");
    EXPECT_EQ(reloaded().customers.size(), 4u);

    // "Usar en Caja".
    store().setSelectedTab(QStringLiteral("Clientes"));
    current("José García");
    QTest::keyClick(&list, Qt::Key_Menu);
    ASSERT_NE(openRowMenu(), nullptr);
    chooseFromMenu(*openRowMenu(), QStringLiteral("Usar en Caja"));
    settle();
    EXPECT_EQ(store().selectedTab(), "Caja");
    EXPECT_EQ(store().draft().customerID, jose_.id);

    // A screen reader finds each card by its name and runs the same actions.
    QAccessibleInterface* cards = QAccessible::queryAccessibleInterface(&list);
    ASSERT_NE(cards, nullptr);
    ASSERT_EQ(cards->childCount(), 4);
    EXPECT_EQ(cards->child(rowOf("Pizza Club 10"))->text(QAccessible::Name), "Pizza Club 10");
    EXPECT_EQ(accessibleActions(list, rowOf("Pizza Club 10")),
              (QStringList{"Historial", "Usar en Caja", "Editar", "Eliminar",
                           QAccessibleActionInterface::showMenuAction(),
                           QAccessibleActionInterface::setFocusAction()}));
    doAccessibleAction(list, rowOf("Pizza Club 10"), QStringLiteral("Editar"));
    editor = openSheet<CustomerEditor>(*view_);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->findChild<QLineEdit*>(QStringLiteral("name"))->text(), "Pizza Club 10");
    editor->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    settle();
    platform_.answerNextAlert(QStringLiteral("Eliminar ficha"));
    doAccessibleAction(list, rowOf("Pizza Club 10"), QStringLiteral("Eliminar"));
    EXPECT_FALSE(names(*view_).contains("Pizza Club 10"));
    EXPECT_EQ(reloaded().customers.size(), 3u);
}

} // namespace
