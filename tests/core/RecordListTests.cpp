// Record lists: a copy shares its records with the list it came from, a change clones only what it
// touches and never reaches the other copies, lists behave exactly as the vectors they replace
// (checked against a vector through random sequences of changes), and the document's operations
// leave untouched every record they do not change, so that two versions of a document cost little
// more than one.

#include <PizzaCore/Foundation/RecordList.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <support/SyntheticDocument.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <random>
#include <ranges>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pizzacore {
namespace {

struct Item {
    int value = 0;
    std::string text;
    bool operator==(const Item&) const = default;
};

void PrintTo(const Item& item, std::ostream* out) {
    *out << "{" << item.value << ", " << item.text << "}";
}

// Counts the comparisons of values, to show which the equality's fast paths skip.
struct Counted {
    int value = 0;
    static inline int comparisons = 0;
    friend bool operator==(const Counted& a, const Counted& b) {
        ++comparisons;
        return a.value == b.value;
    }
};

// A record whose construction can be made to fail.
struct Fragile {
    int value = 0;
    static inline bool failing = false;
    explicit Fragile(int v)
        : value(v) {
        if (failing) throw std::runtime_error("no");
    }
    bool operator==(const Fragile&) const = default;
};

RecordList<Item> numbered(int count) {
    RecordList<Item> list;
    for (int i = 0; i < count; ++i)
        list.push_back(Item{i, "item " + std::to_string(i)});
    return list;
}

std::vector<Item> numberedVector(int count) {
    std::vector<Item> list;
    for (int i = 0; i < count; ++i)
        list.push_back(Item{i, "item " + std::to_string(i)});
    return list;
}

// Whether element i of a and element j of b are the same record, for every pair (i, j) given by
// the mapping from a's indices to b's.
template <class T, class Map>
bool sharedWhere(const RecordList<T>& a, const RecordList<T>& b, Map map) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        const std::ptrdiff_t j = map(i);
        if (j >= 0 && !a.sameElement(i, b, static_cast<std::size_t>(j))) return false;
    }
    return true;
}

static_assert(std::random_access_iterator<RecordList<Item>::const_iterator>);
static_assert(std::ranges::random_access_range<RecordList<Item>>);
// Reading a non-const list never hands out a writable record.
static_assert(std::is_same_v<decltype(*std::declval<RecordList<Item>&>().begin()), const Item&>);
static_assert(std::is_same_v<decltype(std::declval<const RecordList<Item>&>()[0]), const Item&>);

TEST(RecordList, ChangingACopyNeverChangesTheOriginalAndKeepsTheOtherRecordsShared) {
    const RecordList<Item> original = numbered(200);
    RecordList<Item> copy = original;
    EXPECT_TRUE(copy.sameSpine(original));

    copy.modify(70).text = "changed";
    EXPECT_FALSE(copy.sameSpine(original));
    EXPECT_EQ(original, numberedVector(200));
    EXPECT_EQ(copy[70].text, "changed");
    EXPECT_FALSE(copy.sameElement(70, original, 70));
    EXPECT_TRUE(sharedWhere(copy, original, [](std::size_t i) { return i == 70 ? -1 : std::ptrdiff_t(i); }));

    // Written again while only this copy holds it: changed in place, not cloned once more.
    Item* first = &copy.modify(70);
    copy[70].value = -1;
    EXPECT_EQ(first, &copy.modify(70));
    EXPECT_EQ(copy[70].value, -1);

    // Writing through operator[], front() and back() of a non-const list clones the same way.
    RecordList<Item> other = original;
    other.front().value = 1000;
    other.back().value = 2000;
    other[100].value = 3000;
    EXPECT_EQ(original, numberedVector(200));
    EXPECT_EQ(std::as_const(other).front().value, 1000);
    EXPECT_EQ(std::as_const(other).back().value, 2000);
    EXPECT_TRUE(other.sameElement(1, original, 1));
}

