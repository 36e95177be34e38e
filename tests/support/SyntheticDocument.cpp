#include "SyntheticDocument.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pizzacore::testing {

DocumentShape DocumentShape::tiny() {
    return {.orders = 6,
            .linesPerOrder = 2,
            .customers = 4,
            .products = 5,
            .imageBytes = 0,
            .sessions = 2,
            .paidShare = 0.7,
            .awkwardText = false};
}

DocumentShape DocumentShape::small() {
    return {.orders = 150,
            .linesPerOrder = 3,
            .customers = 40,
            .products = 24,
            .imageBytes = 600,
            .sessions = 6,
            .paidShare = 0.85,
            .awkwardText = false};
}

DocumentShape DocumentShape::medium() {
    return {.orders = 5'000,
            .linesPerOrder = 3,
            .customers = 600,
            .products = 60,
            .imageBytes = 16 * 1024,
            .sessions = 40,
            .paidShare = 0.9,
            .awkwardText = false};
}

DocumentShape DocumentShape::busyYear() {
    return {.orders = 50'000,
            .linesPerOrder = 3,
            .customers = 5'000,
            .products = 200,
            .imageBytes = 150 * 1024,
            .sessions = 400,
            .paidShare = 0.9,
            .awkwardText = false};
}

namespace {

// xoshiro256** seeded through splitmix64: fast, and the same sequence on every platform.
class Random {
public:
    explicit Random(std::uint64_t seed) {
        for (auto& word : state_) {
            seed += 0x9E3779B97F4A7C15ULL;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
            word = z ^ (z >> 31);
        }
    }

    std::uint64_t next() {
        const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }

    // Uniform enough in [0, bound) for the small bounds used here; bound > 0.
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(next() % bound); }
    // Uniform in [low, high], both included.
    std::int64_t between(std::int64_t low, std::int64_t high) {
        return low + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(high - low + 1));
    }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    bool chance(double probability) { return unit() < probability; }

    template <class T, std::size_t N>
    const T& pick(const std::array<T, N>& pool) {
        return pool[below(N)];
    }

    Uuid uuid() {
        Uuid uuid;
        const std::uint64_t high = next(), low = next();
        std::memcpy(uuid.bytes.data(), &high, 8);
        std::memcpy(uuid.bytes.data() + 8, &low, 8);
        uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0F) | 0x40);
        uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3F) | 0x80);
        return uuid;
    }

    void fill(std::span<std::uint8_t> out) {
        std::size_t i = 0;
        for (; i + 8 <= out.size(); i += 8) {
            const std::uint64_t word = next();
            std::memcpy(out.data() + i, &word, 8);
        }
        if (i < out.size()) {
            const std::uint64_t word = next();
            std::memcpy(out.data() + i, &word, out.size() - i);
        }
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::array<std::uint64_t, 4> state_{};
};

using Pool = std::array<std::string_view, 8>;

constexpr Pool firstNames = {"María", "José", "Lucía", "Javier", "Carmen", "Íñigo", "Nuria", "Óscar"};
constexpr Pool surnames = {"García", "Fernández", "López", "Martínez", "Sánchez", "Pérez", "Núñez", "Ibáñez"};
constexpr Pool streets = {
    "Alcalá",    "Mayor", "Gran Vía", "de la Constitución", "del Pilar", "San Vicente Mártir",
    "Peñíscola", "Colón"};
constexpr Pool customerNotes = {"",
                                "",
                                "Llamar antes de subir",
                                "Portal verde, 3º izquierda",
                                "Alergia al marisco",
                                "Timbre roto: llamar al móvil",
                                "",
                                "Deja propina"};
constexpr Pool orderNotes = {
    "",          "", "", "Sin prisa", "Cortar en 8 trozos", "Traer cambio de 50 €", "Es para un cumpleaños",
    "Bien hecha"};
constexpr Pool lineNotes = {"sin cebolla", "extra de queso", "sin aceitunas", "poco hecha",
                            "masa fina",   "con hielo",      "sin gluten",    "doble de salsa"};
constexpr Pool cancellationReasons = {"Cliente no contesta", "Pedido duplicado", "Dirección errónea",
                                      "Se ha ido sin pagar", "Error al teclear", "Tardábamos demasiado",
                                      "Sin repartidor",      "Cambio de pedido"};
