#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>
#include <support/SyntheticDocument.hpp>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

using namespace pizzacore;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::makeDocument;

namespace {

struct Variant {
    std::string name;
    DocumentShape shape;
    std::uint64_t seeds;
};

std::vector<Variant> variants() {
    DocumentShape awkwardTiny = DocumentShape::tiny(), awkwardSmall = DocumentShape::small();
    awkwardTiny.awkwardText = awkwardSmall.awkwardText = true;
    return {{"tiny", DocumentShape::tiny(), 40},
            {"awkward tiny", awkwardTiny, 40},
            {"small", DocumentShape::small(), 8},
            {"awkward small", awkwardSmall, 8}};
}

// The top-level fields in which two documents differ, so that a failure says where to look.
std::string differingFields(const Database& a, const Database& b) {
    std::string names;
    std::apply(
        [&](const auto&... field) {
            ((names += a.*field.member == b.*field.member ? "" : " " + std::string(field.name)), ...);
        },
        Database::fields());
    return names;
}

// A JSON value as it was written: scalars keep their text (strings with quotes and escapes),
// objects their keys (as written, without quotes) in the order read.
struct Node {
    bool isObject = false, isArray = false;
    std::string scalar;
    std::vector<std::pair<std::string, Node>> members;
    std::vector<Node> items;
};

bool byteLess(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
}

// Reads written JSON without the library and notes every departure from the document's form:
// whitespace between tokens, a raw "/" or control character inside a string, and keys that are
// not in strictly ascending byte order.
class FormReader {
public:
    explicit FormReader(std::string_view text)
        : text_(text) {}

    Node read() {
        Node root = value();
        if (at_ != text_.size()) throw std::runtime_error("text after the document");
        return root;
    }
    const std::vector<std::string>& faults() const { return faults_; }

private:
    char peek() const {
        if (at_ >= text_.size()) throw std::runtime_error("unexpected end");
        return text_[at_];
    }
    void expect(char c) {
        if (peek() != c)
            throw std::runtime_error(std::string("expected ") + c + " at " + std::to_string(at_));
        ++at_;
    }
    void fault(const std::string& what) {
        if (faults_.size() < 10) faults_.push_back(what + " at byte " + std::to_string(at_));
    }
    void space() {
        const std::size_t start = at_;
        while (at_ < text_.size() && std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos)
            ++at_;
        if (at_ != start) fault("whitespace");
    }

    Node value() {
        space();
        Node node;
        const char c = peek();
        if (c == '{' || c == '[') {
            ++at_;
            node.isObject = c == '{';
            node.isArray = c == '[';
            space();
            const char close = node.isObject ? '}' : ']';
            std::string previousKey;
            while (peek() != close) {
                if (!node.members.empty() || !node.items.empty()) expect(',');
                if (node.isObject) {
                    space();
                    std::string key;
                    std::string written = string(&key);
                    if (!node.members.empty() && !byteLess(previousKey, key))
                        fault("key \"" + key + "\" after \"" + previousKey + "\"");
                    previousKey = key;
                    space();
                    expect(':');
                    node.members.emplace_back(written.substr(1, written.size() - 2), value());
                } else {
                    node.items.push_back(value());
                }
            }
            ++at_;
        } else if (c == '"') {
            node.scalar = string(nullptr);
        } else {
            const std::size_t start = at_;
            while (at_ < text_.size() &&
                   std::string_view(",]} \t\r\n").find(text_[at_]) == std::string_view::npos)
                ++at_;
            if (at_ == start) throw std::runtime_error("missing value at " + std::to_string(at_));
            node.scalar = std::string(text_.substr(start, at_ - start));
        }
        space();
        return node;
    }