TEST(RecordList, ReplaceAppendInsertAndEraseKeepTheUntouchedRecordsShared) {
    const RecordList<Item> original = numbered(150);

    RecordList<Item> replaced = original;
    replaced.replace(3, Item{-3, "new"});
    EXPECT_EQ(replaced[3], (Item{-3, "new"}));
    EXPECT_TRUE(sharedWhere(replaced, original, [](std::size_t i) { return i == 3 ? -1 : std::ptrdiff_t(i); }));

    RecordList<Item> appended = original;
    appended.push_back(Item{150, "item 150"});
    appended.emplace_back(Item{151, "item 151"});
    EXPECT_EQ(appended.size(), 152U);
    EXPECT_EQ(original.size(), 150U);
    EXPECT_TRUE(sharedWhere(original, appended, [](std::size_t i) { return std::ptrdiff_t(i); }));
    EXPECT_EQ(appended.toVector(), numberedVector(152));

    // Inserted in the first chunk: every later record moves one place on, still shared.
    RecordList<Item> inserted = original;
    const auto at = inserted.insert(inserted.begin() + 10, Item{-10, "inserted"});
    EXPECT_EQ(at - inserted.begin(), 10);
    EXPECT_EQ(*at, (Item{-10, "inserted"}));
    EXPECT_EQ(inserted.size(), 151U);
    EXPECT_TRUE(sharedWhere(original, inserted, [](std::size_t i) { return std::ptrdiff_t(i < 10 ? i : i + 1); }));

    RecordList<Item> erased = original;
    const auto next = erased.erase(erased.begin() + 63);
    EXPECT_EQ(next->value, 64);
    EXPECT_EQ(erased.size(), 149U);
    EXPECT_TRUE(sharedWhere(erased, original, [](std::size_t i) { return std::ptrdiff_t(i < 63 ? i : i + 1); }));

    // A range across two chunk boundaries, down to an exact number of chunks.
    RecordList<Item> range = original;
    range.erase(range.begin() + 60, range.begin() + 146);
    EXPECT_EQ(range.size(), 64U);
    EXPECT_TRUE(sharedWhere(range, original, [](std::size_t i) { return std::ptrdiff_t(i < 60 ? i : i + 86); }));
    range.push_back(Item{7, "after"});
    EXPECT_EQ(range.back(), (Item{7, "after"}));

    EXPECT_EQ(original, numberedVector(150));
}

TEST(RecordList, EraseIfRemovesMatchesAndLeavesAListWithoutMatchesShared) {
    const RecordList<Item> original = numbered(130);

    RecordList<Item> none = original;
    EXPECT_EQ(erase_if(none, [](const Item& item) { return item.value < 0; }), 0U);
    EXPECT_TRUE(none.sameSpine(original));

    RecordList<Item> odd = original;
    EXPECT_EQ(erase_if(odd, [](const Item& item) { return item.value % 2 == 1; }), 65U);
    ASSERT_EQ(odd.size(), 65U);
    EXPECT_TRUE(sharedWhere(odd, original, [](std::size_t i) { return std::ptrdiff_t(2 * i); }));
    EXPECT_EQ(original, numberedVector(130));

    RecordList<Item> all = original;
    EXPECT_EQ(pizzacore::erase_if(all, [](const Item&) { return true; }), 130U);
    EXPECT_TRUE(all.empty());
    all.push_back(Item{1, "again"});
    EXPECT_EQ(all.size(), 1U);

    RecordList<Item> cleared = original;
    cleared.clear();
    EXPECT_TRUE(cleared.empty());
    EXPECT_EQ(original.size(), 130U);
}

TEST(RecordList, FailuresLeaveTheListAsItWas) {
    RecordList<Fragile> list;
    for (int i = 0; i < 64; ++i)
        list.emplace_back(i);
    const RecordList<Fragile> before = list;

    Fragile::failing = true;
    EXPECT_THROW(list.emplace_back(64), std::runtime_error);
    Fragile::failing = false;
    EXPECT_EQ(list.size(), 64U);
    list.emplace_back(64);
    EXPECT_EQ(list.back().value, 64);
    EXPECT_EQ(list[63].value, 63);

    // A predicate that throws halfway removes nothing.
    RecordList<Fragile> filtered = before;
    int asked = 0;
    EXPECT_THROW(erase_if(filtered,
                          [&](const Fragile& item) {
                              if (++asked == 40) throw std::runtime_error("no");
                              return item.value % 3 == 0;
                          }),
                 std::runtime_error);
    EXPECT_EQ(filtered, before);

    // Positions outside the list are refused instead of written.
    RecordList<Item> items = numbered(3);
    EXPECT_THROW(items.modify(3), std::out_of_range);
    EXPECT_THROW(items.replace(3, Item{}), std::out_of_range);
    EXPECT_THROW((void)std::as_const(items).at(3), std::out_of_range);
    EXPECT_THROW(items.erase(items.begin() + 2, items.begin() + 4), std::out_of_range);
    EXPECT_THROW(items.insert(items.begin() + 4, Item{}), std::out_of_range);
    EXPECT_EQ(items, numberedVector(3));
    EXPECT_THROW(RecordList<Item>().modify(0), std::out_of_range);
}