constexpr std::array<std::string_view, 6> sizeSuffixes = {"",    " mediana",    " familiar", " sin gluten",
                                                          " XL", " para llevar"};

// Pieces that stress the writer's escaping and the reader's unescaping: multi-byte and
// four-byte UTF-8, quotes, backslashes, slashes, control characters and line separators.
constexpr std::array<std::string_view, 21> awkwardPieces = {
    "«La Ñora»",        "piñón y jalapeño",     "ÁÉÍÓÚ áéíóú ü Ü",         "🍕🍺",
    "👩‍🍳 chef", "\"entre comillas\"",   "barra \\ invertida",      "C/ Mayor 1/2",
    "con\ttabulador",   "dos\nlíneas",          "retorno\r\nde carro",     "\x01inicio",
    "fin\x1f",          "\x0b\x0c\x08 control", "separador\u2028de línea", "párrafo\u2029",
    "borrar\x7f",       "100 € – ½ ración",     "'simple' y `grave`",      "\\u00e9 literal",
    "</script>",
};

// One kind of category of the catalogue with what its products look like.
struct CategoryKind {
    std::string_view fixedID; // empty for categories created by the operator
    std::string_view name;
    std::string_view awkwardName;
    bool bar;
    Pool products;
    Cents lowest, highest;
    std::int64_t taxRate;
};

constexpr std::array<CategoryKind, 6> categoryKinds = {{
    {"pizzas",
     "Pizzas",
     "Pizzas",
     false,
     {"Margarita", "Barbacoa", "Cuatro quesos", "Carbonara", "Hawaiana", "Diávola", "Vegetal", "Calzone"},
     850,
     1650,
     1000},
    {"refrescos",
     "Refrescos",
     "Refrescos",
     true,
     {"Agua mineral", "Coca-Cola", "Fanta naranja", "Nestea", "Aquarius", "Zumo de naranja", "Tónica",
      "Sprite"},
     150,
     350,
     1000},
    {"complementos",
     "Complementos",
     "Complementos",
     false,
     {"Patatas bravas", "Alitas de pollo", "Pan de ajo", "Nuggets", "Aros de cebolla", "Croquetas caseras",
      "Nachos con queso", "Salsa extra"},
     250,
     700,
     1000},
    {"",
     "Postres",
     "Postres «de la casa» 🍰",
     false,
     {"Tiramisú", "Tarta de queso", "Brownie", "Coulant de chocolate", "Helado de turrón", "Flan casero",
      "Natillas", "Arroz con leche"},
     350,
     600,
     1000},
    {"",
     "Cervezas y vinos",
     "Cervezas \"artesanas\" / vinos",
     true,
     {"Caña", "Tercio", "Cerveza 0,0", "Tinto de verano", "Copa de Rioja", "Sangría (jarra)",
      "Clara de limón", "Vermú"},
     200,
     1200,
     2100},
    {"",
     "Ensaladas",
     "Ensaladas\\bowls",
     false,
     {"César", "Caprese", "Mixta", "De la huerta", "Griega", "Templada de cabra", "Quinoa", "Pasta fría"},
     650,
     1100,
     1000},
}};

constexpr std::array<std::uint8_t, 8> pngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

using Day = std::chrono::sys_days;

// Spain's summer time: from the last Sunday of March to the last Sunday of October. The
// instants computed here are 3:00 or later on the day of a change, after the jump.
bool summerTime(Day day) {
    using namespace std::chrono;
    const year y = year_month_day{day}.year();
    const Day start{y / March / Sunday[last]};
    const Day end{y / October / Sunday[last]};
    return day >= start && day < end;
}

class Clock {
public:
    explicit Clock(int standardOffsetHours)
        : standardOffset_(standardOffsetHours) {}

    // The instant at which the business zone's wall clock reads `minutes` after midnight of `day`.
    double at(Day day, std::int64_t minutes) const {
        using namespace std::chrono;
        constexpr Day reference{year{2001} / January / 1};
        const int offset = standardOffset_ + (summerTime(day) ? 1 : 0);
        return static_cast<double>((day - reference).count()) * 86'400.0 +
               static_cast<double>(minutes) * 60.0 - offset * 3'600.0;
    }

private:
    int standardOffset_;
};