    // A string token as written; its decoded text goes to `decoded` when given.
    std::string string(std::string* decoded) {
        const std::size_t start = at_;
        expect('"');
        for (;;) {
            const auto c = static_cast<unsigned char>(peek());
            ++at_;
            if (c == '"') break;
            if (c < 0x20) fault("raw control character");
            if (c == '/') fault("unescaped slash");
            if (c != '\\') {
                if (decoded) decoded->push_back(static_cast<char>(c));
                continue;
            }
            const char e = peek();
            ++at_;
            if (e == 'u') {
                const auto code = std::stoul(std::string(text_.substr(at_, 4)), nullptr, 16);
                at_ += 4;
                // Only the controls are written as \u escapes; keys are never among them.
                if (decoded) decoded->push_back(static_cast<char>(code));
                continue;
            }
            const auto k = std::string_view("\"\\/bfnrt").find(e);
            if (k == std::string_view::npos) throw std::runtime_error("bad escape at " + std::to_string(at_));
            if (decoded) decoded->push_back("\"\\/\b\f\n\r\t"[k]);
        }
        return std::string(text_.substr(start, at_ - start));
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::vector<std::string> faults_;
};

std::string plainSlashes(std::string_view written) {
    std::string out;
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (written[i] == '\\' && i + 1 < written.size()) {
            if (written[i + 1] != '/') out.push_back('\\');
            out.push_back(written[++i]);
        } else {
            out.push_back(written[i]);
        }
    }
    return out;
}

// Writes the value back as another writer might: keys in reverse order, spaces and line breaks
// between tokens, "/" unescaped.
void writeForeign(const Node& node, std::string& out) {
    if (node.isObject) {
        out += "{\n";
        for (auto member = node.members.rbegin(); member != node.members.rend(); ++member) {
            if (member != node.members.rbegin()) out += " ,\n";
            out += "\t\"" + plainSlashes(member->first) + "\" : ";
            writeForeign(member->second, out);
        }
        out += "\n}";
    } else if (node.isArray) {
        out += "[ ";
        for (std::size_t i = 0; i < node.items.size(); ++i) {
            if (i) out += " , ";
            writeForeign(node.items[i], out);
        }
        out += " ]";
    } else {
        out += plainSlashes(node.scalar);
    }
}

void expectWrittenForm(const std::string& json) {
    FormReader reader(json);
    ASSERT_NO_THROW(reader.read());
    EXPECT_EQ(reader.faults(), std::vector<std::string>{});
}

template <class T>
T readForeign(const std::string& json) {
    std::string foreign;
    writeForeign(FormReader(json).read(), foreign);
    return fromJSON<T>(foreign);
}

} // namespace