TEST(RecordList, EqualityComparesOnlyWhatIsNotShared) {
    RecordList<Counted> original;
    for (int i = 0; i < 300; ++i)
        original.push_back(Counted{i});

    Counted::comparisons = 0;
    RecordList<Counted> copy = original;
    EXPECT_TRUE(copy == original);
    EXPECT_EQ(Counted::comparisons, 0);

    // One record changed: only that one is compared by value.
    copy.modify(200).value = 200;
    EXPECT_TRUE(copy == original);
    EXPECT_EQ(Counted::comparisons, 1);
    copy.modify(201).value = -1;
    EXPECT_FALSE(copy == original);

    // Lists built apart compare every value.
    Counted::comparisons = 0;
    RecordList<Counted> rebuilt;
    for (int i = 0; i < 300; ++i)
        rebuilt.push_back(Counted{i});
    EXPECT_TRUE(rebuilt == original);
    EXPECT_EQ(Counted::comparisons, 300);

    RecordList<Item> items = numbered(5);
    EXPECT_EQ(items, numberedVector(5));
    EXPECT_EQ(numberedVector(5), items);
    EXPECT_NE(items, numberedVector(4));
    EXPECT_NE(items, numbered(6));
    EXPECT_EQ(RecordList<Item>(), RecordList<Item>(std::vector<Item>{}));
    RecordList<Item> emptied = numbered(2);
    emptied.clear();
    EXPECT_EQ(emptied, RecordList<Item>());
    EXPECT_FALSE(items.sameElement(5, items, 0));
}

TEST(RecordList, ReadsLikeAVectorWithoutWriting) {
    RecordList<Item> list = {Item{3, "c"}, Item{1, "a"}, Item{2, "b"}};
    const RecordList<Item> copy = list;

    // Every read of the non-const list leaves it sharing its spine with the copy.
    int sum = 0;
    for (const Item& item : list)
        sum += item.value;
    EXPECT_EQ(sum, 6);
    EXPECT_EQ(std::ranges::find(list, Item{1, "a"}) - list.begin(), 1);
    EXPECT_EQ(std::as_const(list).at(2).text, "b");
    EXPECT_EQ(std::vector<Item>(list.rbegin(), list.rend()), (std::vector<Item>{{2, "b"}, {1, "a"}, {3, "c"}}));
    EXPECT_EQ(std::ranges::max(list, {}, &Item::value).text, "c");
    EXPECT_EQ(list.cend() - list.cbegin(), 3);
    EXPECT_TRUE(list.sameSpine(copy));

    list = std::vector<Item>{Item{9, "z"}};
    EXPECT_EQ(list.size(), 1U);
    list = {Item{1, "x"}, Item{2, "y"}};
    EXPECT_EQ(list.toVector(), (std::vector<Item>{{1, "x"}, {2, "y"}}));
    EXPECT_EQ(copy.size(), 3U);
}