std::string dayText(Day day) {
    const std::chrono::year_month_day date{day};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

enum class Action {
    settings,
    category,
    product,
    customer,
    fiscalSettings,
    proposal,
    open,
    close,
    confirm,
    print,
    ready,
    delivered,
    cancel,
    pay
};

// Something that happened and leaves an audit entry; sorted by time, ties in order of making.
struct Event {
    double at;
    std::size_t sequence;
    Action action;
    std::size_t index;
};

class Builder {
public:
    Builder(const DocumentShape& shape, std::uint64_t seed)
        : shape_(shape)
        , random_(seed)
        , awkward_(shape.awkwardText)
        , canary_(random_.chance(0.2))
        , clock_(canary_ ? 0 : 1) {
        if (shape_.orders > 0) {
            shape_.products = std::max<std::size_t>(shape_.products, 1);
            shape_.sessions = std::max<std::size_t>(shape_.sessions, 1);
        }
        shape_.linesPerOrder = std::clamp<std::size_t>(shape_.linesPerOrder, 1, 1000);
    }

    Database build() {
        makeSettings();
        makeSessions();
        makeCatalogue();
        makeCustomers();
        makeOrders();
        std::optional<FiscalState> fiscal = makeFiscal();
        if (fiscal) settings_.currency = fiscal->settings.currency;
        Draft draft = makeStoredDraft();
        writeAuditTrail();
        const auto nextNumber = static_cast<std::int64_t>(orders_.size()) + 1;
        return Database{.fiscal = std::move(fiscal),
                        .categories = std::move(categories_),
                        .schemaVersion = 1,
                        .customers = std::move(customers_),
                        .products = std::move(products_),
                        .orders = std::move(orders_),
                        .payments = std::move(payments_),
                        .sessions = std::move(sessions_),
                        .settings = std::move(settings_),
                        .draft = std::move(draft),
                        .nextNumber = nextNumber,
                        .audit = std::move(audit_)};
    }

private:
    // A text of the restaurant's; with awkward text, often with an awkward piece in it.
    std::string text(std::string base) {
        if (!awkward_ || !random_.chance(0.6)) return base;
        const std::string_view piece = random_.pick(awkwardPieces);
        switch (random_.below(3)) {
        case 0:
            return std::string(piece) + " " + base;
        case 1:
            return base + " " + std::string(piece);
        default: {
            const std::size_t middle = base.find(' ');
            if (middle == std::string::npos) return base + std::string(piece);
            return base.substr(0, middle) + " " + std::string(piece) + base.substr(middle);
        }
        }
    }

    std::string pickText(const Pool& pool) {
        const std::string_view base = random_.pick(pool);
        return base.empty() ? std::string() : text(std::string(base));
    }

    // A span of time of `low` to `high` whole seconds plus a fraction. Two draws in one expression
    // would leave their order to the compiler, so every draw here is a statement of its own.
    double seconds(std::int64_t low, std::int64_t high) {
        const auto whole = static_cast<double>(random_.between(low, high));
        return whole + random_.unit();
    }

    // A Spanish number written the way operators type them; the key is the nine digits.
    std::string phone(std::uint64_t digits) {
        char d[16];
        std::snprintf(d, sizeof d, "%09llu", static_cast<unsigned long long>(digits));
        const std::string_view n(d, 9);
        auto cut = [&](std::size_t from, std::size_t length) { return std::string(n.substr(from, length)); };
        switch (random_.below(awkward_ ? 11 : 9)) {
        case 0:
            return std::string(n);
        case 1:
            return cut(0, 3) + " " + cut(3, 3) + " " + cut(6, 3);
        case 2:
            return cut(0, 3) + " " + cut(3, 2) + " " + cut(5, 2) + " " + cut(7, 2);
        case 3:
            return "+34 " + cut(0, 3) + " " + cut(3, 3) + " " + cut(6, 3);
        case 4:
            return "+34" + std::string(n);
        case 5:
            return "0034 " + cut(0, 3) + " " + cut(3, 3) + " " + cut(6, 3);
        case 6:
            return "0034" + std::string(n);
        case 7:
            return cut(0, 3) + "-" + cut(3, 3) + "-" + cut(6, 3);
        case 8:
            return "(+34) " + cut(0, 3) + "." + cut(3, 2) + "." + cut(5, 2) + "." + cut(7, 2);
        case 9:
            return "+34\t" + cut(0, 3) + "/" + cut(3, 3) + "/" + cut(6, 3);
        default:
            return "☎ " + cut(0, 3) + "\u00A0" + cut(3, 3) + "\u00A0" + cut(6, 3);
        }
    }

    std::string address() {
        std::string street = "C/ " + std::string(random_.pick(streets));
        street += " " + std::to_string(random_.between(1, 140));
        if (random_.chance(0.6)) {
            street += ", " + std::to_string(random_.between(1, 9)) + "º ";
            street += "ABCD"[random_.below(4)];
        }
        return text(std::move(street));
    }

    std::string personName() {
        std::string name(random_.pick(firstNames));
        name += " ";
        name += random_.pick(surnames);
        return text(std::move(name));
    }

    Bytes image(std::size_t size) {
        Bytes bytes(size);
        const std::size_t head = std::min(size, pngSignature.size());
        std::copy_n(pngSignature.begin(), head, bytes.begin());
        random_.fill(std::span(bytes).subspan(head));
        return bytes;
    }

    void record(double at, Action action, std::size_t index = 0) {
        events_.push_back(Event{at, events_.size(), action, index});
    }

    void makeSettings() {
        static constexpr std::array<std::pair<std::int64_t, std::int64_t>, 4> closingTimes = {
            {{4, 0}, {4, 0}, {3, 30}, {5, 0}}};
        const auto [hour, minute] = random_.pick(closingTimes);
        closingMinutes_ = hour * 60 + minute;
        const std::size_t logoSize =
            shape_.imageBytes ? std::min<std::size_t>(shape_.imageBytes, 8'192) + 1 : 67;
        settings_ = Settings{
            .currency = std::nullopt,
            .business = text("Pizzería La Piñata"),
            .taxID = "B" + std::to_string(random_.between(10'000'000, 99'999'999)),
            .phone = random_.chance(0.8)
                         ? phone(static_cast<std::uint64_t>(random_.between(910'000'000, 989'999'999)))
                         : std::string(),
            .address = address(),
            .footer = random_.chance(0.5) ? std::string("Gracias por tu pedido")
                                          : text("¡Buen provecho! / Bon profit"),
            .logo = random_.chance(0.5) ? std::optional<Bytes>(image(logoSize)) : std::nullopt,
            .paper = allCases<Paper>()[random_.below(3)],
            .kitchen = true,
            .bar = random_.chance(0.5),
            .customer = random_.chance(0.9),
            .fullCopies = random_.chance(0.2),
            .closingHour = hour,
            .closingMinute = minute,
            .timeZone = canary_ ? "Atlantic/Canary" : "Europe/Madrid",
            .printer = random_.chance(0.5) ? std::string() : std::string("EPSON TM-T20III"),
            // Left at their defaults, so the rest of the document is drawn as before.
            .saveCardOnConfirm = std::nullopt,
            .printOnConfirm = std::nullopt,
            .openDrawerOnCash = std::nullopt,
            .printReportOnClose = std::nullopt,
            .callerIDDevice = std::nullopt,
        };
    }

    // One business day per session, every day of a stretch; every session but the last closed
    // automatically at its scheduled end.
    void makeSessions() {
        using namespace std::chrono;
        const Day first = Day{year{2022} / January / 1} + days{random_.between(0, 900)};
        sessions_.reserve(shape_.sessions);
        for (std::size_t k = 0; k < shape_.sessions; ++k) {
            const Day day = first + days{static_cast<int>(k)};
            const double opened = clock_.at(day, 11 * 60) + seconds(0, 3'599);
            const double end = clock_.at(day + days{1}, closingMinutes_);
            const bool last = k + 1 == shape_.sessions;
            sessions_.push_back(
                Session{.id = random_.uuid(),
                        .businessDay = dayText(day),
                        .opened = Instant{opened},
                        .scheduledEnd = Instant{end},
                        .closed = last ? std::nullopt : std::optional<Instant>(Instant{end}),
                        .reason = last ? std::nullopt : std::optional<std::string>("Automático"),
                        // Frozen when the audit trail is replayed.
                        .salesAtClose = std::nullopt,
                        .receiptsAtClose = std::nullopt,
                        .unpaidAtClose = std::nullopt});
            record(opened, Action::open, k);
            if (!last) record(end, Action::close, k);
        }
        setupAt_ = sessions_.empty() ? 700'000'000.0 : sessions_.front().opened.seconds - 86'400.0;
    }

    void makeCatalogue() {
        record(setupAt_ - 600, Action::settings);
        for (const CategoryKind& kind : categoryKinds) {
            Category category{
                .id = kind.fixedID.empty() ? random_.uuid().text() : std::string(kind.fixedID),
                .rawValue = std::string(awkward_ ? kind.awkwardName : kind.name),
                .bar = kind.bar,
            };
            if (kind.fixedID.empty())
                record(setupAt_ - 300 + static_cast<double>(categories_.size()), Action::category,
                       categories_.size());
            categories_.push_back(std::move(category));
        }
        products_.reserve(shape_.products);
        for (std::size_t i = 0; i < shape_.products; ++i) {
            const std::size_t c = i % categoryKinds.size();
            const CategoryKind& kind = categoryKinds[c];
            const std::size_t j = i / categoryKinds.size();
            std::string name = std::string(kind.products[j % kind.products.size()]);
            name += sizeSuffixes[(j / kind.products.size()) % sizeSuffixes.size()];
            if (j >= kind.products.size() * sizeSuffixes.size())
                name += " nº " + std::to_string(j / (kind.products.size() * sizeSuffixes.size()) + 1);
            std::optional<std::int64_t> taxRate;
            if (random_.chance(0.8))
                taxRate = random_.chance(0.05) ? random_.between(0, 10'000) : kind.taxRate;
            const bool withImage = shape_.imageBytes > 0 && (shape_.products >= 100 || i % 4 != 3);
            const Cents cents =
                name.starts_with("Salsa") ? 0 : random_.between(kind.lowest / 10, kind.highest / 10) * 10;
            products_.push_back(Product{
                .taxRate = taxRate,
                .image = withImage ? std::optional<Bytes>(image(shape_.imageBytes + i % 3)) : std::nullopt,
                .id = random_.uuid(),
                .name = text(std::move(name)),
                .category = categories_[c],
                .cents = cents,
                .active = random_.chance(0.9),
            });
            record(setupAt_ + static_cast<double>(i), Action::product, i);
        }
    }

    // Cards are made over the whole stretch, in order, so that an order can only be linked to a
    // card that already exists when it is confirmed.
    void makeCustomers() {
        const double from = setupAt_ + 3'600;
        const double to = sessions_.empty() ? from + 86'400 : sessions_.back().opened.seconds + 12 * 3'600;
        const auto phoneOffset = static_cast<std::uint64_t>(random_.between(0, 199'999'999));
        customers_.reserve(shape_.customers);
        customerSaved_.reserve(shape_.customers);
        for (std::size_t k = 0; k < shape_.customers; ++k) {
            // 7919 is prime to the 200,000,000 numbers of the range, so every card gets its own key.
            const std::uint64_t number = 600'000'000 + (k * 7'919 + phoneOffset) % 200'000'000;
            customers_.push_back(Customer{.id = random_.uuid(),
                                          .name = personName(),
                                          .phone = phone(number),
                                          .address = random_.chance(0.85) ? address() : std::string(),
                                          .notes = pickText(customerNotes)});
            const double at = from + (to - from) * (static_cast<double>(k) + random_.unit()) /
                                         static_cast<double>(shape_.customers);
            customerSaved_.push_back(at);
            record(at, Action::customer, k);
        }
    }

    Draft draftFor(double at) {
        Draft draft{.id = random_.uuid(),
                    .customerID = std::nullopt,
                    .name = {},
                    .phone = {},
                    .address = {},
                    .customerNotes = {},
                    .notes = pickText(orderNotes),
                    .mode = Mode::pickup,
                    .lines = {}};
        const auto known = static_cast<std::size_t>(
            std::upper_bound(customerSaved_.begin(), customerSaved_.end(), at) - customerSaved_.begin());
        if (known > 0 && random_.chance(0.75)) {
            const Customer& customer = customers_[random_.below(known)];
            draft.customerID = customer.id;
            draft.name = customer.name;
            draft.phone = customer.phone;
            draft.address = customer.address;
            draft.customerNotes = customer.notes;
            draft.mode = customer.address.empty() || random_.chance(0.3) ? Mode::pickup : Mode::delivery;
        } else {
            if (random_.chance(0.5)) draft.name = text(std::string(random_.pick(firstNames)));
            if (random_.chance(0.3))
                draft.phone = phone(static_cast<std::uint64_t>(random_.between(600'000'000, 799'999'999)));
            draft.mode = random_.chance(0.5) ? Mode::local : Mode::pickup;
        }
        return draft;
    }

    Line line(const Product& product) {
        std::int64_t quantity = random_.chance(0.8) ? 1 : random_.between(2, 4);
        if (awkward_ && random_.chance(0.01)) quantity = 999;
        return Line{.taxRate = product.taxRate,
                    .id = random_.uuid(),
                    .productID = product.id,
                    .name = product.name,
                    .category = product.category,
                    .cents = product.cents,
                    .quantity = quantity,
                    .notes =
                        random_.chance(0.15) ? text(std::string(random_.pick(lineNotes))) : std::string()};
    }

    void makeOrders() {
        orders_.reserve(shape_.orders);
        orderSession_.reserve(shape_.orders);
        orderTotal_.reserve(shape_.orders);
        paidIn_.assign(shape_.orders, 0);
        paidWith_.assign(shape_.orders, PaymentMethod::cash);
        const std::size_t sessionCount = sessions_.size();
        std::size_t made = 0;
        for (std::size_t k = 0; k < sessionCount; ++k) {
            const std::size_t count =
                shape_.orders / sessionCount + (k < shape_.orders % sessionCount ? 1 : 0);
            const bool open = k + 1 == sessionCount;
            for (std::size_t j = 0; j < count; ++j, ++made) {
                // Between twenty minutes after opening and thirteen hours later, well before the
                // closing time even after the payments and state changes that follow.
                const double created =
                    sessions_[k].opened.seconds + 1'200 +
                    46'800 * (static_cast<double>(j) + random_.unit()) / static_cast<double>(count);
                makeOrder(made, k, created, open);
            }
        }
        std::stable_sort(payments_.begin(), payments_.end(),
                         [](const Payment& a, const Payment& b) { return a.date < b.date; });
    }

    void makeOrder(std::size_t index, std::size_t session, double created, bool sessionOpen) {
        Draft draft = draftFor(created);
        draft.lines.reserve(shape_.linesPerOrder);
        for (std::size_t l = 0; l < shape_.linesPerOrder; ++l)
            draft.lines.push_back(line(products_[random_.below(products_.size())]));
        if (draft.total() > Money::ceiling)
            for (Line& l : draft.lines)
                l.quantity = 1;
        const Cents total = draft.total();
        const auto number = static_cast<std::int64_t>(index) + 1;

        const bool cancelled = (index == 1 && shape_.orders >= 3) || random_.chance(0.03);
        Preparation preparation = Preparation::delivered;
        if (cancelled)
            preparation = Preparation::cancelled;
        else if (sessionOpen)
            preparation = allCases<Preparation>()[random_.below(3)];

        const double u = random_.unit();
        const std::int64_t printAttempts = u < 0.1 ? 0 : u < 0.93 ? 1 : 2;

        orders_.push_back(Order{
            .id = random_.uuid(),
            .number = number,
            .created = Instant{created},
            .sessionID = sessions_[session].id,
            .draft = std::move(draft),
            .preparation = preparation,
            .cancellationReason =
                cancelled ? std::optional<std::string>(pickText(cancellationReasons)) : std::nullopt,
            .printAttempts = printAttempts,
        });
        orderSession_.push_back(session);
        orderTotal_.push_back(total);

        record(created, Action::confirm, index);
        for (std::int64_t a = 0; a < printAttempts; ++a)
            record(created + 20.0 * static_cast<double>(a + 1) + random_.unit(), Action::print, index);
        if (cancelled) {
            record(created + seconds(120, 900), Action::cancel, index);
            return;
        }
        if (preparation == Preparation::ready || preparation == Preparation::delivered)
            record(created + seconds(720, 1'500), Action::ready, index);
        if (preparation == Preparation::delivered)
            record(created + seconds(1'800, 3'300), Action::delivered, index);

        if (!random_.chance(shape_.paidShare)) return;
        std::size_t paidIn = session;
        double paidAt = created + seconds(180, 4'200);
        // Now and then an order is paid the next day, in the next session.
        if (!sessionOpen && random_.chance(0.02)) {
            paidIn = session + 1;
            paidAt = sessions_[paidIn].opened.seconds + seconds(300, 7'200);
        }
        const bool cash = random_.chance(0.55);
        Cents received = total;
        if (cash) {
            static constexpr std::array<Cents, 6> roundings = {1, 100, 500, 1'000, 2'000, 5'000};
            const Cents step = random_.pick(roundings);
            received = (total + step - 1) / step * step;
            if (received > Money::ceiling) received = total;
        }
        paidIn_[index] = paidIn;
        paidWith_[index] = cash ? PaymentMethod::cash : PaymentMethod::card;
        record(paidAt, Action::pay, index);
        payments_.push_back(Payment{.id = random_.uuid(),
                                    .orderID = orders_.back().id,
                                    .sessionID = sessions_[paidIn].id,
                                    .date = Instant{paidAt},
                                    .method = cash ? PaymentMethod::cash : PaymentMethod::card,
                                    .cents = total,
                                    .received = received});
    }

    std::optional<FiscalState> makeFiscal() {
        if (orders_.empty() || !random_.chance(0.5)) return std::nullopt;
        const double savedAt = orders_[orders_.size() / 2].created.seconds + 1'800 + random_.unit();
        FiscalSettings settings{
            .country = "ES",
            .territory = text("Península y Baleares — régimen general"),
            .currency = "EUR",
            .taxName = "IVA",
            .rates = random_.chance(0.5) ? std::vector<std::int64_t>{400, 1000, 2100}
                                         : std::vector<std::int64_t>{1000, 2100},
            .issuerName = settings_.business,
            .issuerTaxID = settings_.taxID,
            .issuerAddress = settings_.address,
            .fullSeries = "F",
            .simpleSeries = random_.chance(0.5) ? "S" : "T-2025",
            .correctionSeries = random_.chance(0.5) ? "R" : "R/2025",
            .producerName = "Velmora",
            .producerTaxID = "B" + std::to_string(random_.between(10'000'000, 99'999'999)),
            .installation = random_.uuid().text(),
            .certificateFingerprint = random_.chance(0.5) ? std::string() : random_.uuid().text(),
            .declaration = random_.chance(0.3) ? std::optional<Bytes>(Bytes{'%', 'P', 'D', 'F', '-', '1', '.',
                                                                            '7', '\n', 0xE2, 0xE3})
                                               : std::nullopt,
        };
        record(savedAt, Action::fiscalSettings);

        FiscalState fiscal{.settings = std::move(settings),
                           .proposals = {},
                           .invoices = {},
                           .events = {},
                           .nextNumbers = {}};
        const std::size_t count = static_cast<std::size_t>(random_.between(1, 4));
        for (std::size_t p = 0; p < count; ++p) {
            const Order& order =
                orders_[orders_.size() / 2 + random_.below(orders_.size() - orders_.size() / 2)];
            InvoiceProposal proposal{
                .id = random_.uuid(),
                .orderID = order.id,
                .created = Instant{savedAt + seconds(600, 172'800)},
                .operationDate = order.created,
                .kind = random_.chance(0.7) ? InvoiceKind::full : InvoiceKind::simplified,
                .recipientName = order.draft.name,
                .recipientTaxID = random_.chance(0.5) ? std::string("12345678Z") : std::string(),
                .recipientAddress = order.draft.address,
                .recipientCountry = random_.chance(0.9) ? "ES" : "PT",
                .lines = {},
                .correctionOf = std::nullopt,
                .reason = {},
            };
            for (const Line& line : order.draft.lines)
                proposal.lines.push_back(FiscalLine{.id = random_.uuid(),
                                                    .description = line.name,
                                                    .quantity = line.quantity,
                                                    .unitGross = line.cents,
                                                    .rate = line.taxRate.value_or(1000)});
            // A proposal made by hand, not from an order.
            if (p == 0 && random_.chance(0.5)) {
                proposal.orderID.reset();
                proposal.lines = {FiscalLine{.id = random_.uuid(),
                                             .description = text("Servicio de catering / evento"),
                                             .quantity = 1,
                                             .unitGross = 15'000,
                                             .rate = 1000}};
            }
            record(proposal.created.seconds, Action::proposal, p);
            fiscal.proposals.push_back(std::move(proposal));
        }
        proposalIDs_.clear();
        for (const InvoiceProposal& proposal : fiscal.proposals)
            proposalIDs_.push_back(proposal.id);
        return fiscal;
    }

    // The order being taken when the document was saved: empty, or a few lines.
    Draft makeStoredDraft() {
        const double now = orders_.empty() ? setupAt_ + 7'200 : orders_.back().created.seconds + 60;
        Draft draft = draftFor(now);
        if (products_.empty() || random_.chance(0.3)) return draft;
        const std::size_t count = static_cast<std::size_t>(random_.between(1, 3));
        for (std::size_t l = 0; l < count; ++l)
            draft.lines.push_back(line(products_[random_.below(products_.size())]));
        return draft;
    }

    // Replays every change in time order: each leaves its audit entry, and each closing freezes
    // the session's sales and receipts and what the whole document was owed at that moment.
    void writeAuditTrail() {
        std::sort(events_.begin(), events_.end(), [](const Event& a, const Event& b) {
            return a.at != b.at ? a.at < b.at : a.sequence < b.sequence;
        });
        std::vector<Cents> sales(sessions_.size()), receipts(sessions_.size());
        Cents unpaid = 0;
        audit_.reserve(events_.size());
        for (const Event& event : events_) {
            std::string action, reference;
            switch (event.action) {
            case Action::settings:
                action = "Guardar ajustes";
                break;
            case Action::category:
                action = "Guardar categoría";
                reference = std::string(trimmed(categories_[event.index].rawValue));
                break;
            case Action::product:
                action = "Guardar producto";
                reference = products_[event.index].id.text();
                break;
            case Action::customer:
                action = "Guardar cliente";
                reference = customers_[event.index].id.text();
                break;
            case Action::fiscalSettings:
                action = "Guardar configuración fiscal";
                break;
            case Action::proposal:
                action = "Guardar propuesta de factura";
                reference = proposalIDs_[event.index].text();
                break;
            case Action::open:
                action = "Apertura";
                reference = sessions_[event.index].id.text();
                break;
            case Action::close: {
                Session& session = sessions_[event.index];
                session.salesAtClose = sales[event.index];
                session.receiptsAtClose = receipts[event.index];
                session.unpaidAtClose = unpaid;
                action = "Cierre " + *session.reason;
                reference = session.id.text();
                break;
            }
            case Action::confirm:
                sales[orderSession_[event.index]] += orderTotal_[event.index];
                unpaid += orderTotal_[event.index];
                action = "Confirmar pedido";
                reference = std::to_string(event.index + 1);
                break;
            case Action::print:
                action = "Intento de impresión";
                reference = std::to_string(event.index + 1);
                break;
            case Action::ready:
            case Action::delivered:
                action =
                    "Estado " + std::string(rawValue(event.action == Action::ready ? Preparation::ready
                                                                                   : Preparation::delivered));
                reference = std::to_string(event.index + 1);
                break;
            case Action::cancel:
                sales[orderSession_[event.index]] -= orderTotal_[event.index];
                unpaid -= orderTotal_[event.index];
                action = "Anulación: " + *orders_[event.index].cancellationReason;
                reference = std::to_string(event.index + 1);
                break;
            case Action::pay:
                receipts[paidIn_[event.index]] += orderTotal_[event.index];
                unpaid -= orderTotal_[event.index];
                action = "Cobro " + std::string(rawValue(paidWith_[event.index]));
                reference = std::to_string(event.index + 1);
                break;
            }
            audit_.push_back(Audit{.id = random_.uuid(),
                                   .date = Instant{event.at},
                                   .action = std::move(action),
                                   .reference = std::move(reference)});
        }
    }

    DocumentShape shape_;
    Random random_;
    bool awkward_;
    // The Canary Islands keep Madrid's time less one hour.
    bool canary_;
    Clock clock_;
    std::int64_t closingMinutes_ = 240;
    double setupAt_ = 0;

    Settings settings_;
    std::vector<Category> categories_;
    std::vector<Product> products_;
    std::vector<Customer> customers_;
    std::vector<double> customerSaved_;
    std::vector<Order> orders_;
    std::vector<std::size_t> orderSession_;
    std::vector<Cents> orderTotal_;
    std::vector<Payment> payments_;
    // For each order, where and how it was paid (when it was).
    std::vector<std::size_t> paidIn_;
    std::vector<PaymentMethod> paidWith_;
    std::vector<Session> sessions_;
    std::vector<Uuid> proposalIDs_;
    std::vector<Event> events_;
    std::vector<Audit> audit_;
};

} // namespace

Database makeDocument(const DocumentShape& shape, std::uint64_t seed) {
    return Builder(shape, seed).build();
}

} // namespace pizzacore::testing
