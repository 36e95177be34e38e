#pragma once

// RecordList<T>: a list of records that copies in constant time and shares every record it does
// not change with the lists it was copied from.
//
// The document is copied for every change (the copy is changed, saved, then published), and a
// year of a busy restaurant holds tens of thousands of orders and audit entries. A std::vector
// copies every record each time; a RecordList copies one pointer, and a change then clones only
// what it touches:
//
//   RecordList ──> Spine ──> [chunk 0] [chunk 1] ... [chunk n/64]      (shared_ptr each)
//                                │
//                                └──> [record 0] ... [record 63]        (shared_ptr each)
//
// Writing element i clones the spine if another list holds it (n/64 chunk pointers), then chunk
// i/64 if another spine holds it (64 record pointers), then the record itself if another chunk
// holds it. Everything else stays shared, so a changed copy and its original differ only in the
// records that changed, and the work of one change does not grow with the history.
//
// Reading never writes: begin()/end(), operator[] const, front()/back() const and at() yield
// const T&. The writing calls are operator[], front() and back() on a non-const list, modify(),
// replace(), push_back(), emplace_back(), insert(), erase(), clear(), reserve() and erase_if().
// Like std::vector's, any writing call invalidates the iterators and references obtained before
// it, and a reference returned by a writing call is valid until the list is next copied or
// changed. Code that only reads a non-const list should read it through a const reference
// (std::as_const), so as not to clone it.
//
// Threads: the application publishes one document that the window's thread reads while the
// writer thread copies it and changes its copy. That is safe because
// - copying a list copies shared_ptrs, whose reference counts are atomic;
// - a spine, chunk or record is written in place only while exactly one owner holds it (its use
//   count is 1), and is cloned otherwise, so nothing another list can reach is ever written;
// - a use count can only rise from 1 through the one owner, and the owner is the thread writing.
//   A count that fell to 1 because another thread dropped its copy is read with an acquire fence
//   after it, which pairs with the release in that thread's decrement, so its last reads happen
//   before the write.
// As with std::vector, one list object is written by one thread at a time and not read by another
// meanwhile; distinct lists sharing records may be used from any threads.

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <compare>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace pizzacore {

template <class T>
class RecordList {
    static constexpr std::size_t chunkShift = 6;
    static constexpr std::size_t chunkSize = std::size_t{1} << chunkShift;
    static constexpr std::size_t chunkMask = chunkSize - 1;

    using Slot = std::shared_ptr<T>;
    struct Chunk {
        std::array<Slot, chunkSize> items;
    };
    using ChunkPointer = std::shared_ptr<Chunk>;
    // Every chunk is full except the last, whose unused places are empty; there are exactly as
    // many chunks as the size needs.
    struct Spine {
        std::vector<ChunkPointer> chunks;
        std::size_t size = 0;
    };

public:
    using value_type = T;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = const T&;
    using const_reference = const T&;
    using pointer = const T*;
    using const_pointer = const T*;

    class const_iterator {
    public:
        using iterator_concept = std::random_access_iterator_tag;
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = const T*;
        using reference = const T&;

        const_iterator() = default;

        reference operator*() const { return *chunks_[index_ >> chunkShift]->items[index_ & chunkMask]; }
        pointer operator->() const { return &**this; }
        reference operator[](difference_type n) const { return *(*this + n); }

        const_iterator& operator++() {
            ++index_;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator old = *this;
            ++index_;
            return old;
        }
        const_iterator& operator--() {
            --index_;
            return *this;
        }
        const_iterator operator--(int) {
            const_iterator old = *this;
            --index_;
            return old;
        }
        const_iterator& operator+=(difference_type n) {
            index_ = static_cast<std::size_t>(static_cast<difference_type>(index_) + n);
            return *this;
        }
        const_iterator& operator-=(difference_type n) { return *this += -n; }
        friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
        friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
        friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
            return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
        }
        // Positions compare by index: an iterator taken before a write still compares with end().
        friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.index_ == b.index_; }
        friend std::strong_ordering operator<=>(const const_iterator& a, const const_iterator& b) {
            return a.index_ <=> b.index_;
        }

        // The position in the list, for the writing calls that take an iterator.
        std::size_t index() const { return index_; }

    private:
        friend class RecordList;
        const_iterator(const ChunkPointer* chunks, std::size_t index) : chunks_(chunks), index_(index) {}

        const ChunkPointer* chunks_ = nullptr;
        std::size_t index_ = 0;
    };
    using iterator = const_iterator;
    using const_reverse_iterator = std::reverse_iterator<const_iterator>;
    using reverse_iterator = const_reverse_iterator;

    RecordList() = default;
    RecordList(std::initializer_list<T> values) { assign(values.begin(), values.end()); }
    // Implicit, so that code and tests written for std::vector keep building lists from vectors.
    RecordList(const std::vector<T>& values) { assign(values.begin(), values.end()); }
    RecordList(std::vector<T>&& values) {
        assign(std::make_move_iterator(values.begin()), std::make_move_iterator(values.end()));
    }
    template <std::input_iterator It, std::sentinel_for<It> End>
    RecordList(It first, End last) {
        assign(first, last);
    }

    RecordList& operator=(std::initializer_list<T> values) {
        RecordList list(values);
        swap(list);
        return *this;
    }
    RecordList& operator=(const std::vector<T>& values) {
        RecordList list(values);
        swap(list);
        return *this;
    }
    RecordList& operator=(std::vector<T>&& values) {
        RecordList list(std::move(values));
        swap(list);
        return *this;
    }

    void swap(RecordList& other) noexcept { spine_.swap(other.spine_); }
    friend void swap(RecordList& a, RecordList& b) noexcept { a.swap(b); }

    // Reading.

    std::size_t size() const { return spine_ ? spine_->size : 0; }
    bool empty() const { return size() == 0; }

    const_iterator begin() const { return const_iterator(chunkData(), 0); }
    const_iterator end() const { return const_iterator(chunkData(), size()); }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }
    const_reverse_iterator rbegin() const { return const_reverse_iterator(end()); }
    const_reverse_iterator rend() const { return const_reverse_iterator(begin()); }
    const_reverse_iterator crbegin() const { return rbegin(); }
    const_reverse_iterator crend() const { return rend(); }

    const T& operator[](std::size_t i) const {
        assert(i < size());
        return *slot(i);
    }
    const T& at(std::size_t i) const {
        if (i >= size()) throw std::out_of_range("RecordList::at");
        return *slot(i);
    }
    const T& front() const { return (*this)[0]; }
    const T& back() const { return (*this)[size() - 1]; }

    std::vector<T> toVector() const { return std::vector<T>(begin(), end()); }

    // Whether both lists are the very same shared list (two empty lists with nothing allocated
    // count as the same): then they are equal without looking at a record.
    bool sameSpine(const RecordList& other) const { return spine_ == other.spine_; }
    // Whether element i of this list and element j of the other are the very same record.
    bool sameElement(std::size_t i, const RecordList& other, std::size_t j) const {
        return i < size() && j < other.size() && slot(i) == other.slot(j);
    }

    // Equal lists hold equal records in the same order. Shared spines, chunks and records are
    // equal without comparing their values, so comparing a changed copy with its original costs
    // little more than comparing the records that changed.
    friend bool operator==(const RecordList& a, const RecordList& b) {
        if (a.spine_ == b.spine_) return true;
        const std::size_t size = a.size();
        if (size != b.size()) return false;
        for (std::size_t c = 0; c << chunkShift < size; ++c) {
            const ChunkPointer& left = a.spine_->chunks[c];
            const ChunkPointer& right = b.spine_->chunks[c];
            if (left == right) continue;
            const std::size_t count = std::min(chunkSize, size - (c << chunkShift));
            for (std::size_t k = 0; k < count; ++k) {
                const Slot& x = left->items[k];
                const Slot& y = right->items[k];
                if (x != y && !(*x == *y)) return false;
            }
        }
        return true;
    }
    friend bool operator==(const RecordList& a, const std::vector<T>& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }

    // Writing.

    // The element, made this list's own first (cloned if another list shares it).
    T& modify(std::size_t i) {
        if (i >= size()) throw std::out_of_range("RecordList::modify");
        Slot& element = ownChunk(ownSpine(), i >> chunkShift).items[i & chunkMask];
        if (!soleOwner(element)) element = std::make_shared<T>(std::as_const(*element));
        return *element;
    }
    T& modify(const_iterator position) { return modify(position.index()); }
    T& operator[](std::size_t i) { return modify(i); }
    T& front() { return modify(0); }
    T& back() { return modify(size() - 1); }

    // Puts a new record in place of element i, without cloning the old one.
    void replace(std::size_t i, T value) {
        if (i >= size()) throw std::out_of_range("RecordList::replace");
        Slot element = std::make_shared<T>(std::move(value));
        ownChunk(ownSpine(), i >> chunkShift).items[i & chunkMask] = std::move(element);
    }

    void push_back(T value) { emplace_back(std::move(value)); }

    template <class... Args>
    T& emplace_back(Args&&... args) {
        // Built first: the arguments may refer to this list's own records, and a constructor
        // that throws leaves the list as it was.
        Slot element = std::make_shared<T>(std::forward<Args>(args)...);
        Spine& spine = ownSpine();
        const std::size_t at = spine.size;
        if ((at & chunkMask) == 0)
            spine.chunks.push_back(std::make_shared<Chunk>());
        else
            ownChunk(spine, at >> chunkShift);
        Slot& target = spine.chunks[at >> chunkShift]->items[at & chunkMask];
        target = std::move(element);
        ++spine.size;
        return *target;
    }

    // Inserts before `position`; the records after it move one place on, and stay shared.
    const_iterator insert(const_iterator position, T value) {
        const std::size_t at = position.index();
        if (at > size()) throw std::out_of_range("RecordList::insert");
        Slot element = std::make_shared<T>(std::move(value));
        Spine& spine = ownSpine();
        // Everything that can fail first, leaving the list equal to what it was: owning the
        // chunks from the insertion on, then the new last chunk if one is needed. The moves below
        // cannot fail.
        const std::size_t size = spine.size;
        ownChunksFrom(spine, at >> chunkShift);
        if ((size & chunkMask) == 0) spine.chunks.push_back(std::make_shared<Chunk>());
        for (std::size_t k = size; k > at; --k)
            slotOf(spine, k) = std::move(slotOf(spine, k - 1));
        slotOf(spine, at) = std::move(element);
        ++spine.size;
        return const_iterator(spine.chunks.data(), at);
    }

    const_iterator erase(const_iterator position) { return erase(position, position + 1); }

    // Removes [first, last); the records after them move back, and stay shared.
    const_iterator erase(const_iterator first, const_iterator last) {
        const std::size_t from = first.index();
        const std::size_t to = last.index();
        if (from > to || to > size()) throw std::out_of_range("RecordList::erase");
        if (from == to) return const_iterator(chunkData(), from);
        Spine& spine = ownSpine();
        ownChunksFrom(spine, from >> chunkShift);
        const std::size_t size = spine.size;
        for (std::size_t k = to; k < size; ++k)
            slotOf(spine, from + k - to) = std::move(slotOf(spine, k));
        truncate(spine, size - (to - from));
        return const_iterator(spine.chunks.data(), from);
    }

    void clear() noexcept { spine_.reset(); }

    // Room for n records in the spine (the records themselves are allocated one by one).
    void reserve(std::size_t n) {
        Spine& spine = ownSpine();
        spine.chunks.reserve((n + chunkMask) >> chunkShift);
    }

    // Removes the records for which pred is true; gives how many. A list without any such record
    // is left untouched, still shared with its copies.
    template <class Pred>
    std::size_t removeIf(Pred pred) {
        const std::size_t size = this->size();
        std::size_t first = 0;
        while (first < size && !pred(std::as_const(*slot(first))))
            ++first;
        if (first == size) return 0;
        // The predicate is asked about every record before the list changes, so that a predicate
        // that throws leaves the list as it was.
        std::vector<bool> keep(size - first);
        for (std::size_t k = first + 1; k < size; ++k)
            keep[k - first] = !pred(std::as_const(*slot(k)));
        Spine& spine = ownSpine();
        ownChunksFrom(spine, first >> chunkShift);
        std::size_t out = first;
        for (std::size_t k = first + 1; k < size; ++k)
            if (keep[k - first]) slotOf(spine, out++) = std::move(slotOf(spine, k));
        truncate(spine, out);
        return size - out;
    }

