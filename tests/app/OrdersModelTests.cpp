// The orders list's model following the document change by change: after any sequence of
// confirmations, payments, cancellations, preparation changes, print attempts and new business
// days, a model that followed every change shows exactly the rows of one made afresh, under each
// filter, and a confirmation inserts one row instead of laying the whole list out again. A long
// history's records come from a worker thread and then follow the document the same way. Under
// it, the versions of a collection name exactly the records a change replaced.

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Stores/RecordVersions.hpp>
#include <Velmora/Views/Orders/OrdersModel.hpp>

#include "ScreenTesting.hpp"

#include <QSignalSpy>

#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace velmora {

// Readable spans in failures.
inline void PrintTo(const ChangedSpan& span, std::ostream* out) {
    *out << "{" << span.first << ", " << span.earlierEnd << ", " << span.laterEnd << "}";
}

namespace testing {
namespace {

using pizzacore::Database;

// Every row as the views read it, role by role, and the day choices.
QStringList shown(const OrdersModel& model) {
    QStringList rows = model.dayChoices();
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex index = model.index(row);
        QStringList roles;
        for (int role :
             {int(Qt::DisplayRole), int(OrdersModel::IdRole), int(OrdersModel::NumberRole),
              int(OrdersModel::NameRole), int(OrdersModel::TotalRole), int(OrdersModel::DetailRole),
              int(OrdersModel::StatusRole), int(OrdersModel::PaidRole)})
            roles << index.data(role).toString();
        rows << roles.join(QLatin1Char('|'));
    }
    return rows;
}

bool spinUntil(const std::function<bool()>& done) {
    for (int round = 0; round < 500 && !done(); ++round)
        QTest::qWait(10);
    return done();
}

class OrdersModelTest : public ScreenTest {
protected:
    void prepare(Database& db) override {
        products_ = {product(db, "Margarita", 1050), product(db, "Agua", 150, pizzacore::Category::drink())};
        cards_ = {customer(db, "Ana Pérez", "612 345 678"), customer(db, "JOSE Ruiz", "699 111 222")};
        order(db, products_[0], cards_[0], {}, pizzacore::PaymentMethod::cash);
        order(db, products_[1], std::nullopt, "600 000 001", std::nullopt);
    }

    // Confirms an order through the controller, for a card, a telephone or nobody.
    void confirm(std::mt19937& random) {
        pizzacore::Draft draft;
        switch (random() % 3) {
        case 0: {
            const pizzacore::Customer& card = cards_[random() % cards_.size()];
            draft.customerID = card.id;
            draft.name = card.name;
            draft.phone = card.phone;
            break;
        }
        case 1:
            draft.name = random() % 2 ? "josé" : "María 12";
            draft.phone = "61" + std::to_string(random() % 1000);
            break;
        default:
            break;
        }
        pizzacore::Line line = pizzacore::Line::make(products_[random() % products_.size()]);
        line.quantity = static_cast<std::int64_t>(1 + random() % 3);
        draft.lines = {line};
        store().setDraft(draft);
        ASSERT_TRUE(store().confirm()) << store().message().value_or("").toStdString();
    }

    // One order picked at random, or nothing when there is none.
    std::optional<pizzacore::Order> anyOrder(std::mt19937& random) const {
        const auto& orders = store_->db().orders;
        if (orders.empty()) return std::nullopt;
        return orders[random() % orders.size()];
    }

