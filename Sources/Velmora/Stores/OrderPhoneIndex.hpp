#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/RecordList.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Models/Orders.hpp>
#endif

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velmora {

// The positions of the orders by the phone key of their telephone, so that the checkout finds a
// caller's latest orders without reading a year of history on every keystroke. Orders are only
// ever appended and their telephone never changes once confirmed, so bringing the index up to
// date reads only the orders added since; a list that is not an extension of the one indexed (a
// restored copy) is indexed afresh.
class OrderPhoneIndex {
public:
    void update(const pizzacore::RecordList<pizzacore::Order>& orders);

    // The positions, in stored order, of the orders whose telephone has the phone key `key`;
    // none for an empty key.
    const std::vector<std::uint32_t>& positions(const std::string& key) const;

private:
    void add(const pizzacore::RecordList<pizzacore::Order>& orders, std::size_t from);

    std::unordered_map<std::string, std::vector<std::uint32_t>> byKey_;
    std::size_t indexed_ = 0;
    pizzacore::Uuid first_;
    pizzacore::Uuid last_;
};

} // namespace velmora