private:
    template <class It, class End>
    void assign(It first, End last) {
        if constexpr (std::forward_iterator<It>) reserve(static_cast<std::size_t>(std::distance(first, last)));
        for (; first != last; ++first)
            emplace_back(*first);
    }

    const ChunkPointer* chunkData() const { return spine_ ? spine_->chunks.data() : nullptr; }
    const Slot& slot(std::size_t i) const { return spine_->chunks[i >> chunkShift]->items[i & chunkMask]; }
    static Slot& slotOf(Spine& spine, std::size_t i) { return spine.chunks[i >> chunkShift]->items[i & chunkMask]; }

    // Whether this holder is the only one; then its object may be written in place.
    template <class P>
    static bool soleOwner(const std::shared_ptr<P>& pointer) {
        if (pointer.use_count() != 1) return false;
#if !defined(__SANITIZE_THREAD__)
        // The count is read relaxed; the fence orders the other owners' last reads, released by
        // their decrements, before this owner's writes.
        std::atomic_thread_fence(std::memory_order_acquire);
#endif
        return true;
    }

    Spine& ownSpine() {
        if (!spine_)
            spine_ = std::make_shared<Spine>();
        else if (!soleOwner(spine_))
            spine_ = std::make_shared<Spine>(*spine_);
        return *spine_;
    }

    static Chunk& ownChunk(Spine& spine, std::size_t c) {
        ChunkPointer& chunk = spine.chunks[c];
        if (!soleOwner(chunk)) chunk = std::make_shared<Chunk>(*chunk);
        return *chunk;
    }

    static void ownChunksFrom(Spine& spine, std::size_t c) {
        for (; c < spine.chunks.size(); ++c)
            ownChunk(spine, c);
    }

    // Drops every record from `size` on, in chunks already owned, and the chunks left empty.
    static void truncate(Spine& spine, std::size_t size) noexcept {
        for (std::size_t k = size; k < spine.size; ++k)
            slotOf(spine, k).reset();
        spine.chunks.resize((size + chunkMask) >> chunkShift);
        spine.size = size;
    }

    std::shared_ptr<Spine> spine_;
};

// Removes the records of the list for which pred is true, as std::erase_if does for a vector.
template <class T, class Pred>
std::size_t erase_if(RecordList<T>& list, Pred pred) {
    return list.removeIf(std::move(pred));
}

} // namespace pizzacore
