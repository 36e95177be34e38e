#pragma once

// What one step changed in the document, small enough to be written down after every
// transaction: per record collection the records put (added or replaced whole) and the
// identifiers removed, each with the position it has, and the whole value of each small
// singleton that changed. diff finds the change between two versions of the document; apply
// makes it again on the first one.
//
// Positions make applying a change cost as little as the change: a record put at a position
// whose record has its identifier replaces that one, a record put at the end is appended, and a
// removal at a position holding its identifier removes that one. When a position does not hold
// what the change expects (the change is applied a second time, or to another document) the
// record is looked up by its identifier instead: a record already there is replaced, a missing
// one appended, and a removal of a missing one does nothing. So applying a change again to the
// document it produced changes nothing (diff sees to it, also for records that share an
// identifier), which is what makes replaying a journal entry that the stored document already
// holds harmless.

#include <PizzaCore/Foundation/Record.hpp>
#include <PizzaCore/Models/Database.hpp>

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <vector>

namespace pizzacore {

// One record added or replaced: `at` is its position in the collection once the change is made.
template <class T>
struct RecordPut {
#define PIZZACORE_RECORD_PUT_FIELDS(X)                                                                       \
    X(std::int64_t, at, 0)                                                                                   \
    X(T, record)
    PIZZACORE_RECORD(RecordPut, PIZZACORE_RECORD_PUT_FIELDS)
#undef PIZZACORE_RECORD_PUT_FIELDS
};

// One record removed: `at` is its position in the collection before the change.
template <class Key>
struct RecordRemoval {
#define PIZZACORE_RECORD_REMOVAL_FIELDS(X)                                                                   \
    X(std::int64_t, at, 0)                                                                                   \
    X(Key, id)
    PIZZACORE_RECORD(RecordRemoval, PIZZACORE_RECORD_REMOVAL_FIELDS)
#undef PIZZACORE_RECORD_REMOVAL_FIELDS
};

template <class T>
using RecordKey = std::remove_cvref_t<decltype(std::declval<const T&>().id)>;

// The change of one collection. Removals are listed by ascending position in the collection
// before the change and made from the last to the first; puts follow by ascending position in
// the collection after it. `whole`, when present, first replaces the whole collection: diff gives
// it when listing the records one by one would take more room.
template <class T>
struct CollectionChange {
    using Key = RecordKey<T>;
    using Put = RecordPut<T>;
    using Removal = RecordRemoval<Key>;
#define PIZZACORE_COLLECTION_CHANGE_FIELDS(X)                                                                \
    X(std::vector<Removal>, removed)                                                                         \
    X(std::vector<Put>, put)                                                                                 \
    X(std::optional<std::vector<T>>, whole)
    PIZZACORE_RECORD(CollectionChange, PIZZACORE_COLLECTION_CHANGE_FIELDS)
#undef PIZZACORE_COLLECTION_CHANGE_FIELDS

    bool empty() const {
        return removed.empty() && put.empty() && !whole;
    }
};

// The fiscal archive is optional in the document: a change sets it or takes it away.
struct FiscalChange {
#define PIZZACORE_FISCAL_CHANGE_FIELDS(X) X(std::optional<FiscalState>, value)
    PIZZACORE_RECORD(FiscalChange, PIZZACORE_FISCAL_CHANGE_FIELDS)
#undef PIZZACORE_FISCAL_CHANGE_FIELDS
};

// Every part of the document that changed; what is absent did not change.
#define PIZZACORE_DOCUMENT_CHANGE_FIELDS(X)                                                                  \
    X(std::optional<FiscalChange>, fiscal)                                                                   \
    X(std::optional<CollectionChange<Category>>, categories)                                                 \
    X(std::optional<std::int64_t>, schemaVersion)                                                            \
    X(std::optional<CollectionChange<Customer>>, customers)                                                  \
    X(std::optional<CollectionChange<Product>>, products)                                                    \
    X(std::optional<CollectionChange<Order>>, orders)                                                        \
    X(std::optional<CollectionChange<Payment>>, payments)                                                    \
    X(std::optional<CollectionChange<Session>>, sessions)                                                    \
    X(std::optional<Settings>, settings)                                                                     \
    X(std::optional<Draft>, draft)                                                                           \
    X(std::optional<std::int64_t>, nextNumber)                                                               \
    X(std::optional<CollectionChange<Audit>>, audit)

struct DocumentChange {
    PIZZACORE_RECORD(DocumentChange, PIZZACORE_DOCUMENT_CHANGE_FIELDS)