// Random changes, applied to a list and to a vector side by side, with copies taken along the way:
// the list always equals the vector, and every copy still equals the vector it was taken with.
TEST(RecordList, BehavesAsAVectorThroughRandomChangesAndCopies) {
    std::mt19937 random(20250307);
    for (int run = 0; run < 20; ++run) {
        RecordList<Item> list;
        std::vector<Item> model;
        std::vector<std::pair<RecordList<Item>, std::vector<Item>>> copies;
        for (int step = 0; step < 400; ++step) {
            const int value = static_cast<int>(random() % 1000);
            const Item item{value, std::to_string(value)};
            const std::size_t size = model.size();
            const auto position = [&](std::size_t extra) {
                return static_cast<std::size_t>(random() % (size + extra));
            };
            switch (random() % 10) {
            case 0:
            case 1:
                list.push_back(item);
                model.push_back(item);
                break;
            case 2: {
                const std::size_t at = position(1);
                list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), item);
                model.insert(model.begin() + static_cast<std::ptrdiff_t>(at), item);
                break;
            }
            case 3:
                if (size == 0) break;
                {
                    const std::size_t from = position(0);
                    const std::size_t to = from + random() % std::min<std::size_t>(size - from + 1, 80);
                    list.erase(list.begin() + static_cast<std::ptrdiff_t>(from),
                               list.begin() + static_cast<std::ptrdiff_t>(to));
                    model.erase(model.begin() + static_cast<std::ptrdiff_t>(from),
                                model.begin() + static_cast<std::ptrdiff_t>(to));
                }
                break;
            case 4:
                if (size == 0) break;
                {
                    const std::size_t at = position(0);
                    list.modify(at).value += 1;
                    model[at].value += 1;
                }
                break;
            case 5:
                if (size == 0) break;
                {
                    const std::size_t at = position(0);
                    list.replace(at, item);
                    model[at] = item;
                }
                break;
            case 6: {
                const int divisor = 2 + static_cast<int>(random() % 7);
                const auto pred = [&](const Item& candidate) { return candidate.value % divisor == 0; };
                EXPECT_EQ(erase_if(list, pred), std::erase_if(model, pred));
                break;
            }
            case 7:
                copies.emplace_back(list, model);
                break;
            case 8:
                if (copies.empty()) break;
                {
                    // Carry on from an earlier copy; the list given up may be shared with it.
                    const std::size_t which = random() % copies.size();
                    list = copies[which].first;
                    model = copies[which].second;
                }
                break;
            case 9:
                if (random() % 8 == 0) {
                    list.clear();
                    model.clear();
                }
                break;
            }
            ASSERT_EQ(list.size(), model.size()) << "run " << run << " step " << step;
            ASSERT_EQ(list, model) << "run " << run << " step " << step;
        }
        for (const auto& [copy, expected] : copies)
            EXPECT_EQ(copy, expected);
    }
}

// A document held as the window holds the published one while another thread copies it and
// changes its copy, as the writer thread does: the reader always sees the document as it was.
TEST(RecordList, ADocumentIsReadWhileACopyOfItChangesOnAnotherThread) {
    const Database published = testing::makeDocument(testing::DocumentShape::small(), 11);
    const std::string before = toJSON(published);
    const Instant now{published.sessions.back().opened.seconds + 600};
    std::vector<Uuid> unpaid;
    for (const Order& order : published.orders)
        if (!published.paymentFor(order) && order.preparation != Preparation::cancelled) unpaid.push_back(order.id);
    ASSERT_GE(unpaid.size(), 10U);

    std::atomic<bool> done = false;
    Database changed;
    std::thread writer([&] {
        Database copy = published;
        for (std::size_t i = 0; i < unpaid.size(); ++i) {
            copy.pay(unpaid[i], PaymentMethod::card, std::nullopt, now);
            copy.prepare(unpaid[i], Preparation::delivered, now);
            Draft draft;
            for (const Product& product : copy.products)
                if (product.active) {
                    draft.lines.push_back(Line::make(product));
                    break;
                }
            copy.confirm(draft, now);
            copy.saveCustomer(copy.customers[i % copy.customers.size()], now);
            // Every version the writer passes through is a copy of its own as well.
            Database version = copy;
            version.orders.modify(i).printAttempts += 1;
        }
        changed = std::move(copy);
        done = true;
    });
    std::size_t reads = 0;
    while (!done || reads == 0) {
        Cents total = 0;
        for (const Order& order : published.orders)
            total += order.total();
        for (const Payment& payment : published.payments)
            total += payment.cents;
        EXPECT_GT(total, 0);
        ++reads;
    }
    writer.join();

    EXPECT_EQ(toJSON(published), before);
    EXPECT_EQ(changed.orders.size(), published.orders.size() + unpaid.size());
    EXPECT_EQ(changed.payments.size(), published.payments.size() + unpaid.size());
}

