#pragma once

// Which records of one of the document's collections changed from one published document to the
// next. Collections that share their unchanged records between versions (copy on write) tell an
// unchanged record by identity, so finding what a transaction changed costs a comparison of
// pointers per record and no comparison of values; for collections that do not, every record is
// taken as possibly changed and the caller compares what it needs.

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <type_traits>

namespace velmora {

// Whether `List` recognises the records it shares with another version of itself.
template <class List>
inline constexpr bool sharesRecords = requires(const List& list, std::size_t index) {
    { list.sameSpine(list) } -> std::convertible_to<bool>;
    { list.sameElement(index, list, index) } -> std::convertible_to<bool>;
};

// The records of a later version that replace records of an earlier one: those before `first`,
// and those after `earlierEnd` in the earlier version and after `laterEnd` in the later one, are
// the very same records in both, in the same order.
struct ChangedSpan {
    std::size_t first = 0;
    std::size_t earlierEnd = 0;
    std::size_t laterEnd = 0;

    bool operator==(const ChangedSpan&) const = default;
    bool empty() const { return first == earlierEnd && first == laterEnd; }
    // Whether the records after the span keep their positions (nothing was inserted or removed).
    bool keepsPositions() const { return earlierEnd == laterEnd; }
    // Whether the later version only adds records at the end of the earlier one.
    bool onlyAppends(std::size_t earlierSize) const {
        return first == earlierSize && earlierEnd == earlierSize;
    }
};

// One version of a collection kept to be compared with the next: the list itself when it shares
// its records (keeping it costs a pointer), otherwise only its size.
template <class List>
class RecordVersion {
public:
    // Whether a version has been remembered yet.
    bool known() const { return known_; }
    std::size_t size() const { return size_; }

    void remember(const List& list) {
        if constexpr (sharesRecords<List>) list_ = list;
        size_ = list.size();
        known_ = true;
    }

    void forget() {
        if constexpr (sharesRecords<List>) list_ = List();
        size_ = 0;
        known_ = false;
    }

    // The remembered version of a collection that shares its records. Other collections keep
    // none and give an empty list: callers look only when `exact` holds.
    const List& list() const {
        if constexpr (sharesRecords<List>) {
            return list_;
        } else {
            static const List none;
            return none;
        }
    }

    // Whether the span below names exactly the records that changed; otherwise it covers the
    // whole collection.
    static constexpr bool exact = sharesRecords<List>;

    // What changed from the remembered version to `later`. Without a remembered version, or for a
    // collection that does not share its records, everything did.
    ChangedSpan spanTo(const List& later) const {
        if constexpr (sharesRecords<List>) {
            if (known_) {
                if (list_.sameSpine(later)) return {later.size(), later.size(), later.size()};
                const std::size_t common = std::min(list_.size(), later.size());
                std::size_t first = 0;
                while (first < common && list_.sameElement(first, later, first))
                    ++first;
                std::size_t earlierEnd = list_.size();
                std::size_t laterEnd = later.size();
                while (earlierEnd > first && laterEnd > first &&
                       list_.sameElement(earlierEnd - 1, later, laterEnd - 1)) {
                    --earlierEnd;
                    --laterEnd;
                }
                return {first, earlierEnd, laterEnd};
            }
        }
        return {0, size_, later.size()};
    }

private:
    struct Nothing {};
    [[no_unique_address]] std::conditional_t<sharesRecords<List>, List, Nothing> list_{};
    std::size_t size_ = 0;
    bool known_ = false;
};

} // namespace velmora
