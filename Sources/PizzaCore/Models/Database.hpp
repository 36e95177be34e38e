#pragma once

#include <PizzaCore/Fiscal/FiscalModels.hpp>
#include <PizzaCore/Foundation/Record.hpp>
#include <PizzaCore/Foundation/RecordList.hpp>
#include <PizzaCore/Models/Audit.hpp>
#include <PizzaCore/Models/Catalog.hpp>
#include <PizzaCore/Models/Customer.hpp>
#include <PizzaCore/Models/Orders.hpp>
#include <PizzaCore/Models/Session.hpp>
#include <PizzaCore/Models/Settings.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pizzacore {

// The whole state of one restaurant as a single value: copied, changed and replaced as a whole.
// Orders are kept in confirmation order, sessions in opening order, audit entries oldest first.
//
// The lists are RecordLists: a copy of the document shares every record with the original, and
// an operation on the copy clones only the records it changes, so a transaction's copy costs a
// handful of pointers however long the history. Operations read through const access and write
// only the records they change (modify, replace, push_back...). The published document may be
// read on one thread while a copy of it changes on another: shared records are never written
// (see RecordList.hpp).
#define PIZZACORE_DATABASE_FIELDS(X)                                                                         \
    X(std::optional<FiscalState>, fiscal)                                                                    \
    X(RecordList<Category>, categories, Category::initial())                                                 \
    X(std::int64_t, schemaVersion, 1)                                                                        \
    X(RecordList<Customer>, customers)                                                                       \
    X(RecordList<Product>, products)                                                                         \
    X(RecordList<Order>, orders)                                                                             \
    X(RecordList<Payment>, payments)                                                                         \
    X(RecordList<Session>, sessions)                                                                         \
    X(Settings, settings)                                                                                    \
    X(Draft, draft)                                                                                          \
    X(std::int64_t, nextNumber, 1)                                                                           \
    X(RecordList<Audit>, audit)

struct Database {
    PIZZACORE_RECORD(Database, PIZZACORE_DATABASE_FIELDS)

    // Operations that change the document check everything first, then change it, then append
    // their audit entry; a refusal throws PCError and leaves the document as it was. Operations
    // that need the current time take it as their last argument, so that the caller's clock
    // decides every instant.

    // The first payment registered for the order, if any.
    std::optional<Payment> paymentFor(const Order& order) const;

    // Audit trail: appends one entry (new id, `now`, action, reference). Never fails.
    void record(std::string action, std::string reference, Instant now);

    // Orders.
    // Confirms the draft as a new order numbered `nextNumber`, in the session open at `now`
    // (reconciling first), and puts a fresh empty draft in its place. A draft whose id is
    // already an order's id gives that order back unchanged, so a repeated confirmation never
    // makes a second order. Refuses a draft without lines, a delivery without name, valid
    // telephone and address, a line whose quantity is not 1…999 or that no longer matches an
    // active product exactly, and a total above the amount ceiling. Audit "Confirmar pedido".
    Order confirm(const Draft& draft, Instant now);
    // Why the line could not be confirmed as it stands, in the words the checkout shows after
    // the product's name: "ya no está en la carta" (missing or inactive), "ha cambiado de
    // precio", "de nombre", "de categoría" or "de IVA", or a quantity outside 1…999. None when
    // the line still matches an active product exactly, as confirm() requires.
    std::optional<std::string> lineProblem(const Line& line) const;
    // Whether the draft is linked to a stored card whose address differs from the draft's
    // address, which is not blank: confirming it could bring the card up to date.
    bool changesCardAddress(const Draft& draft) const;
    // The card that confirming the draft keeps for the caller's next call: for a draft linked to
    // no card, with a name and a valid telephone that no card has, a new card with the draft's
    // name, telephone, address and usual notes; for a draft linked to a card whose address it
    // changes, when `updateAddress`, that card with the new address. Never a card saveCustomer()
    // would refuse; none when the settings do not keep cards on confirming.
    std::optional<Customer> cardKeptOnConfirm(const Draft& draft, bool updateAddress) const;
    // Confirms the draft as confirm() does and, in the same change, saves the card that
    // cardKeptOnConfirm() gives, as saveCustomer() does (audit "Guardar cliente" after "Confirmar
    // pedido"); the order is linked to a card created for it. A draft already confirmed gives its
    // order back and saves no card.
    Order confirmKeepingCard(const Draft& draft, bool updateAddress, Instant now);
    // Registers the order's payment in the session open at `now`: the order total, with the
    // amount handed over (`received`, or the total when absent, for cash; always the total for
    // card). An order already paid is left as it is, without an error. Refuses a missing or
    // cancelled order and cash that does not cover the total or exceeds the amount ceiling.
    // Audit "Cobro " + method.
    void pay(Uuid orderID, PaymentMethod method, std::optional<Cents> received, Instant now);
    // Moves the order to preparing, ready or delivered, in any direction; never to cancelled, and
    // never a cancelled or missing order. Audit "Estado " + state.
    void prepare(Uuid orderID, Preparation state, Instant now = Instant::now());
    // Cancels an unpaid order of the session still open at `now`, keeping the reason as typed.
    // Refuses a missing or paid order, a blank reason, and an order whose session is closed (or
    // closes on reconciling at `now`). Audit "Anulación: " + reason.
    void cancel(Uuid orderID, std::string reason, Instant now);
    // A new draft taking the order again at today's catalogue: the customer card's current data
    // when the order was linked to a card that still exists, and a line at the current price for
    // each line whose product is still active. Also gives the names of the lines left out, in
    // order. Never changes the document.
    std::pair<Draft, std::vector<std::string>> repeating(const Order& order) const;
    // Counts one more attempt to print the order's tickets, so that every later rendering carries
    // the copy mark. An order that is no longer stored is left alone and nothing is recorded;
    // gives whether the attempt was counted. Audit "Intento de impresión" with the order number.
    bool countPrintAttempt(Uuid orderID, Instant now);
    // Records that the cash drawer was opened for the order (its payment, or the operator's
    // request from its detail). The drawer did open whatever became of the order since, so an
    // order that is no longer stored leaves an empty reference. Never fails. Audit "Apertura de
    // cajón" with the order number.
    void recordDrawerOpening(Uuid orderID, Instant now);