TEST(RecordList, DecodedListsWriteBackByteForByteAsTheVectorsDid) {
    // A document in its stored form, with two records in each list.
    const std::string stored =
        R"({"audit":[{"action":"Apertura","date":763041600.5,"id":"0A1B2C3D-0000-4000-8000-000000000001",)"
        R"("reference":"0A1B2C3D-0000-4000-8000-000000000031"},{"action":"Confirmar pedido","date":763041700,)"
        R"("id":"0A1B2C3D-0000-4000-8000-000000000002","reference":"1"}],"categories":[{"bar":false,"id":"pizzas",)"
        R"("rawValue":"Pizzas"},{"bar":true,"id":"refrescos","rawValue":"Refrescos"}],"customers":[{"address":)"
        R"("Calle Mayor 5","id":"0A1B2C3D-0000-4000-8000-000000000011","name":"Ana","notes":"","phone":"600123456"},)"
        R"({"address":"","id":"0A1B2C3D-0000-4000-8000-000000000012","name":"Luis \/ Mar","notes":"Timbre",)"
        R"("phone":"611222333"}],"draft":{"address":"","customerNotes":"","id":)"
        R"("0A1B2C3D-0000-4000-8000-000000000041","lines":[],"mode":"Recoger","name":"","notes":"","phone":""},)"
        R"("nextNumber":3,"orders":[{"created":763041700,"draft":{"address":"","customerNotes":"","id":)"
        R"("0A1B2C3D-0000-4000-8000-000000000051","lines":[{"category":{"bar":false,"id":"pizzas","rawValue":)"
        R"("Pizzas"},"cents":950,"id":"0A1B2C3D-0000-4000-8000-000000000061","name":"Margarita","notes":"",)"
        R"("productID":"0A1B2C3D-0000-4000-8000-000000000021","quantity":2,"taxRate":1000}],"mode":"Recoger",)"
        R"("name":"","notes":"","phone":""},"id":"0A1B2C3D-0000-4000-8000-000000000051","number":1,)"
        R"("preparation":"Entregado","printAttempts":1,"sessionID":"0A1B2C3D-0000-4000-8000-000000000031"},)"
        R"({"cancellationReason":"Error","created":763041800,"draft":{"address":"","customerNotes":"","id":)"
        R"("0A1B2C3D-0000-4000-8000-000000000052","lines":[],"mode":"Recoger","name":"","notes":"","phone":""},)"
        R"("id":"0A1B2C3D-0000-4000-8000-000000000052","number":2,"preparation":"Anulado","printAttempts":0,)"
        R"("sessionID":"0A1B2C3D-0000-4000-8000-000000000031"}],"payments":[{"cents":1900,"date":763041750,)"
        R"("id":"0A1B2C3D-0000-4000-8000-000000000071","method":"Efectivo","orderID":)"
        R"("0A1B2C3D-0000-4000-8000-000000000051","received":2000,"sessionID":)"
        R"("0A1B2C3D-0000-4000-8000-000000000031"}],"products":[{"active":true,"category":{"bar":false,"id":)"
        R"("pizzas","rawValue":"Pizzas"},"cents":950,"id":"0A1B2C3D-0000-4000-8000-000000000021","name":)"
        R"("Margarita","taxRate":1000},{"active":false,"category":{"bar":true,"id":"refrescos","rawValue":)"
        R"("Refrescos"},"cents":200,"id":"0A1B2C3D-0000-4000-8000-000000000022","image":"iVBORw0KGgo=",)"
        R"("name":"Agua"}],"schemaVersion":1,"sessions":[{"businessDay":"2025-03-07","closed":763070400,)"
        R"("id":"0A1B2C3D-0000-4000-8000-000000000030","opened":763000001,"reason":"Manual","receiptsAtClose":0,)"
        R"("salesAtClose":0,"scheduledEnd":763070400,"unpaidAtClose":0},{"businessDay":"2025-03-08","id":)"
        R"("0A1B2C3D-0000-4000-8000-000000000031","opened":763041600,"scheduledEnd":763099200}],"settings":)"
        R"({"address":"","bar":false,"business":"Mi restaurante","closingHour":4,"closingMinute":0,"customer":true,)"
        R"("footer":"Gracias por tu pedido","fullCopies":false,"kitchen":true,"paper":"A4","phone":"","printer":"",)"
        R"("taxID":"","timeZone":"Europe\/Madrid"}})";
    const Database db = fromJSON<Database>(stored);
    EXPECT_EQ(db.orders.size(), 2U);
    EXPECT_EQ(db.customers[1].name, "Luis / Mar");
    EXPECT_EQ(toJSON(db), stored);

    // A copy with one order changed writes the same bytes as the same document read afresh.
    Database copy = db;
    copy.orders.modify(1).printAttempts = 4;
    Database read = fromJSON<Database>(stored);
    read.orders.replace(1, [&] {
        Order order = read.orders[1];
        order.printAttempts = 4;
        return order;
    }());
    EXPECT_EQ(toJSON(copy), toJSON(read));
    EXPECT_EQ(toJSON(db), stored);
    EXPECT_EQ(copy, read);
    EXPECT_NE(copy, db);
}