    std::vector<pizzacore::Product> products_;
    std::vector<pizzacore::Customer> cards_;
};

TEST_F(OrdersModelTest, RowsFollowingEveryChangeEqualRowsMadeAfresh) {
    const std::vector<OrdersFilter> filters = {
        {},
        {QString(), true, QString()},
        {QString(), false, QStringLiteral("1")},
        {QString(), false, QStringLiteral("jose")},
        {QStringLiteral("2025-03-07"), false, QString()},
        {QStringLiteral("2025-03-08"), true, QStringLiteral("6")},
    };
    std::vector<std::unique_ptr<OrdersModel>> followers;
    for (const OrdersFilter& filter : filters) {
        followers.push_back(std::make_unique<OrdersModel>(store()));
        followers.back()->setFilter(filter);
        QObject::connect(&store(), &AppStore::dbChanged, followers.back().get(), &OrdersModel::refresh);
    }
    QSignalSpy inserted(followers[0].get(), &QAbstractItemModel::rowsInserted);
    QSignalSpy relaidOut(followers[0].get(), &QAbstractItemModel::layoutChanged);
    QSignalSpy reset(followers[0].get(), &QAbstractItemModel::modelReset);

    std::mt19937 random(2025);
    for (int step = 0; step < 160; ++step) {
        SCOPED_TRACE(step);
        store().clearMessage();
        const unsigned kind = random() % 10;
        const std::optional<pizzacore::Order> picked = anyOrder(random);
        if (kind < 3 || !picked) {
            const qsizetype before = inserted.size();
            const qsizetype layouts = relaidOut.size();
            confirm(random);
            // The new order is one row more at the top, not a new layout of the whole list.
            EXPECT_EQ(inserted.size(), before + 1);
            EXPECT_EQ(relaidOut.size(), layouts);
        } else if (kind < 5) {
            const auto method =
                random() % 2 ? pizzacore::PaymentMethod::cash : pizzacore::PaymentMethod::card;
            store().payOrder(picked->id, method, QString()); // refused for a cancelled order
        } else if (kind < 6) {
            store().cancelOrder(picked->id, QStringLiteral("Prueba")); // refused when paid or closed
        } else if (kind < 8) {
            store().prepareOrder(picked->id, static_cast<pizzacore::Preparation>(random() % 3));
        } else if (kind < 9) {
            store().countPrintAttempt(picked->id, nullptr, {});
            store().flush();
            settle();
        } else {
            // The next business day: the open shift closes and another opens.
            *now_ = pizzacore::Instant{now_->seconds + 86400};
            store().tick();
        }
        for (std::size_t i = 0; i < filters.size(); ++i) {
            SCOPED_TRACE(filters[i].day.toStdString() + " " + filters[i].query.toStdString() +
                         (filters[i].pending ? " pending" : ""));
            OrdersModel afresh(store());
            afresh.setFilter(filters[i]);
            ASSERT_EQ(shown(*followers[i]), shown(afresh));
        }
    }
    EXPECT_EQ(reset.size(), 0);
    // The filters did hide and show rows along the way.
    EXPECT_GT(followers[0]->rowCount(), followers[1]->rowCount());
    EXPECT_GT(followers[1]->rowCount(), 0);
    EXPECT_GT(followers[3]->rowCount(), 0);
}

TEST_F(OrdersModelTest, ALongHistoryComesFromAWorkerAndThenFollowsTheDocument) {
    std::mt19937 random(7);
    for (int i = 0; i < 5; ++i)
        confirm(random);

    // Seven orders are a long history here; a change of fewer than three is followed in place.
    constexpr std::size_t longFrom = 3;
    // A model that goes before its worker is done leaves the worker's records behind.
    { OrdersModel gone(store(), longFrom); }

    OrdersModel model(store(), longFrom);
    QObject::connect(&store(), &AppStore::dbChanged, &model, &OrdersModel::refresh);
    QSignalSpy ready(&model, &OrdersModel::becameReady);
    EXPECT_FALSE(model.ready());
    EXPECT_EQ(model.rowCount(), 0);
    // An order confirmed while the worker runs is listed with the others.
    confirm(random);
    ASSERT_TRUE(spinUntil([&] { return model.ready(); }));
    EXPECT_EQ(ready.size(), 1);
    EXPECT_EQ(model.rowCount(), static_cast<int>(store().db().orders.size()));
    EXPECT_EQ(shown(model), shown(OrdersModel(store())));
    EXPECT_EQ(model.rowOf(store().db().orders.back().id), 0);

    confirm(random);
    store().payOrder(store().db().orders.back().id, pizzacore::PaymentMethod::card, QString());
    EXPECT_TRUE(model.ready());
    EXPECT_EQ(shown(model), shown(OrdersModel(store())));

    // A change of most of the history (a restored backup) is made again on the worker.
    ASSERT_TRUE(store().transact([&](Database& db) {
        for (std::size_t at = 0; at < db.orders.size(); ++at)
            db.orders.modify(at).draft.name = "Cliente " + std::to_string(at);
    }));
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    ASSERT_TRUE(spinUntil([&] { return model.ready(); }));
    if (OrdersModel::followsChangesCheaply) {
        EXPECT_GE(reset.size(), 1);
    }
    EXPECT_EQ(shown(model), shown(OrdersModel(store())));
}

TEST_F(OrdersModelTest, WhileTheWorkerRunsTheDetailStillFindsAnOrder) {
    OrdersModel model(store(), 2);
    ASSERT_FALSE(model.ready());
    const pizzacore::Order& latest = store().db().orders.back();
    ASSERT_NE(model.order(latest.id), nullptr);
    EXPECT_EQ(*model.order(latest.id), latest);
    EXPECT_EQ(model.rowOf(latest.id), -1);
    EXPECT_EQ(model.order(pizzacore::Uuid::random()), nullptr);
    ASSERT_TRUE(spinUntil([&] { return model.ready(); }));
    EXPECT_EQ(model.rowOf(latest.id), 0);
}

// A list that shares its records between versions as the document's collections do: a copy shares
// the spine, and each change makes a new spine that keeps every record it does not replace.
class SharedList {
public:
    std::size_t size() const { return spine_->size(); }
    bool sameSpine(const SharedList& other) const { return spine_ == other.spine_; }
    bool sameElement(std::size_t i, const SharedList& other, std::size_t j) const {
        return (*spine_)[i] == (*other.spine_)[j];
    }
    SharedList& insert(std::size_t at, int value) {
        auto spine = std::make_shared<Spine>(*spine_);
        spine->insert(spine->begin() + static_cast<std::ptrdiff_t>(at), std::make_shared<const int>(value));
        spine_ = std::move(spine);
        return *this;
    }
    SharedList& replace(std::size_t at, int value) {
        auto spine = std::make_shared<Spine>(*spine_);
        (*spine)[at] = std::make_shared<const int>(value);
        spine_ = std::move(spine);
        return *this;
    }
    SharedList& erase(std::size_t at) {
        auto spine = std::make_shared<Spine>(*spine_);
        spine->erase(spine->begin() + static_cast<std::ptrdiff_t>(at));
        spine_ = std::move(spine);
        return *this;
    }

private:
    using Spine = std::vector<std::shared_ptr<const int>>;
    std::shared_ptr<const Spine> spine_ = std::make_shared<const Spine>();
};

TEST(RecordVersions, SharedRecordsNameExactlyWhatChanged) {
    static_assert(sharesRecords<SharedList> && !sharesRecords<std::vector<int>>);
    SharedList list;
    for (int i = 0; i < 6; ++i)
        list.insert(list.size(), i);
    RecordVersion<SharedList> version;
    // Nothing remembered yet: everything changed.
    EXPECT_EQ(version.spanTo(list), (ChangedSpan{0, 0, 6}));
    version.remember(list);

    EXPECT_TRUE(version.spanTo(list).empty());
    SharedList copy = list;
    EXPECT_TRUE(version.spanTo(copy).empty()) << "a copy shares every record";

    const SharedList appended = SharedList(list).insert(6, 6).insert(7, 7);
    EXPECT_EQ(version.spanTo(appended), (ChangedSpan{6, 6, 8}));
    EXPECT_TRUE(version.spanTo(appended).onlyAppends(6));

    const SharedList replaced = SharedList(list).replace(2, 20);
    EXPECT_EQ(version.spanTo(replaced), (ChangedSpan{2, 3, 3}));
    EXPECT_TRUE(version.spanTo(replaced).keepsPositions());

    // The same value in a new record is a change: identity decides, not equality.
    EXPECT_EQ(version.spanTo(SharedList(list).replace(4, 4)), (ChangedSpan{4, 5, 5}));
    EXPECT_EQ(version.spanTo(SharedList(list).replace(1, 10).replace(4, 40)), (ChangedSpan{1, 5, 5}));

    const SharedList inserted = SharedList(list).insert(0, -1);
    EXPECT_EQ(version.spanTo(inserted), (ChangedSpan{0, 0, 1}));
    EXPECT_FALSE(version.spanTo(inserted).keepsPositions());
    EXPECT_EQ(version.spanTo(SharedList(list).erase(3)), (ChangedSpan{3, 4, 3}));
    EXPECT_EQ(version.spanTo(SharedList()), (ChangedSpan{0, 6, 0}));

    version.forget();
    EXPECT_EQ(version.spanTo(list), (ChangedSpan{0, 0, 6}));
}

TEST(RecordVersions, PlainListsAreTakenAsWhollyChanged) {
    RecordVersion<std::vector<int>> version;
    static_assert(!RecordVersion<std::vector<int>>::exact);
    const std::vector<int> list{1, 2, 3};
    version.remember(list);
    EXPECT_EQ(version.size(), 3u);
    EXPECT_EQ(version.spanTo(list), (ChangedSpan{0, 3, 3}));
    EXPECT_EQ(version.spanTo({1, 2, 3, 4}), (ChangedSpan{0, 3, 4}));
    EXPECT_TRUE(version.list().empty()) << "nothing is kept of a plain list";
}

} // namespace
} // namespace testing
} // namespace velmora
