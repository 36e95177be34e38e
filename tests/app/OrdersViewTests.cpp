// The orders screen on a real data directory: the three filters, selection shared with the
// controller, the detail's payment, preparation, cancellation, repeat and ticket buttons, and a
// screenshot of the screen with a few orders.

#include <Velmora/Services/TicketService.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Fiscal/InvoiceEditor.hpp>
#include <Velmora/Views/Orders/OrderDetail.hpp>
#include <Velmora/Views/Orders/OrdersModel.hpp>
#include <Velmora/Views/Orders/OrdersView.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>
#include <support/TestFiles.hpp>

#include "ScreenTesting.hpp"
#include "TestPdf.hpp"

#include <PizzaCore/PizzaCore.hpp>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using pizzacore::Database;
using pizzacore::Instant;
using pizzacore::Order;
using velmora::AppStore;
using velmora::OrderDetail;
using velmora::OrdersModel;
using velmora::OrdersView;
using velmora::TicketService;
using namespace velmora::testing;

// A day after `friday`; the business day ends at 04:00 in Madrid.
constexpr Instant saturday = Instant::fromUnix(1741348800.0 + 86400);

struct Customer {
    std::string name;
    std::string phone;
};

// The orders screen with its ticket service, on a menu of a pizza at 12,50 and a drink, opened
// as at the first start.
class OrdersViewTest : public ScreenTest {
protected:
    OrdersViewTest() { start_ = Start::firstStart; }
    void prepare(Database& db) override {
        pizzacore::Product pizza;
        pizza.name = "Margarita";
        pizza.category = db.categories[0];
        pizza.cents = 1250;
        db.saveProduct(pizza);
        pizzacore::Product water;
        water.name = "Agua";
        water.category = db.categories[1];
        water.cents = 150;
        db.saveProduct(water);
    }
    void SetUp() override {
        ScreenTest::SetUp();
        if (HasFatalFailure()) return;
        tickets_ = std::make_unique<TicketService>(
            *store_,
            [this](const Order&, const pizzacore::Settings&, const std::optional<pizzacore::Payment>&,
                   bool copy) {
                copies_.push_back(copy);
                return velmora::testing::minimalPdf({{226.77, 300}});
            },
            nullptr, 20);
        view_ = std::make_unique<OrdersView>(*store_, *tickets_);
        view_->resize(1090, 800);
        view_->show();
    }

    void TearDown() override {
        view_.reset();
        tickets_.reset();
        store_.reset();
    }

    // Confirms one order per customer at the current time, in one transaction.
    void confirm(const std::vector<Customer>& customers, std::int64_t quantity = 1) {
        const Instant now = *now_;
        ASSERT_TRUE(store_->transact([&](Database& db) {
            for (const Customer& customer : customers) {
                pizzacore::Draft draft;
                draft.name = customer.name;
                draft.phone = customer.phone;
                pizzacore::Line line = pizzacore::Line::make(db.products[0]);
                line.quantity = quantity;
                draft.lines = {line};
                db.confirm(draft, now);
            }
        }));
    }

    const Order& order(std::int64_t number) const {
        for (const Order& stored : store_->db().orders)
            if (stored.number == number) return stored;
        throw std::runtime_error("no such order");
    }

    std::vector<std::int64_t> listed() const {
        std::vector<std::int64_t> numbers;
        OrdersModel& model = view_->model();
        for (int row = 0; row < model.rowCount(); ++row)
            numbers.push_back(
                model.data(model.index(row), OrdersModel::NumberRole).toString().mid(1).toLongLong());
        return numbers;
    }

    template <class W>
    W& child(const char* name) const {
        return ScreenTest::child<W>(*view_, name);
    }

    void select(std::int64_t number) {
        store_->setSelectedOrder(order(number).id);
        ASSERT_TRUE(view_->detail().order());
    }

    std::unique_ptr<TicketService> tickets_;
    std::unique_ptr<OrdersView> view_;
    std::vector<bool> copies_;
};