// The round trips above are only as good as the documents: they must be ones the program could
// have saved, and the same for the same seed.
TEST(SyntheticDocument, IsRepeatableAndKeepsTheRulesOfAStoredDocument) {
    EXPECT_EQ(toJSON(makeDocument(DocumentShape::small(), 7)),
              toJSON(makeDocument(DocumentShape::small(), 7)));
    EXPECT_NE(toJSON(makeDocument(DocumentShape::small(), 7)),
              toJSON(makeDocument(DocumentShape::small(), 8)));

    for (const Variant& variant : variants()) {
        for (std::uint64_t seed = 0; seed < 6; ++seed) {
            SCOPED_TRACE(variant.name + " document, seed " + std::to_string(seed));
            const Database db = makeDocument(variant.shape, seed);
            const DocumentShape& shape = variant.shape;
            ASSERT_EQ(db.orders.size(), shape.orders);
            ASSERT_EQ(db.sessions.size(), shape.sessions);
            EXPECT_EQ(db.customers.size(), shape.customers);
            EXPECT_EQ(db.products.size(), shape.products);

            std::set<std::string> categoryIDs, phoneKeys;
            for (const Category& category : db.categories)
                EXPECT_TRUE(categoryIDs.insert(category.id).second);
            for (const Customer& customer : db.customers) {
                EXPECT_TRUE(phoneKeys.insert(phoneKey(customer.phone)).second) << customer.phone;
                EXPECT_TRUE(isValidPhone(customer.phone)) << customer.phone;
            }
            std::map<Uuid, const Product*> products;
            for (const Product& product : db.products) {
                products[product.id] = &product;
                EXPECT_NE(std::find(db.categories.begin(), db.categories.end(), product.category),
                          db.categories.end());
                EXPECT_LE(product.image.value_or(Bytes{}).size(), 2'000'000u);
            }

            std::map<Uuid, std::size_t> sessionIndex;
            for (std::size_t k = 0; k < db.sessions.size(); ++k) {
                const Session& session = db.sessions[k];
                sessionIndex[session.id] = k;
                const bool last = k + 1 == db.sessions.size();
                EXPECT_EQ(session.closed.has_value(), !last);
                EXPECT_EQ(session.salesAtClose.has_value(), !last);
                EXPECT_TRUE(k == 0 || db.sessions[k - 1].businessDay < session.businessDay);
                EXPECT_LT(session.opened, session.scheduledEnd);
            }
            EXPECT_EQ(sessionIndex.size(), db.sessions.size());

            std::map<Uuid, const Order*> orders;
            std::vector<Cents> sales(db.sessions.size()), receipts(db.sessions.size());
            for (std::size_t i = 0; i < db.orders.size(); ++i) {
                const Order& order = db.orders[i];
                orders[order.id] = &order;
                EXPECT_EQ(order.number, static_cast<std::int64_t>(i) + 1);
                EXPECT_TRUE(i == 0 || db.orders[i - 1].created < order.created);
                ASSERT_TRUE(sessionIndex.contains(order.sessionID));
                EXPECT_EQ(order.preparation == Preparation::cancelled, order.cancellationReason.has_value());
                EXPECT_LE(order.total(), Money::ceiling);
                EXPECT_EQ(order.draft.lines.size(), shape.linesPerOrder);
                for (const Line& line : order.draft.lines) {
                    EXPECT_TRUE(line.quantity >= 1 && line.quantity <= 999);
                    const Product& product = *products.at(line.productID);
                    EXPECT_TRUE(line.name == product.name && line.category == product.category &&
                                line.cents == product.cents && line.taxRate == product.taxRate);
                }
                if (order.preparation != Preparation::cancelled)
                    sales[sessionIndex[order.sessionID]] += order.total();
            }
            EXPECT_EQ(orders.size(), db.orders.size());
            EXPECT_EQ(db.nextNumber, static_cast<std::int64_t>(db.orders.size()) + 1);

            std::set<Uuid> paidOrders;
            for (const Payment& payment : db.payments) {
                const Order& order = *orders.at(payment.orderID);
                EXPECT_TRUE(paidOrders.insert(order.id).second);
                EXPECT_NE(order.preparation, Preparation::cancelled);
                EXPECT_EQ(payment.cents, order.total());
                EXPECT_TRUE(payment.received >= payment.cents && payment.received <= Money::ceiling);
                EXPECT_TRUE(payment.method == PaymentMethod::cash || payment.received == payment.cents);
                ASSERT_TRUE(sessionIndex.contains(payment.sessionID));
                receipts[sessionIndex[payment.sessionID]] += payment.cents;
            }
            for (std::size_t k = 0; k + 1 < db.sessions.size(); ++k) {
                EXPECT_EQ(db.sessions[k].salesAtClose, sales[k]);
                EXPECT_EQ(db.sessions[k].receiptsAtClose, receipts[k]);
            }

            EXPECT_TRUE(std::is_sorted(db.audit.begin(), db.audit.end(),
                                       [](const Audit& a, const Audit& b) { return a.date < b.date; }));
            if (db.fiscal) {
                EXPECT_TRUE(db.fiscal->invoices.empty() && db.fiscal->events.empty());
                for (const InvoiceProposal& proposal : db.fiscal->proposals)
                    for (const FiscalLine& line : proposal.lines)
                        EXPECT_TRUE(line.rate >= 0 && line.rate <= 10'000 && !isBlank(line.description));
            }
        }
    }
}

TEST(JsonRoundTrip, GeneratedDocumentsReadBackEqualAndWriteBackIdentical) {
    int withFiscal = 0, withoutFiscal = 0;
    std::set<std::string> awkwardSeen;
    const std::vector<std::string> awkwardForms = {"\\u0001", "\\u001f",  "\\t",  "\\n",  "\\r",
                                                   "\\b",     "\\f",      "\\\\", "\\\"", "\\/",
                                                   "\u2028",  "\xF0\x9F", "\x7f"};
    for (const Variant& variant : variants()) {
        for (std::uint64_t seed = 0; seed < variant.seeds; ++seed) {
            SCOPED_TRACE(variant.name + " document, seed " + std::to_string(seed));
            const Database document = makeDocument(variant.shape, seed);
            const std::string json = toJSON(document);
            const auto back = fromJSON<Database>(json);
            EXPECT_TRUE(back == document) << "differs in:" << differingFields(back, document);
            EXPECT_TRUE(toJSON(back) == json) << "the second writing differs";
            (document.fiscal ? withFiscal : withoutFiscal)++;
            if (variant.shape.awkwardText)
                for (const std::string& form : awkwardForms)
                    if (json.find(form) != std::string::npos) awkwardSeen.insert(form);
        }
    }
    // The seeds must reach both kinds of document and every awkward form.
    EXPECT_GT(withFiscal, 0);
    EXPECT_GT(withoutFiscal, 0);
    EXPECT_EQ(awkwardSeen, std::set<std::string>(awkwardForms.begin(), awkwardForms.end()));
}

TEST(JsonRoundTrip, WritingIsCompactWithSortedKeysAndEscapedSlashesAtEveryLevel) {
    for (const Variant& variant : variants()) {
        for (std::uint64_t seed = 0; seed < 4; ++seed) {
            SCOPED_TRACE(variant.name + " document, seed " + std::to_string(seed));
            expectWrittenForm(toJSON(makeDocument(variant.shape, seed)));
        }
    }
}

TEST(JsonRoundTrip, DocumentsReadBackWhateverTheKeyOrderSpacingAndSlashes) {
    for (const Variant& variant : variants()) {
        for (std::uint64_t seed = 0; seed < 4; ++seed) {
            SCOPED_TRACE(variant.name + " document, seed " + std::to_string(seed));
            const Database document = makeDocument(variant.shape, seed);
            const auto back = readForeign<Database>(toJSON(document));
            EXPECT_TRUE(back == document) << "differs in:" << differingFields(back, document);
        }
    }
}

// Issued invoices, events and series counters never occur in a valid document of this version,
// but an archive that holds them must still travel through writing and reading unchanged.
TEST(JsonRoundTrip, FiscalArchiveWithInvoicesEventsAndCounters) {
    const Database document = makeDocument(DocumentShape::tiny(), 1);
    FiscalSettings settings;
    settings.issuerName = "Pizzería «La Ñora» / Centro";
    settings.declaration = Bytes{'%', 'P', 'D', 'F', 0xFB, 0xFF};

    InvoiceProposal proposal;
    proposal.orderID = document.orders.front().id;
    proposal.created = Instant{763041600.25};
    proposal.kind = InvoiceKind::correction;
    proposal.recipientName = "Ana \"la del 3º\"";
    proposal.lines = {FiscalLine{.id = Uuid::random(),
                                 .description = "Devolución\t½ ración",
                                 .quantity = -1,
                                 .unitGross = 450,
                                 .rate = 1000}};
    proposal.reason = "Cobro duplicado";

    FiscalInvoice invoice;
    invoice.number = "F/2025-000001";
    invoice.generationTime = "2025-03-07T13:00:00+01:00";
    invoice.settings = settings;
    invoice.proposal = proposal;
    invoice.hash = "3C464DD3F4A1";
    invoice.xml = Bytes{'<', '?', 'x', 'm', 'l', '?', '>', 0x00, 0xFF};
    proposal.correctionOf = invoice.id;

    FiscalEvent event;
    event.date = Instant{-1.5};
    event.kind = "90";
    event.detail = "Inicio del registro\nde eventos";
    event.previousHash = invoice.hash;

    const FiscalState archive{
        .settings = settings,
        .proposals = {proposal},
        .invoices = {invoice},
        .events = {event},
        .nextNumbers = {{"S", 40}, {"F", 12}, {"R/2025", 3}, {"a", 2}, {"Ñ", 1}, {"F-2", -7}},
    };
    const std::string json = toJSON(archive);
    expectWrittenForm(json);
    EXPECT_EQ(fromJSON<FiscalState>(json), archive);
    EXPECT_EQ(readForeign<FiscalState>(json), archive);
    EXPECT_EQ(toJSON(fromJSON<FiscalState>(json)), json);
}