    bool empty() const {
        return !fiscal && !categories && !schemaVersion && !customers && !products && !orders && !payments &&
               !sessions && !settings && !draft && !nextNumber && !audit;
    }
};

// The change that turns `before` into `after`: apply(before, diff(before, after)) == after,
// always. Unchanged records cost a comparison each, or nothing when both versions share them.
DocumentChange diff(const Database& before, const Database& after);

// Makes the change on the document (see the top of this file). Never fails.
void apply(Database& db, const DocumentChange& change);

// The change as compact JSON with the document's conventions. Text that is not valid UTF-8 is
// refused with PCError, as a save refuses it: it could not be written without changing it.
std::string encodeChange(const DocumentChange& change);
// Reads a change; throws JSONError on text that is not one, a negative position included.
DocumentChange decodeChange(std::string_view text);

namespace detail {

// Whether the two lists are the very same shared list, or element i of one is the very object
// that element j of the other is: then nothing needs comparing. Plain vectors never share.
template <class List>
bool sameList(const List& a, const List& b) {
    if constexpr (requires { a.sameSpine(b); })
        return a.sameSpine(b);
    else
        return false;
}

template <class List>
bool sameElement(const List& a, std::size_t i, const List& b, std::size_t j) {
    if constexpr (requires { a.sameElement(i, b, j); })
        return a.sameElement(i, b, j);
    else
        return false;
}

template <class List, class T>
void replaceAt(List& list, std::size_t i, const T& value) {
    if constexpr (requires { list.replace(i, value); })
        list.replace(i, value);
    else
        list[i] = value;
}

template <class List>
void eraseAt(List& list, std::size_t i) {
    list.erase(std::next(list.cbegin(), static_cast<std::ptrdiff_t>(i)));
}

// Whether one of the removed identifiers is still in the list: one pass over the list.
template <class Removal, class List>
bool stillPresent(const std::vector<Removal>& removed, const List& list) {
    if (removed.empty()) return false;
    using Key = std::remove_cvref_t<decltype(removed.front().id)>;
    std::unordered_set<Key> keys;
    keys.reserve(removed.size());
    for (const Removal& removal : removed)
        keys.insert(removal.id);
    const std::size_t size = list.size();
    for (std::size_t k = 0; k < size; ++k)
        if (keys.contains(list[k].id)) return true;
    return false;
}

// The change of one collection between two versions: a walk over both in step. Records with the
// same identifier at the walk's positions are kept (and put when they differ); a record of the
// first whose identifier is not the next one of the second is removed; what is left of the second
// is appended. The removals leave exactly the records the second version keeps, in its order, so
// every position the change names is right when it is applied to `before`.
template <class T, class List>
std::optional<CollectionChange<T>> diffList(const List& before, const List& after) {
    if (sameList(before, after)) return std::nullopt;
    CollectionChange<T> change;
    const std::size_t beforeSize = before.size();
    const std::size_t afterSize = after.size();
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < beforeSize && j < afterSize) {
        if (sameElement(before, i, after, j)) {
            ++i;
            ++j;
            continue;
        }
        const T& old = before[i];
        const T& now = after[j];
        if (old.id == now.id) {
            if (!(old == now)) change.put.push_back({static_cast<std::int64_t>(j), now});
            ++i;
            ++j;
        } else {
            change.removed.push_back({static_cast<std::int64_t>(i), old.id});
            ++i;
        }
    }
    for (; i < beforeSize; ++i)
        change.removed.push_back({static_cast<std::int64_t>(i), before[i].id});
    for (; j < afterSize; ++j)
        change.put.push_back({static_cast<std::int64_t>(j), after[j]});
    if (change.empty()) return std::nullopt;
    // A reordering shows as many removals and puts; the whole collection is smaller then. So it
    // is when a removed identifier is still in the collection (a record moved, or one of two
    // records with the same identifier removed): applying the change a second time would remove
    // it again.
    if (change.removed.size() + change.put.size() > afterSize + 1 || stillPresent(change.removed, after)) {
        CollectionChange<T> whole;
        whole.whole.emplace();
        whole.whole->reserve(afterSize);
        for (std::size_t k = 0; k < afterSize; ++k)
            whole.whole->push_back(after[k]);
        return whole;
    }
    return change;
}

template <class List, class Key>
std::optional<std::size_t> find(const List& list, const Key& id) {
    const std::size_t size = list.size();
    for (std::size_t k = 0; k < size; ++k)
        if (list[k].id == id) return k;
    return std::nullopt;
}

template <class T, class List>
void applyList(List& list, const CollectionChange<T>& change) {
    if (change.whole) list = *change.whole;
    for (auto removal = change.removed.rbegin(); removal != change.removed.rend(); ++removal) {
        const auto at = static_cast<std::size_t>(removal->at);
        if (removal->at >= 0 && at < list.size() && list[at].id == removal->id)
            eraseAt(list, at);
        else if (const std::optional<std::size_t> found = find(list, removal->id))
            eraseAt(list, *found);
    }
    for (const RecordPut<T>& put : change.put) {
        const auto at = static_cast<std::size_t>(put.at);
        if (put.at >= 0 && at < list.size() && list[at].id == put.record.id)
            replaceAt(list, at, put.record);
        else if (put.at >= 0 && at == list.size())
            list.push_back(put.record);
        else if (const std::optional<std::size_t> found = find(list, put.record.id))
            replaceAt(list, *found, put.record);
        else
            list.push_back(put.record);
    }
}

} // namespace detail

} // namespace pizzacore