TEST_F(OrdersViewTest, ListsNewestFirstAndFiltersByPendingQueryAndDay) {
    std::vector<Customer> customers;
    for (int number = 1; number <= 120; ++number)
        customers.push_back({number == 7   ? "JOSE"
                             : number == 8 ? "José"
                                           : "Cliente",
                             number == 30 ? "600 712 000" : "600 000 000"});
    confirm(customers);
    EXPECT_EQ(view_->model().rowCount(), 120);
    EXPECT_EQ(listed().front(), 120);
    EXPECT_EQ(listed().back(), 1);

    // Query: the number's digits, or the telephone as typed.
    child<QLineEdit>("orderSearch").setText(QStringLiteral("12"));
    EXPECT_EQ(listed(), (std::vector<std::int64_t>{120, 112, 30, 12}));
    // Names ignore letter case only.
    child<QLineEdit>("orderSearch").setText(QStringLiteral("jose"));
    EXPECT_EQ(listed(), (std::vector<std::int64_t>{7}));
    child<QLineEdit>("orderSearch").setText(QStringLiteral("josé"));
    EXPECT_EQ(listed(), (std::vector<std::int64_t>{8}));
    // Used as typed, without trimming.
    child<QLineEdit>("orderSearch").setText(QStringLiteral(" 12"));
    EXPECT_TRUE(listed().empty());
    child<QLineEdit>("orderSearch").clear();

    // Pending: neither paid nor cancelled.
    ASSERT_TRUE(store_->payOrder(order(120).id, pizzacore::PaymentMethod::card, QString()));
    ASSERT_TRUE(store_->cancelOrder(order(119).id, QStringLiteral("Se equivocó")));
    child<QCheckBox>("pendingFilter").setChecked(true);
    EXPECT_EQ(listed().size(), 118u);
    EXPECT_EQ(listed().front(), 118);
    child<QCheckBox>("pendingFilter").setChecked(false);

    // Day: the business days of the sessions, latest first.
    *now_ = saturday;
    confirm({{"Sábado", "611 000 000"}});
    QComboBox& day = child<QComboBox>("dayFilter");
    ASSERT_EQ(day.count(), 3);
    EXPECT_EQ(day.itemText(0), "Todos");
    EXPECT_EQ(day.itemText(1), "2025-03-08");
    EXPECT_EQ(day.itemText(2), "2025-03-07");
    day.setCurrentIndex(1);
    EXPECT_EQ(listed(), (std::vector<std::int64_t>{121}));
    day.setCurrentIndex(2);
    EXPECT_EQ(listed().size(), 120u);
    // Filters combine.
    child<QLineEdit>("orderSearch").setText(QStringLiteral("121"));
    EXPECT_TRUE(listed().empty());
    day.setCurrentIndex(0);
    EXPECT_EQ(listed(), (std::vector<std::int64_t>{121}));
}