    // Catalogue.
    // Saves a new or edited category with its name trimmed, replacing in place the stored one with
    // the same id or appending it, and gives the saved value to every product and draft line of
    // that id; orders keep their copy. Refuses a blank name and one equal to another category's
    // when letter case and accents are ignored. Audit "Guardar categoría" with the trimmed name.
    void saveCategory(const Category& category, Instant now = Instant::now());
    // Gives `to` to every product and draft line of the category `from`, active or not. Both must
    // be listed exactly as passed, and different. Audit "Trasladar productos" with "from → to".
    void moveProducts(const Category& from, const Category& to, Instant now = Instant::now());
    // Removes the category (every entry with its id). Refuses to remove the last category and a
    // category that any product still belongs to. Audit "Eliminar categoría" with its name.
    void deleteCategory(const Category& category, Instant now = Instant::now());
    // Saves a product exactly as given, replacing in place the stored one with the same id or
    // appending it. Refuses a tax rate outside 0…10000, a category not listed exactly as copied,
    // an image over 2,000,000 bytes, a blank name and a price outside 0…99,999,999 cents. Audit
    // "Guardar producto" with the product's id.
    void saveProduct(const Product& product, Instant now = Instant::now());
    // Removes every product with the id (none is an error); order lines and draft lines keep
    // their own copy. Audit "Eliminar producto" with the id.
    void deleteProduct(Uuid productID, Instant now = Instant::now());

    // Customer cards.
    // Saves a card exactly as given, replacing in place the stored one with the same id or
    // appending it. Refuses a blank name, a telephone whose key has not 7…15 digits, and a
    // telephone whose key another card already has. Audit "Guardar cliente" with the card's id.
    void saveCustomer(const Customer& customer, Instant now = Instant::now());
    // Removes every card with the id (none is an error); orders keep their own copy of the
    // customer's data. Audit "Eliminar cliente" with the id.
    void deleteCustomer(Uuid customerID, Instant now = Instant::now());
    // The cards matching every non-empty query (each trimmed first): name and address contain
    // their query ignoring case and accents in the process locale; the phone key contains the
    // query's phone key, and a telephone query without digits matches nothing. Sorted by name,
    // case-insensitively with numbers compared by value; equal names keep their stored order.
    std::vector<Customer> customersMatching(std::string_view name, std::string_view phone,
                                            std::string_view address) const;
    // The card's orders, newest first, cancelled ones included: those linked to the card, and
    // those linked to no card whose telephone has the card's phone key.
    std::vector<Order> ordersFor(const Customer& customer) const;
    // "Efectivo", "Tarjeta" or "Mixto" (as many of each) over the payments of the card's orders
    // that are not cancelled; "Sin datos" when none of them is paid.
    std::string usualPaymentFor(const Customer& customer) const;

    // Fiscal archive.
    // The stored archive, or a fresh one with default settings (and so a new installation number
    // on every reading) while none is stored. Never changes the document.
    FiscalState fiscalState() const;
    // Validates and stores the fiscal settings, also setting `settings.currency`. Once the
    // archive holds invoices, the issuer's tax number, country, currency and installation are
    // frozen. Audit "Guardar configuración fiscal".
    void saveFiscalSettings(const FiscalSettings& settings, Instant now = Instant::now());
    // Validates the proposal as a saved proposal and stores it, replacing in place a stored one
    // with the same id or appending it. Never touches invoices, events or numbers. Audit
    // "Guardar propuesta de factura" with the proposal's id.
    void saveInvoiceProposal(const InvoiceProposal& proposal, Instant now = Instant::now());
    // A new, unsaved full-invoice proposal prepared from a confirmed order, created at `now`.
    InvoiceProposal invoiceProposalFor(const Order& order, Instant now = Instant::now()) const;

    // Cash sessions.
    // Closes the first open session when `now` has reached its scheduled end (at that scheduled
    // end, reason "Automático"), then opens a session for the business day of `now` when none is
    // left open (audit "Apertura"). At most one session is closed per call. Never fails with
    // sane instants; an order total beyond the 64-bit range is refused, leaving the document as
    // it was.
    void reconcile(Instant now);
    // Reconciles, then closes the session `expected` at `now` (reason "Manual") if it is still
    // open, and opens the next shift at once. A session that is no longer open is ignored.
    void closeManually(Uuid expected, Instant now);
    // Order totals of the session's orders that are not cancelled, paid or not.
    Cents sales(const Session& session) const;
    // Amounts charged by the payments taken in the session, of one method or of all.
    Cents receipts(std::optional<PaymentMethod> method, const Session& session) const;
    // Order totals of every order, of any session, that is neither cancelled nor paid.
    Cents unpaid() const;
    // Internal to reconcile and closeManually: closes the session at `index` at `at` with the
    // reason, freezing its sales, receipts and the whole document's unpaid total, and appends
    // the audit entry "Cierre " + reason dated `at`. Not for other callers.
    void close(std::size_t index, Instant at, std::string reason);
};

} // namespace pizzacore