// The document's operations on a copy of a mid-sized document: each changes only the records it
// must, and leaves every other record, and every list it does not change, shared with the
// original. A read through the writing API would show up here as a clone.
class DocumentVersions : public ::testing::Test {
protected:
    static void SetUpTestSuite() { original = new Database(testing::makeDocument(testing::DocumentShape::medium(), 7)); }
    static void TearDownTestSuite() {
        delete original;
        original = nullptr;
    }

    void SetUp() override {
        copy = *original;
        now = Instant{original->sessions.back().opened.seconds + 600};
        ASSERT_LT(now, original->sessions.back().scheduledEnd);
    }

    template <class T>
    static std::size_t unshared(const RecordList<T>& a, const RecordList<T>& b) {
        std::size_t count = 0;
        for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
            count += a.sameElement(i, b, i) ? 0 : 1;
        return count;
    }

    void expectShared(const char* what, bool customers, bool products, bool orders, bool payments, bool sessions,
                      bool categories) const {
        SCOPED_TRACE(what);
        EXPECT_EQ(copy.customers.sameSpine(original->customers), customers);
        EXPECT_EQ(copy.products.sameSpine(original->products), products);
        EXPECT_EQ(copy.orders.sameSpine(original->orders), orders);
        EXPECT_EQ(copy.payments.sameSpine(original->payments), payments);
        EXPECT_EQ(copy.sessions.sameSpine(original->sessions), sessions);
        EXPECT_EQ(copy.categories.sameSpine(original->categories), categories);
    }

    Draft activeDraft() const {
        Draft draft;
        for (const Product& product : std::as_const(copy).products)
            if (product.active) {
                draft.lines.push_back(Line::make(product));
                break;
            }
        return draft;
    }

    std::size_t unpaidOrder() const {
        for (std::size_t i = 0; i < original->orders.size(); ++i) {
            const Order& order = original->orders[i];
            if (!original->paymentFor(order) && order.preparation != Preparation::cancelled &&
                order.sessionID == original->sessions.back().id)
                return i;
        }
        throw std::logic_error("no unpaid order in the open session");
    }

    static inline const Database* original = nullptr;
    Database copy;
    Instant now;
};

TEST_F(DocumentVersions, ConfirmingAppendsAndSharesEveryExistingRecord) {
    copy.confirm(activeDraft(), now);
    expectShared("confirm", true, true, false, true, true, true);
    EXPECT_EQ(copy.orders.size(), original->orders.size() + 1);
    EXPECT_EQ(unshared(copy.orders, original->orders), 0U);
    EXPECT_EQ(unshared(copy.audit, original->audit), 0U);
    EXPECT_EQ(copy.audit.size(), original->audit.size() + 1);
}