TEST_F(OrdersViewTest, SelectionFollowsTheControllerAndSurvivesFiltersAndChanges) {
    confirm({{"Ana", "600 000 001"}, {"Berta", "600 000 002"}, {"Carla", "600 000 003"}});
    auto& pane = *view_->findChild<QStackedWidget*>();
    EXPECT_EQ(pane.currentIndex(), 0) << "nothing selected shows the empty message";

    QListView& list = child<QListView>("ordersList");
    list.selectionModel()->setCurrentIndex(view_->model().index(1), QItemSelectionModel::ClearAndSelect);
    ASSERT_TRUE(store_->selectedOrder());
    EXPECT_EQ(*store_->selectedOrder(), order(2).id);
    EXPECT_EQ(pane.currentIndex(), 1);
    EXPECT_EQ(child<QLabel>("orderTitle").text(), "Pedido #2");
    EXPECT_EQ(child<QLabel>("customerName").text(), "Berta");

    // A filter that hides it keeps it selected and shown; clearing the filter selects its row again.
    child<QLineEdit>("orderSearch").setText(QStringLiteral("Ana"));
    EXPECT_EQ(*store_->selectedOrder(), order(2).id);
    EXPECT_EQ(child<QLabel>("orderTitle").text(), "Pedido #2");
    child<QLineEdit>("orderSearch").clear();
    ASSERT_EQ(list.selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(list.selectionModel()->selectedRows().front().row(), 1);

    // A new order arrives on top; the selection stays on its order.
    confirm({{"Dora", "600 000 004"}});
    ASSERT_EQ(list.selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(list.selectionModel()->selectedRows().front().row(), 2);
    EXPECT_EQ(*store_->selectedOrder(), order(2).id);

    // A confirmation on the checkout selects its order here.
    pizzacore::Draft draft;
    draft.lines = {pizzacore::Line::make(store_->db().products[0])};
    store_->setDraft(draft);
    ASSERT_TRUE(store_->confirm());
    EXPECT_EQ(list.selectionModel()->selectedRows().front().row(), 0);
    EXPECT_EQ(child<QLabel>("orderTitle").text(), "Pedido #5");
    EXPECT_EQ(child<QLabel>("customerName").text(), "Mostrador");
}

TEST_F(OrdersViewTest, AnOrderChosenElsewhereClearsOnlyTheFiltersHidingIt) {
    confirm({{"Ana", "600 000 001"}, {"Berta", "600 000 002"}, {"Carla", "600 000 003"}});
    ASSERT_TRUE(store_->payOrder(order(2).id, pizzacore::PaymentMethod::card, QString()));
    QListView& list = child<QListView>("ordersList");
    const auto selectedNumbers = [&] {
        std::vector<std::int64_t> numbers;
        for (const QModelIndex& row : list.selectionModel()->selectedRows())
            numbers.push_back(row.data(OrdersModel::NumberRole).toString().mid(1).toLongLong());
        return numbers;
    };
    const auto clickOrder = [&](std::int64_t number) {
        const auto shown = listed();
        const auto row = std::find(shown.begin(), shown.end(), number) - shown.begin();
        ASSERT_LT(row, static_cast<std::ptrdiff_t>(shown.size()));
        const QModelIndex index = view_->model().index(static_cast<int>(row));
        list.scrollTo(index);
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(index).center());
    };

    // The operator picks #1 among the unpaid orders matching "600".
    child<QCheckBox>("pendingFilter").setChecked(true);
    child<QLineEdit>("orderSearch").setText(QStringLiteral("600"));
    ASSERT_EQ(listed(), (std::vector<std::int64_t>{3, 1}));
    clickOrder(1);
    ASSERT_EQ(*store_->selectedOrder(), order(1).id);

    // "Ver #2" elsewhere: #2 is paid, so "Sin cobrar" goes; the search still finds it and stays.
    store_->setSelectedOrder(order(2).id);
    EXPECT_FALSE(child<QCheckBox>("pendingFilter").isChecked());
    EXPECT_EQ(child<QLineEdit>("orderSearch").text(), "600");
    EXPECT_EQ(listed(), (std::vector<std::int64_t>{3, 2, 1}));
    EXPECT_EQ(selectedNumbers(), std::vector<std::int64_t>{2});
    EXPECT_EQ(child<QLabel>("orderTitle").text(), "Pedido #2");
    // A click on another row selects it.
    clickOrder(1);
    EXPECT_EQ(*store_->selectedOrder(), order(1).id);
    EXPECT_EQ(child<QLabel>("orderTitle").text(), "Pedido #1");

    // The operator's own search hides the selected order: no other row stays highlighted, and a
    // click on a row selects it.
    child<QLineEdit>("orderSearch").setText(QStringLiteral("Carla"));
    EXPECT_TRUE(selectedNumbers().empty());
    EXPECT_EQ(child<QLabel>("orderTitle").text(), "Pedido #1");
    clickOrder(3);
    EXPECT_EQ(*store_->selectedOrder(), order(3).id);
    // Showing the order already selected while the search hides it clears the search.
    child<QLineEdit>("orderSearch").setText(QStringLiteral("Ana"));
    store_->setSelectedOrder(order(1).id);
    child<QLineEdit>("orderSearch").setText(QStringLiteral("Berta"));
    store_->showOrder(order(1).id);
    EXPECT_EQ(child<QLineEdit>("orderSearch").text(), "");
    EXPECT_EQ(selectedNumbers(), std::vector<std::int64_t>{1});
    EXPECT_EQ(store_->selectedTab(), "Pedidos");

    // A day filter that leaves the order out goes back to every day.
    *now_ = saturday;
    confirm({{"Dora", "600 000 004"}});
    QComboBox& day = child<QComboBox>("dayFilter");
    day.setCurrentIndex(day.findText(QStringLiteral("2025-03-07")));
    ASSERT_EQ(listed(), (std::vector<std::int64_t>{3, 2, 1}));
    store_->showOrder(order(4).id);
    EXPECT_EQ(day.currentIndex(), 0);
    EXPECT_EQ(selectedNumbers(), std::vector<std::int64_t>{4});

    // Out of sight and out of date, the list reveals a new order once shown.
    child<QLineEdit>("orderSearch").setText(QStringLiteral("Ana"));
    view_->hide();
    confirm({{"Eva", "600 000 005"}});
    store_->showOrder(order(5).id);
    view_->show();
    EXPECT_EQ(child<QLineEdit>("orderSearch").text(), "");
    EXPECT_EQ(selectedNumbers(), std::vector<std::int64_t>{5});
    EXPECT_EQ(child<QLabel>("orderTitle").text(), "Pedido #5");
}

TEST_F(OrdersViewTest, AHiddenListCatchesUpWhenShownAgain) {
    confirm({{"Ana", "600 000 001"}});
    view_->hide();
    confirm({{"Berta", "600 000 002"}});
    store_->setSelectedOrder(order(2).id);
    // Hidden, the list follows the document only where that costs no more than the change; the
    // selection waits until it is shown.
    EXPECT_EQ(view_->model().rowCount(), OrdersModel::followsChangesCheaply ? 2 : 1);
    view_->show();
    EXPECT_EQ(listed(), (std::vector<std::int64_t>{2, 1}));
    EXPECT_EQ(child<QListView>("ordersList").selectionModel()->selectedRows().front().row(), 0);
    EXPECT_EQ(child<QLabel>("orderTitle").text(), "Pedido #2");
}

TEST_F(OrdersViewTest, CashPaymentWithChangeAndRefusals) {
    confirm({{"Ana", "600 000 001"}});
    select(1);
    QLineEdit& received = child<QLineEdit>("received");
    QLabel& change = child<QLabel>("change");
    QPushButton& pay = child<QPushButton>("payButton");
    EXPECT_EQ(pay.text(), "Registrar cobro · 12,50 EUR");

    // The change line only when the amount read covers the total.
    for (const auto& [typed, shown] : std::vector<std::pair<QString, QString>>{{"20", "Cambio: 7,50 EUR"},
                                                                               {"12,5", "Cambio: 0,00 EUR"},
                                                                               {"12,49", ""},
                                                                               {"veinte", ""},
                                                                               {"", ""}}) {
        received.setText(typed);
        EXPECT_EQ(!change.isHidden(), !shown.isEmpty()) << typed.toStdString();
        if (!shown.isEmpty()) {
            EXPECT_EQ(change.text(), shown);
        }
    }

    // Refusals reach the controller's message and change nothing.
    received.setText(QStringLiteral("12,49"));
    QTest::mouseClick(&pay, Qt::LeftButton);
    EXPECT_EQ(store_->message().value_or(QString()), "El efectivo entregado debe cubrir el total.");
    received.setText(QStringLiteral("doce"));
    QTest::mouseClick(&pay, Qt::LeftButton);
    EXPECT_EQ(store_->message().value_or(QString()),
              "Escribe un importe positivo con un máximo de dos decimales.");
    EXPECT_TRUE(store_->db().payments.empty());

    received.setText(QStringLiteral("20"));
    QTest::mouseClick(&pay, Qt::LeftButton);
    ASSERT_EQ(store_->db().payments.size(), 1u);
    EXPECT_EQ(store_->db().payments[0].received, 2000);
    EXPECT_EQ(store_->db().payments[0].cents, 1250);
    EXPECT_TRUE(child<QWidget>("unpaidBlock").isHidden());
    EXPECT_EQ(child<QLabel>("paidTitle").text(), "Cobrado · Efectivo · 12,50 EUR");
    EXPECT_EQ(child<QLabel>("paidChange").text(), "Entregado: 20,00 EUR · Cambio: 7,50 EUR");
    EXPECT_TRUE(child<QPushButton>("cancelOrder").isHidden()) << "a paid order cannot be cancelled";
    EXPECT_EQ(view_->model().data(view_->model().index(0), OrdersModel::StatusRole).toString(), "Cobrado");
}

TEST_F(OrdersViewTest, RowsSayWhenEachOrderWasConfirmedAndAnEmptyListSaysWhy) {
    auto& empty = child<QLabel>("ordersEmpty");
    EXPECT_FALSE(empty.isHidden());
    EXPECT_EQ(empty.text(), "Aún no hay pedidos. Los pedidos confirmados en Caja aparecen aquí.");

    confirm({{"Ana", "600 000 001"}});
    EXPECT_TRUE(empty.isHidden());
    const auto when = [this] { return view_->model().index(0).data(OrdersModel::WhenRole).toString(); };
    const QString at = velmora::timeText(friday);
    *now_ = Instant{friday.seconds + 30};
    EXPECT_EQ(when(), at + " · hace menos de 1 min");
    *now_ = Instant{friday.seconds + 12 * 60 + 30};
    EXPECT_EQ(when(), at + " · hace 12 min");
    EXPECT_TRUE(view_->model().index(0).data(Qt::AccessibleTextRole).toString().endsWith(" · hace 12 min"));
    *now_ = Instant{friday.seconds + 3 * 3600 + 59};
    EXPECT_EQ(when(), at + " · hace 3 h");
    *now_ = saturday;
    EXPECT_EQ(when(), velmora::dateTimeText(friday)) << "a day later, the date";

    child<QLineEdit>("orderSearch").setText(QStringLiteral("Zacarías"));
    EXPECT_FALSE(empty.isHidden());
    EXPECT_EQ(empty.text(), "Ningún pedido coincide con la búsqueda o los filtros.");
    child<QLineEdit>("orderSearch").clear();
    EXPECT_TRUE(empty.isHidden());
}

TEST_F(OrdersViewTest, LineNotesAreAsLargeAsTheLineItself) {
    const Instant now = *now_;
    ASSERT_TRUE(store_->transact([&](Database& db) {
        pizzacore::Draft draft;
        pizzacore::Line line = pizzacore::Line::make(db.products[0]);
        line.notes = "Sin cebolla";
        draft.lines = {line};
        db.confirm(draft, now);
    }));
    select(1);
    auto& lines = child<QListView>("orderLines");
    const int lineHeight = QFontMetrics(lines.font()).height();
    EXPECT_GE(lines.sizeHintForRow(0), 2 * lineHeight + 8);
}

TEST_F(OrdersViewTest, QuickAmountsFillTheCashHandedOverAndTheChangeIsLarge) {
    confirm({{"Ana", "600 000 001"}});
    select(1);
    QLineEdit& received = child<QLineEdit>("received");
    QLabel& change = child<QLabel>("change");
    // 12,50 EUR: a 5 or a 10 cannot pay it.
    EXPECT_TRUE(child<QPushButton>("receivedExact").isEnabled());
    EXPECT_FALSE(child<QPushButton>("received5").isEnabled());
    EXPECT_FALSE(child<QPushButton>("received10").isEnabled());
    EXPECT_TRUE(child<QPushButton>("received20").isEnabled());
    EXPECT_TRUE(child<QPushButton>("received50").isEnabled());
    EXPECT_EQ(child<QPushButton>("received50").accessibleName(), "50");

    child<QPushButton>("received50").click();
    EXPECT_EQ(received.text(), "50,00");
    EXPECT_FALSE(change.isHidden());
    EXPECT_EQ(change.text(), "Cambio: 37,50 EUR");
    EXPECT_GE(change.font().pointSizeF(), 1.5 * view_->font().pointSizeF()) << "read from across the counter";
    child<QPushButton>("receivedExact").click();
    EXPECT_EQ(received.text(), "12,50");
    EXPECT_EQ(change.text(), "Cambio: 0,00 EUR");

    // Paying by card needs no cash.
    child<QAbstractButton>("method1").click();
    EXPECT_TRUE(child<QPushButton>("received20").isHidden());
    child<QAbstractButton>("method0").click();
    child<QPushButton>("received20").click();
    QTest::mouseClick(&child<QPushButton>("payButton"), Qt::LeftButton);
    ASSERT_EQ(store_->db().payments.size(), 1u);
    EXPECT_EQ(store_->db().payments[0].received, 2000);
    EXPECT_GT(child<QLabel>("paidChange").font().pointSizeF(), view_->font().pointSizeF());
}

TEST_F(OrdersViewTest, TheChosenPreparationStateIsFilledWithTheHighlightColour) {
    confirm({{"Ana", "600 000 001"}});
    select(1);
    child<QAbstractButton>("preparationChoice1").click();
    written();
    auto& chosen = child<QAbstractButton>("preparationChoice1");
    auto& other = child<QAbstractButton>("preparationChoice0");
    ASSERT_TRUE(chosen.isChecked());
    const QImage chosenLook = chosen.grab().toImage();
    const QImage otherLook = other.grab().toImage();
    const QColor highlight = chosen.palette().color(QPalette::Highlight);
    EXPECT_EQ(chosenLook.pixelColor(3, chosenLook.height() / 2).rgb(), highlight.rgb());
    EXPECT_NE(otherLook.pixelColor(3, otherLook.height() / 2).rgb(), highlight.rgb());
}

TEST_F(OrdersViewTest, EmptyCashPaysTheTotalAndCardIgnoresTheAmount) {
    confirm({{"Ana", "600 000 001"}, {"Berta", "600 000 002"}});
    select(1);
    QTest::mouseClick(&child<QPushButton>("payButton"), Qt::LeftButton);
    ASSERT_EQ(store_->db().payments.size(), 1u);
    EXPECT_EQ(store_->db().payments[0].received, 1250);
    EXPECT_EQ(store_->db().payments[0].method, pizzacore::PaymentMethod::cash);

    select(2);
    EXPECT_TRUE(child<QLineEdit>("received").text().isEmpty());
    child<QLineEdit>("received").setText(QStringLiteral("50"));
    child<QAbstractButton>("method1").click(); // Tarjeta
    EXPECT_TRUE(child<QLineEdit>("received").isHidden());
    QTest::mouseClick(&child<QPushButton>("payButton"), Qt::LeftButton);
    ASSERT_EQ(store_->db().payments.size(), 2u);
    EXPECT_EQ(store_->db().payments[1].method, pizzacore::PaymentMethod::card);
    EXPECT_EQ(store_->db().payments[1].received, 1250);
    EXPECT_EQ(child<QLabel>("paidTitle").text(), "Cobrado · Tarjeta · 12,50 EUR");
    EXPECT_TRUE(child<QLabel>("paidChange").isHidden());
}

TEST_F(OrdersViewTest, PreparationPickerChangesTheStateAndCancelledOrdersShowTheirReason) {
    confirm({{"Ana", "600 000 001"}});
    select(1);
    EXPECT_TRUE(child<QAbstractButton>("preparationChoice0").isChecked());
    child<QAbstractButton>("preparationChoice1").click();
    written();
    EXPECT_EQ(order(1).preparation, pizzacore::Preparation::ready);
    EXPECT_EQ(store_->db().audit.back().action, "Estado Listo");
    child<QAbstractButton>("preparationChoice0").click();
    written();
    EXPECT_EQ(order(1).preparation, pizzacore::Preparation::preparing);
    EXPECT_EQ(view_->model().data(view_->model().index(0), OrdersModel::DetailRole).toString(),
              "Recoger · En preparación");

    ASSERT_TRUE(store_->cancelOrder(order(1).id, QStringLiteral("  Llamó para anular ")));
    EXPECT_TRUE(child<QWidget>("preparation").isHidden());
    EXPECT_FALSE(child<QLabel>("cancelledReason").isHidden());
    EXPECT_EQ(child<QLabel>("cancelledReason").text(), "Anulado ·   Llamó para anular ");
    EXPECT_TRUE(child<QWidget>("unpaidBlock").isHidden());
    EXPECT_TRUE(child<QWidget>("paidBlock").isHidden());
    EXPECT_TRUE(child<QPushButton>("cancelOrder").isHidden());
    EXPECT_EQ(view_->model().data(view_->model().index(0), OrdersModel::StatusRole).toString(), "Anulado");
}

TEST_F(OrdersViewTest, PrepareInvoiceOpensTheEditorOnANewProposalFromTheOrder) {
    confirm({{"Ana", "600 000 001"}}, 2);
    select(1);
    child<QPushButton>("prepareInvoice").click();
    auto* editor = view_->findChild<velmora::InvoiceEditor*>();
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->proposal().orderID, order(1).id);
    ASSERT_EQ(editor->proposal().lines.size(), 1u);
    EXPECT_EQ(editor->proposal().lines[0].quantity, 2);
    EXPECT_EQ(editor->proposal().lines[0].unitGross, 1250);
    // Nothing is stored until the editor saves; each press prepares a new proposal.
    EXPECT_TRUE(store_->db().fiscalState().proposals.empty());
    auto* rate = editor->findChild<QComboBox*>(QStringLiteral("rate"));
    ASSERT_NE(rate, nullptr);
    rate->setCurrentIndex(rate->findData(qlonglong{1000}));
    editor->findChild<QPushButton*>(QStringLiteral("saveProposal"))->click();
    written();
    ASSERT_EQ(store_->db().fiscalState().proposals.size(), 1u);
    child<QPushButton>("prepareInvoice").click();
    const auto editors = view_->findChildren<velmora::InvoiceEditor*>();
    ASSERT_FALSE(editors.empty());
    EXPECT_NE(editors.back()->proposal().id, store_->db().fiscalState().proposals[0].id);
}

