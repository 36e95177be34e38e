#include <Velmora/Stores/OrderPhoneIndex.hpp>

#include <PizzaCore/Models/PhoneKey.hpp>

namespace velmora {

void OrderPhoneIndex::update(const pizzacore::RecordList<pizzacore::Order>& orders) {
    const bool extends = orders.size() >= indexed_ &&
                         (indexed_ == 0 || (orders.front().id == first_ && orders[indexed_ - 1].id == last_));
    if (!extends) {
        byKey_.clear();
        indexed_ = 0;
    }
    add(orders, indexed_);
}

void OrderPhoneIndex::add(const pizzacore::RecordList<pizzacore::Order>& orders, std::size_t from) {
    for (std::size_t position = from; position < orders.size(); ++position) {
        std::string key = pizzacore::phoneKey(orders[position].draft.phone);
        if (key.empty()) continue;
        byKey_[std::move(key)].push_back(static_cast<std::uint32_t>(position));
    }
    indexed_ = orders.size();
    if (!orders.empty()) {
        first_ = orders.front().id;
        last_ = orders.back().id;
    }
}

const std::vector<std::uint32_t>& OrderPhoneIndex::positions(const std::string& key) const {
    static const std::vector<std::uint32_t> none;
    if (key.empty()) return none;
    const auto found = byKey_.find(key);
    return found == byKey_.end() ? none : found->second;
}

} // namespace velmora