TEST_F(DocumentVersions, PayingPreparingAndCancellingChangeOnlyTheirOrder) {
    const std::size_t index = unpaidOrder();
    const Uuid id = original->orders[index].id;

    copy.pay(id, PaymentMethod::cash, std::nullopt, now);
    expectShared("pay", true, true, true, false, true, true);
    EXPECT_EQ(unshared(copy.payments, original->payments), 0U);
    // Paying again changes nothing.
    const Database paid = copy;
    copy.pay(id, PaymentMethod::cash, std::nullopt, now);
    EXPECT_TRUE(copy.payments.sameSpine(paid.payments));
    EXPECT_TRUE(copy.audit.sameSpine(paid.audit));

    copy = *original;
    copy.prepare(id, Preparation::ready, now);
    expectShared("prepare", true, true, false, true, true, true);
    EXPECT_EQ(unshared(copy.orders, original->orders), 1U);
    EXPECT_FALSE(copy.orders.sameElement(index, original->orders, index));
    EXPECT_EQ(original->orders[index].preparation, Preparation::preparing);

    copy = *original;
    copy.cancel(id, "Error", now);
    expectShared("cancel", true, true, false, true, true, true);
    EXPECT_EQ(unshared(copy.orders, original->orders), 1U);

    // Refusals, checked before anything is written, clone nothing.
    copy = *original;
    EXPECT_THROW(copy.pay(Uuid::random(), PaymentMethod::card, std::nullopt, now), PCError);
    EXPECT_THROW(copy.prepare(id, Preparation::cancelled, now), PCError);
    EXPECT_THROW(copy.cancel(id, " ", now), PCError);
    expectShared("refusals", true, true, true, true, true, true);
    EXPECT_TRUE(copy.audit.sameSpine(original->audit));
}

TEST_F(DocumentVersions, SavingACategoryRewritesOnlyTheProductsOfThatCategory) {
    const Category pizza = original->categories[0];
    Category renamed = pizza;
    renamed.rawValue = "Pizzas de la casa";
    copy.saveCategory(renamed, now);
    expectShared("saveCategory", true, false, true, true, true, false);
    std::size_t ofCategory = 0;
    for (std::size_t i = 0; i < original->products.size(); ++i) {
        const bool inCategory = original->products[i].category.id == pizza.id;
        ofCategory += inCategory ? 1 : 0;
        EXPECT_EQ(copy.products.sameElement(i, original->products, i), !inCategory) << i;
        EXPECT_EQ(copy.products[i].category.rawValue,
                  inCategory ? renamed.rawValue : original->products[i].category.rawValue);
    }
    EXPECT_GT(ofCategory, 0U);
    EXPECT_LT(ofCategory, original->products.size());

    // Saving it unchanged rewrites nothing but the audit trail.
    copy = *original;
    copy.saveCategory(pizza, now);
    expectShared("saveCategory unchanged", true, true, true, true, true, false);
    EXPECT_EQ(unshared(copy.categories, original->categories), 1U);
}

TEST_F(DocumentVersions, SavingAProductOrACardReplacesOnlyThatRecord) {
    Product product = original->products[5];
    product.cents += 100;
    copy.saveProduct(product, now);
    expectShared("saveProduct", true, false, true, true, true, true);
    EXPECT_EQ(unshared(copy.products, original->products), 1U);

    copy = *original;
    Customer customer = original->customers[7];
    customer.notes = "Sin cebolla";
    copy.saveCustomer(customer, now);
    expectShared("saveCustomer", false, true, true, true, true, true);
    EXPECT_EQ(unshared(copy.customers, original->customers), 1U);
    EXPECT_EQ(copy.customers.size(), original->customers.size());
}

TEST_F(DocumentVersions, ClosingAShiftChangesOnlyTheSessions) {
    copy.closeManually(original->sessions.back().id, now);
    expectShared("closeManually", true, true, true, true, false, true);
    EXPECT_EQ(copy.sessions.size(), original->sessions.size() + 1);
    EXPECT_EQ(unshared(copy.sessions, original->sessions), 1U);
    EXPECT_FALSE(original->sessions.back().closed.has_value());

    // Nothing is due: reconciling writes nothing.
    copy = *original;
    copy.reconcile(now);
    expectShared("reconcile", true, true, true, true, true, true);
    EXPECT_TRUE(copy.audit.sameSpine(original->audit));
    EXPECT_EQ(copy, *original);
}

} // namespace
} // namespace pizzacore