TEST_F(OrdersViewTest, CancellationSheetNeedsAReasonAndStaysOpenOnARefusal) {
    confirm({{"Ana", "600 000 001"}, {"Berta", "600 000 002"}});
    select(1);
    QTest::mouseClick(&child<QPushButton>("cancelOrder"), Qt::LeftButton);
    auto* dialog = view_->findChild<QDialog*>(QStringLiteral("cancelOrderDialog"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isModal());
    EXPECT_EQ(dialog->width(), 450);
    auto* reason = dialog->findChild<QLineEdit*>(QStringLiteral("cancelReason"));
    auto* confirmButton = dialog->findChild<QPushButton*>(QStringLiteral("cancelConfirm"));
    ASSERT_TRUE(reason && confirmButton);
    EXPECT_EQ(reason->placeholderText(), "Motivo obligatorio");
    EXPECT_FALSE(confirmButton->isEnabled());
    reason->setText(QStringLiteral(" \t "));
    EXPECT_FALSE(confirmButton->isEnabled());
    reason->setText(QStringLiteral(" Repetido "));
    EXPECT_TRUE(confirmButton->isEnabled());
    QTest::mouseClick(confirmButton, Qt::LeftButton);
    written();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(order(1).preparation, pizzacore::Preparation::cancelled);
    EXPECT_EQ(order(1).cancellationReason.value_or(""), " Repetido ");
    EXPECT_EQ(view_->findChild<QDialog*>(QStringLiteral("cancelOrderDialog")), nullptr)
        << "closed on success";

    // After the business day closed the core refuses; the sheet stays open with the reason.
    select(2);
    QTest::mouseClick(&child<QPushButton>("cancelOrder"), Qt::LeftButton);
    dialog = view_->findChild<QDialog*>(QStringLiteral("cancelOrderDialog"));
    ASSERT_NE(dialog, nullptr);
    *now_ = saturday;
    dialog->findChild<QLineEdit*>(QStringLiteral("cancelReason"))->setText(QStringLiteral("Tarde"));
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cancelConfirm")), Qt::LeftButton);
    written();
    EXPECT_TRUE(store_->message().value_or(QString()).startsWith("La jornada está cerrada."));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(order(2).preparation, pizzacore::Preparation::preparing);
    // "Volver" closes it.
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cancelBack")), Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(OrdersViewTest, RepeatAsksOnlyWhenTheDraftHasLines) {
    confirm({{"Ana", "600 000 001"}});
    select(1);
    QTest::mouseClick(&child<QPushButton>("repeatOrder"), Qt::LeftButton);
    EXPECT_TRUE(platform_.alerts().empty());
    EXPECT_EQ(store_->selectedTab(), "Caja");
    EXPECT_EQ(store_->draft().name, "Ana");
    ASSERT_EQ(store_->draft().lines.size(), 1u);

    // With lines in the draft: "Cancelar" keeps it, "Sustituir borrador" replaces it.
    pizzacore::Draft other;
    other.name = "Otra";
    other.lines = {pizzacore::Line::make(store_->db().products[1])};
    store_->setDraft(other);
    store_->clearMessage();
    platform_.answerNextAlert(QStringLiteral("Cancelar"));
    QTest::mouseClick(&child<QPushButton>("repeatOrder"), Qt::LeftButton);
    ASSERT_EQ(platform_.alerts().size(), 1u);
    EXPECT_EQ(platform_.alerts()[0].message, "¿Sustituir el borrador actual por este pedido?");
    EXPECT_EQ(platform_.alerts()[0].buttons, (QStringList{"Sustituir borrador", "Cancelar"}));
    EXPECT_EQ(store_->draft().name, "Otra");
    platform_.answerNextAlert(QStringLiteral("Sustituir borrador"));
    QTest::mouseClick(&child<QPushButton>("repeatOrder"), Qt::LeftButton);
    EXPECT_EQ(store_->draft().name, "Ana");
}

TEST_F(OrdersViewTest, PrintButtonBecomesReprintAfterAnAttemptEvenWhenCancelled) {
    confirm({{"Ana", "600 000 001"}});
    select(1);
    QPushButton& print = child<QPushButton>("printTickets");
    EXPECT_EQ(print.text(), "Imprimir…");
    EXPECT_EQ(child<QLabel>("ticketsCaption").text(), "Tickets: Cocina, Cliente / reparto · A4");
    const std::size_t entries = store_->db().audit.size();

    // The dialog is cancelled (no answer queued). The printer to propose is asked of CUPS
    // first, on the service's thread.
    QSignalSpy finished(tickets_.get(), &TicketService::printFinished);
    QTest::mouseClick(&print, Qt::LeftButton);
    for (int step = 0; step < 2000 && finished.empty(); ++step)
        QTest::qWait(10);
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(order(1).printAttempts, 1);
    ASSERT_EQ(store_->db().audit.size(), entries + 1);
    EXPECT_EQ(store_->db().audit.back().action, "Intento de impresión");
    EXPECT_EQ(store_->db().audit.back().reference, "1");
    EXPECT_EQ(store_->message().value_or(QString()), TicketService::notCompleted);
    EXPECT_EQ(print.text(), "Reimprimir copia…");
    EXPECT_EQ(copies_, std::vector<bool>{false});

    // The next rendering, printed or previewed, carries the copy mark; the preview counts nothing.
    QTest::mouseClick(&child<QPushButton>("previewTickets"), Qt::LeftButton);
    EXPECT_EQ(copies_, (std::vector<bool>{false, true}));
    EXPECT_EQ(order(1).printAttempts, 1);
}

TEST_F(OrdersViewTest, ScreenshotWithAFewOrders) {
    ASSERT_TRUE(store_->transact([](Database& db) {
        db.settings.business = "Pizzería Sol";
        db.settings.paper = pizzacore::Paper::mm80;
    }));
    confirm(
        {{"María López", "600 123 456"}, {"", ""}, {"Jose Pérez", "611 222 333"}, {"Lucía", "622 987 654"}},
        2);
    ASSERT_TRUE(store_->transact([this](Database& db) {
        Order& last = db.orders.back();
        last.draft.address = "Calle Mayor 4, 2º B";
        last.draft.customerNotes = "Timbre roto, llamar al llegar";
        last.draft.notes = "Sin cebolla";
        last.draft.lines[0].notes = "Bien hecha";
        pizzacore::Line water = pizzacore::Line::make(db.products[1]);
        water.quantity = 3;
        last.draft.lines.push_back(water);
        Q_UNUSED(this);
    }));
    ASSERT_TRUE(store_->payOrder(order(1).id, pizzacore::PaymentMethod::cash, QStringLiteral("30")));
    ASSERT_TRUE(store_->cancelOrder(order(2).id, QStringLiteral("No contestó")));
    ASSERT_TRUE(store_->prepareOrder(order(3).id, pizzacore::Preparation::ready));
    select(4);
    child<QLineEdit>("received").setText(QStringLiteral("50"));
    view_->show();
    QCoreApplication::processEvents();
    const char* directory = std::getenv("VELMORA_SCREENSHOT_DIR");
    const fs::path shot = fs::path(directory && *directory ? directory : ".") / "Velmora-pedidos.png";
    EXPECT_TRUE(view_->grab().save(QString::fromStdString(shot.string()), "PNG")) << shot;

    // A paid order, with the list narrowed to it.
    select(1);
    child<QLineEdit>("orderSearch").setText(QStringLiteral("maría"));
    QCoreApplication::processEvents();
    const fs::path paid = shot.parent_path() / "Velmora-pedido-cobrado.png";
    EXPECT_TRUE(view_->grab().save(QString::fromStdString(paid.string()), "PNG")) << paid;
}

} // namespace
