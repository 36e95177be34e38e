// The controller's named commands that return at once: the editors' saves, the categories
// screen's moves and removals, the count of a print attempt and the order desk's actions for the
// screens that go on working while the change is written. Each is one core operation in one
// transaction; the screen hears of the outcome only while it still exists, and a failure it can no
// longer show is never lost: it goes to the main window's alert.

#include <Velmora/Stores/AppStore.hpp>

#include <PizzaCore/Foundation/PCError.hpp>

#include <QWidget>

#include <memory>
#include <string>
#include <utility>

namespace velmora {

void AppStore::command(Change change, QObject* context, Then then, bool editor, QWidget* window,
                       std::function<void()> succeeded) {
    // Set on the writer's thread when the operation itself refuses, before the outcome comes
    // back to this thread.
    auto refused = std::make_shared<bool>(false);
    Change guarded = [change = std::move(change), refused](pizzacore::Database& db) {
        try {
            change(db);
        } catch (const pizzacore::PCError&) {
            *refused = true;
            throw;
        }
    };
    const bool bounded = context != nullptr;
    transact(std::move(guarded), this,
             [this, refused, bounded, bound = QPointer<QObject>(context), owner = QPointer<QWidget>(window),
              then = std::move(then), editor, succeeded = std::move(succeeded)](const Outcome& given) {
                 Outcome outcome = given;
                 outcome.refused = !outcome.ok && *refused;
                 const bool listening = then && (!bounded || bound);
                 if (outcome.ok) {
                     if (succeeded) succeeded();
                 } else if (!(editor && outcome.refused && listening)) {
                     setMessage(outcome.failure, AlertKind::warning, owner.data());
                 }
                 if (listening) then(outcome);
             });
}

void AppStore::saveCustomer(const pizzacore::Customer& customer, QObject* context, Then then) {
    const pizzacore::Instant now = clock_.now();
    command([customer, now](pizzacore::Database& db) { db.saveCustomer(customer, now); }, context,
            std::move(then), true);
}

void AppStore::saveProduct(const pizzacore::Product& product, QObject* context, Then then) {
    const pizzacore::Instant now = clock_.now();
    command([product, now](pizzacore::Database& db) { db.saveProduct(product, now); }, context,
            std::move(then), true);
}

void AppStore::saveCategory(const pizzacore::Category& category, QObject* context, Then then) {
    const pizzacore::Instant now = clock_.now();
    command([category, now](pizzacore::Database& db) { db.saveCategory(category, now); }, context,
            std::move(then), true);
}

void AppStore::moveProducts(const pizzacore::Category& from, const pizzacore::Category& to, QObject* context,
                            Then then) {
    const pizzacore::Instant now = clock_.now();
    command([from, to, now](pizzacore::Database& db) { db.moveProducts(from, to, now); }, context,
            std::move(then), true);
}

void AppStore::saveFiscalSettings(const pizzacore::FiscalSettings& settings, QObject* context, Then then) {
    const pizzacore::Instant now = clock_.now();
    command([settings, now](pizzacore::Database& db) { db.saveFiscalSettings(settings, now); }, context,
            std::move(then), true);
}

void AppStore::saveInvoiceProposal(const pizzacore::InvoiceProposal& proposal, QObject* context, Then then) {
    const pizzacore::Instant now = clock_.now();
    command([proposal, now](pizzacore::Database& db) { db.saveInvoiceProposal(proposal, now); }, context,
            std::move(then), true);
}

void AppStore::deleteCategory(const pizzacore::Category& category, QObject* context, Then then) {
    const pizzacore::Instant now = clock_.now();
    command([category, now](pizzacore::Database& db) { db.deleteCategory(category, now); }, context,
            std::move(then), false);
}

void AppStore::countPrintAttempt(const pizzacore::Uuid& order, QObject* context, Then then) {
    const pizzacore::Instant now = clock_.now();
    command([order, now](pizzacore::Database& db) { db.countPrintAttempt(order, now); }, context,
            std::move(then), false);
}

void AppStore::recordDrawerOpening(const pizzacore::Uuid& order, QObject* context, Then then) {
    const pizzacore::Instant now = clock_.now();
    command([order, now](pizzacore::Database& db) { db.recordDrawerOpening(order, now); }, context,
            std::move(then), false);
}

void AppStore::confirm(QObject* context, Then then) {
    const pizzacore::Draft taken = draft();
    const std::optional<bool> updateAddress = prepareConfirmation(taken);
    if (!updateAddress) {
        // As for any command, the outcome comes back from the event loop, never from this call;
        // the reason, if any, is already in `message`.
        if (then)
            QMetaObject::invokeMethod(
                context ? context : this,
                [then = std::move(then)] { then(Outcome::failed(QStringLiteral("No confirmado."))); },
                Qt::QueuedConnection);
        return;
    }
    const pizzacore::Instant now = clock_.now();
    // Written by the change on the writer's thread, read once the outcome is back.
    auto confirmed = std::make_shared<pizzacore::Uuid>();
    command([taken, now, confirmed, update = *updateAddress](
                pizzacore::Database& db) { *confirmed = db.confirmKeepingCard(taken, update, now).id; },
            context, std::move(then), false, nullptr,
            // The transaction published the fresh draft the confirmation left in the document.
            [this, confirmed] {
                showOrder(*confirmed);
                emit orderConfirmed(*confirmed);
            });
}

void AppStore::prepareOrder(const pizzacore::Uuid& orderID, pizzacore::Preparation state, QObject* context,
                            Then then) {
    const pizzacore::Instant now = clock_.now();
    command([orderID, state, now](pizzacore::Database& db) { db.prepare(orderID, state, now); }, context,
            std::move(then), false);
}

void AppStore::cancelOrder(const pizzacore::Uuid& orderID, const QString& reason, QObject* context,
                           Then then) {
    const pizzacore::Instant now = clock_.now();
    command([orderID, typed = reason.toStdString(),
             now](pizzacore::Database& db) { db.cancel(orderID, typed, now); },
            context, std::move(then), false);
}

void AppStore::saveSettings(const pizzacore::Settings& settings, QWidget* window, QObject* context,
                            Then then) {
    const bool named = !QString::fromStdString(settings.business).trimmed().isEmpty();
    if (!named || settings.recipients().empty()) {
        const Outcome refused = Outcome::failed(
            QStringLiteral("Indica el nombre del negocio y activa al menos un destinatario."));
        setMessage(refused.failure, AlertKind::warning, window);
        // As for any command, the outcome comes back from the event loop, never from this call.
        if (then)
            QMetaObject::invokeMethod(
                context ? context : this, [then = std::move(then), refused] { then(refused); },
                Qt::QueuedConnection);
        return;
    }
    const pizzacore::Instant now = clock_.now();
    // The business name is stored exactly as typed.
    command(
        [settings, now](pizzacore::Database& db) {
            db.settings = settings;
            db.record("Guardar ajustes", "", now);
        },
        context, std::move(then), false, window);
}

} // namespace velmora
