#pragma once

// moc cannot parse the C++20 concepts the core's headers pull in, and needs none of their types.
#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Clock.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Models/Customer.hpp>
#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Models/Orders.hpp>
#include <PizzaCore/Models/Settings.hpp>
#endif

#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Stores/OrderPhoneIndex.hpp>
#include <Velmora/Stores/TransactionEngine.hpp>

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace pizzacore {
class Repository;
}

class QWidget;

namespace velmora {

// The one controller of the application. It opens the data directory, holds the document as last
// saved and the order draft being taken, and is the only place where the document changes: every
// change is made on a copy, saved, and only then published. When the data cannot be opened it
// enters a fatal state for the rest of the run in which nothing can change the data.
//
// Every change of the observable state (db, draft, message, fatal, selectedTab, selectedOrder)
// emits its signal after the new value is in place, on the user-interface thread.
//
// Changes are made durable and published by the transaction engine (Stores/TransactionEngine),
// one at a time on its writer thread, while the user-interface thread keeps painting and taking
// typing. transact() returns only once its change is saved and published (or has failed): it
// waits in a nested event loop; the context-bound transact() calls back instead. A transaction
// started meanwhile (from that loop, the clock tick or a click) waits its turn. The published
// document is replaced on the user-interface thread only, and never while the writer reads it.
class AppStore : public QObject {
    Q_OBJECT
public:
    // A change of the document. It runs on the writer's thread: it may use what it captured and
    // the document it is given, and must not touch widgets or the controller's state.
    using Change = TransactionEngine::Change;
    // Work with the repository itself (export, restore), run on the writer's thread in turn with
    // the saves. It receives the document as last saved; when it returns a document, that
    // document (which the job has saved) is published as a transaction's would be.
    using RepositoryJob = TransactionEngine::RepositoryJob;

    // How long the draft autosave gathers keystrokes before it writes.
    static constexpr int draftSaveDelay = TransactionEngine::draftSaveDelay;

    // A controller for the data directory of the standard rule ($VELMORA_DATA_DIR, otherwise
    // "Velmora" in the user's data home), resolved by start().
    AppStore(pizzacore::Clock clock, PlatformServices& platform, QObject* parent = nullptr);
    // A controller for `dataDirectory`.
    AppStore(std::filesystem::path dataDirectory, pizzacore::Clock clock, PlatformServices& platform,
             QObject* parent = nullptr);
    ~AppStore() override;

    AppStore(const AppStore&) = delete;
    AppStore& operator=(const AppStore&) = delete;

    // Opens the data: creates the directory, takes its lock, loads the document (or starts a new
    // one), publishes it with its stored draft and reconciles the cash sessions with the clock,
    // which saves the document (on a new directory, for the first time). Any failure sets the
    // fatal state instead; start() itself never fails. A second call does nothing.
    void start();
    // Opens the data as start() does, without waiting: the document is read on another thread
    // (seconds for a busy year) while the window shows that it is opening. opening() holds until
    // the document is published and reconciled, or the fatal state entered; openingChanged()
    // then announces the end.
    void startInBackground();
    // Whether the data is being opened.
    bool opening() const { return opening_; }

    // The document as last saved.
    const pizzacore::Database& db() const { return engine_.db(); }
    // The order being taken.
    const pizzacore::Draft& draft() const { return engine_.draft(); }
    // Replaces the draft in memory; the main window saves it with saveDraft().
    void setDraft(const pizzacore::Draft& draft);

    // The one pending message for the operator: its text, whether it reports a failure or what
    // went well, and the window it belongs to (null for the main window), whose alert opens over
    // that window. A message set during a flow of another window (the settings window's backup,
    // restore, logo and save) belongs to that window unless `window` names one.
    const std::optional<QString>& message() const { return message_; }
    AlertKind messageKind() const { return messageKind_; }
    QWidget* messageWindow() const;
    void setMessage(const QString& message, AlertKind kind = AlertKind::warning, QWidget* window = nullptr);
    void clearMessage();

    // Why the data could not be opened; once set, it stays for the whole run.
    const std::optional<QString>& fatal() const { return fatal_; }

    // The title of the visible section, "Caja" at first.
    const QString& selectedTab() const { return selectedTab_; }
    void setSelectedTab(const QString& tab);

    // The order selected on the orders screen.
    const std::optional<pizzacore::Uuid>& selectedOrder() const { return selectedOrder_; }
    void setSelectedOrder(const std::optional<pizzacore::Uuid>& order);
    // Selects `order` and shows it on the orders screen, whose list then shows its row even when
    // the order was already selected and the list's filters hid it.
    void showOrder(const pizzacore::Uuid& order);

    // The data directory: the open repository's directory, or the one start-up tried to open.
    std::filesystem::path location() const;

    // The instant the controller's clock reads now.
    pizzacore::Instant now() const { return clock_.now(); }

    // The desktop's panels and alerts.
    PlatformServices& platform() const { return platform_; }

    // Runs one change of the document: copies it, puts the current draft into the copy, applies
    // `change`, saves the copy and only then publishes it (and the copy's draft when the change
    // replaced it). On any failure the published document, the draft and the files stay as they
    // were and the failure's description comes back; `message` is left to the caller.
    //
    // The copy, the change and the save run on the writer; meanwhile events keep being handled.
    // Edits of the draft made while the change is written are kept: when the change replaced the
    // draft (a confirmation leaves a fresh one), every field edited meanwhile keeps its new value
    // in the draft that replaces it.
    Outcome transact(const Change& change);

    // What a screen runs once its asynchronous transaction has an outcome.
    using Then = TransactionEngine::Then;

    // Runs `change` as the blocking transact() would, in turn with every other write, but returns
    // at once: nothing waits in a nested event loop. Once the change is saved and published (or
    // has failed and nothing changed), `then` runs on the window's thread with the outcome, but
    // only while `context` still exists: a screen closed meanwhile is never called back. A null
    // `context` means no object bounds the call. `message` is left to `then`. When the data is
    // not open, `then` gets the failure from the event loop, never from inside this call; when
    // the controller is destroyed first, `then` never runs.
    void transact(Change change, QObject* context, Then then);

    // Runs `job` with the repository on the writer, in turn with the saves; see RepositoryJob.
    Outcome useRepository(const RepositoryJob& job);

    // Saves the current draft inside the document and waits for it; a failure goes to `message`.
    bool saveDraft();

    // Saves the current draft soon, without waiting: changes made in quick succession are written
    // together, the latest draft wins, and a failure goes to `message`. The main window calls it
    // after every change of the draft.
    void saveDraftSoon();

    // Waits until every write has finished, the draft asked for by saveDraftSoon() and the
    // folds and daily copies under way included.
    void flush();

    // Writes the whole document into the data file in the background, so that the journal
    // beside it holds nothing more; see TransactionEngine::fold. It also happens by itself.
    void fold();

    // Changes whenever a published document brings other products, categories or settings, so
    // that screens rebuild their product lists only then; it is worked out on the writer.
    std::uint64_t catalogueRevision() const { return engine_.catalogueRevision(); }

    // Whether a write is in progress.
    bool saving() const { return engine_.saving(); }

    // The last `count` orders, oldest first, whose telephone has the phone key of `phone`; none
    // when that key is empty. Answered from an index, never by reading every order.
    std::vector<pizzacore::Order> recentOrders(std::string_view phone, std::size_t count = 3) const;

    // Closes the business day and cash session that are due, if any, and opens the next one; a
    // failure goes to `message`. Does nothing in the fatal state.
    void tick();

    // Order-desk actions of the checkout, orders and customer screens.

    // Looks the draft's telephone up among the cards by phone key: the first match is loaded into
    // the draft; otherwise the draft's customer link, name, address and usual notes are cleared.
    // Gives whether a card was found; the checkout says itself that the caller is new, without
    // an alert that would take the operator's hands off the keyboard.
    bool findCustomer();
    // Loads a card into the draft (lines, order notes and mode stay) and shows the checkout.
    void selectCustomer(const pizzacore::Customer& customer);
    // Saves the draft's customer data as a card (a new one when the draft has none) and links the
    // draft to it; the outcome goes to `message`.
    void saveDraftCustomer();
    // Adds one unit of `product` to the first line with the same product, no notes and the same
    // price, or starts a new line when there is none or it already holds 999.
    void add(const pizzacore::Product& product);
    // Confirms the draft as an order; on success selects it and shows the orders screen, on
    // failure leaves everything as it was and puts the reason in `message`. With the setting
    // "Guardar la ficha al confirmar" the caller's card is kept in the same transaction
    // (Database::confirmKeepingCard): a new caller's card is created, and when the draft changes
    // a known card's address the operator is asked first whether the card takes it; cancelling
    // that question confirms nothing. A line the catalogue no longer matches is refused naming
    // the product and why.
    bool confirm();
    // The "Pedido a medias" line of a draft left from the last run needs to say when it was
    // written: the last change of the data directory's files before this run opened them.
    const std::optional<QDateTime>& lastWrittenBeforeStart() const { return lastWrittenBeforeStart_; }
    // Loads an earlier order into the draft at current prices and shows the checkout, naming in
    // `message` the products no longer available.
    void repeatOrder(const pizzacore::Order& order);

    // Order follow-up of the orders screen (Stores/OrderFollowUp.cpp): payment, preparation and
    // cancellation. Each runs one transaction with the core operation at the controller's current
    // time, puts a refusal in `message` and gives whether the change was saved.

    // Registers the payment: for cash, `received` is the amount handed over as typed (empty
    // means the exact total; text that is not an amount is refused with the reading's message);
    // for card the received amount is always the total.
    bool payOrder(const pizzacore::Uuid& orderID, pizzacore::PaymentMethod method, const QString& received);
    // Moves the order to another preparation state.
    bool prepareOrder(const pizzacore::Uuid& orderID, pizzacore::Preparation state);
    // Cancels the order with the reason as typed.
    bool cancelOrder(const pizzacore::Uuid& orderID, const QString& reason);

    // Settings and safekeeping (Stores/SettingsFlows.cpp, Stores/BackupFlows.cpp,
    // Stores/DailyBackups.cpp): the settings transaction, the backup, restore and logo flows of the
    // settings window, and the automatic copy kept at every close of a shift.

    // Each of them runs for `window` (null for the main window): its panels, alerts and messages
    // belong to that window.

    // Replaces the document's settings with `settings` and records "Guardar ajustes", in one
    // transaction. A business name of only white space, or no ticket destination, is refused with
    // its message in `message`; so is a failed save. True when saved.
    bool saveSettings(const pizzacore::Settings& settings, QWidget* window = nullptr);
    // Asks where to save a backup, saves the draft and writes the document there; the outcome
    // goes to `message`.
    void exportBackup(QWidget* window = nullptr);
    // Asks for a backup, checks it, asks for confirmation and replaces the data with it (keeping
    // a copy of the data it replaces); the outcome goes to `message`. True when restored.
    bool restoreBackup(QWidget* window = nullptr);
    // Asks for a PNG or JPEG image of at most 2,000,000 bytes and puts its bytes, unchanged, into
    // `settings.logo`; nothing is saved. A refusal goes to `message` and leaves `settings` as it
    // was. True when the logo was replaced.
    bool importLogo(pizzacore::Settings& settings, QWidget* window = nullptr);
    // "Copias" inside the data directory, where a copy of the document is kept for each of the
    // last 30 business days.
    std::filesystem::path dailyBackupFolder() const;

    // Flows of the customers, products and sessions screens (Stores/CatalogFlows.cpp).

    // Applies `change` to a copy of the document, as transact would, and throws the copy away:
    // the check an editor runs before saving, so that a refusal stays in its own error line. Like
    // transact, the copy is made on the writer while the window keeps working.
    Outcome check(const Change& change);
    // Removes every card with the customer's id, with the audit entry "Eliminar cliente"; orders
    // keep their own copy of the customer's data. A failure goes to `message`.
    bool deleteCustomer(const pizzacore::Customer& customer);
    // Removes every product with the product's id, with the audit entry "Eliminar producto";
    // order lines keep their own copy. A failure goes to `message`.
    bool deleteProduct(const pizzacore::Product& product);
    // Closes the shift `session` by hand, unless it has closed meanwhile, and opens the next one.
    // A failure goes to `message`.
    bool closeShift(const pizzacore::Uuid& session);

    // Named commands that return at once: each runs one core operation, at the controller's
    // current time, as one transaction queued with every other write (transact(change, context,
    // then)). Once it is saved and published, or has failed and nothing changed, `then` gets the
    // outcome on the window's thread while `context` lives; `then` may be empty. A failure goes to
    // `message`, except the core's refusal of an editor's change (Outcome::refused), which goes
    // to `then` for the editor's own error line, and to `message` only when the editor is gone.

    // Editors (Views/CustomersView, ProductEditor, CategoriesView, FiscalSettingsView,
    // InvoiceEditor). All of these live in Stores/Commands.cpp.
    void saveCustomer(const pizzacore::Customer& customer, QObject* context, Then then);
    void saveProduct(const pizzacore::Product& product, QObject* context, Then then);
    void saveCategory(const pizzacore::Category& category, QObject* context, Then then);
    void moveProducts(const pizzacore::Category& from, const pizzacore::Category& to, QObject* context,
                      Then then);
    void saveFiscalSettings(const pizzacore::FiscalSettings& settings, QObject* context, Then then);
    void saveInvoiceProposal(const pizzacore::InvoiceProposal& proposal, QObject* context, Then then);
    // Removes the category (Database::deleteCategory); a refusal goes to `message`.
    void deleteCategory(const pizzacore::Category& category, QObject* context, Then then);
    // Counts one more attempt to print the order's tickets, with its audit entry; an order no
    // longer stored is left alone and the outcome is still a success.
    void countPrintAttempt(const pizzacore::Uuid& order, QObject* context, Then then);
    // Records that the cash drawer was opened for the order, with its audit entry.
    void recordDrawerOpening(const pizzacore::Uuid& order, QObject* context, Then then);

    // The same as confirm(), prepareOrder(), cancelOrder() and saveSettings(), without waiting.
    void confirm(QObject* context, Then then);
    void prepareOrder(const pizzacore::Uuid& orderID, pizzacore::Preparation state, QObject* context,
                      Then then);
    void cancelOrder(const pizzacore::Uuid& orderID, const QString& reason, QObject* context, Then then);
    void saveSettings(const pizzacore::Settings& settings, QWidget* window, QObject* context, Then then);

    // Incoming calls (Services/IncomingCalls, Stores/CallFlows.cpp).

    // A call from the telephone key `key` came in: it waits for the checkout, which is shown.
    // Ignored in the fatal state.
    void receiveCall(const std::string& key);
    // The call waiting for the checkout, if any, which no longer waits.
    std::optional<std::string> takeIncomingCall();
    bool hasIncomingCall() const { return incomingCall_.has_value(); }
    // What the operator should know about the sources of calls (the socket, the modem): empty
    // while they work.
    const QString& callStatus() const { return callStatus_; }
    void setCallStatus(const QString& status);

signals:
    void dbChanged();
    void draftChanged();
    void messageChanged();
    void fatalChanged();
    void selectedTabChanged();
    void selectedOrderChanged();
    // showOrder() asked for the selected order to be brought into view.
    void selectedOrderShown();
    // An order was confirmed and its confirmation is saved.
    void orderConfirmed(const pizzacore::Uuid& order);
    // A payment was registered for the order (not one already there) and is saved.
    void paymentRegistered(const pizzacore::Uuid& order);
    // saving() changed.
    void savingChanged();
    // opening() changed.
    void openingChanged();
    // A call waits for the checkout.
    void callReceived();
    void callStatusChanged();

private:
    // While it lives, messages without a window of their own belong to `window`; flows of a
    // window other than the main one hold one from their start to their end.
    class FlowWindow {
    public:
        FlowWindow(AppStore& store, QWidget* window);
        ~FlowWindow();
        FlowWindow(const FlowWindow&) = delete;
        FlowWindow& operator=(const FlowWindow&) = delete;

    private:
        AppStore& store_;
        QPointer<QWidget> previous_;
    };
    // After each publication of the engine, on the user-interface thread.
    void published(bool draftReplaced);
    // After each publication: when the shift that was open has just closed, folds the document
    // and then copies the data file into the daily backup folder, in the background, so that the
    // copy is a complete document; a failure goes to `message` once.
    void keepDailyBackup();
    void enterFatal(const QString& description);
    // Runs a named command (see above): a failure goes to `message` (for `window` when given),
    // or, for an editor's command (`editor`), a refusal to `then` while `context` lives.
    // `succeeded` runs first on success, whoever waits for the outcome.
    void command(Change change, QObject* context, Then then, bool editor, QWidget* window = nullptr,
                 std::function<void()> succeeded = {});
    // What confirming the draft needs settled on this thread first: a refusal naming the line the
    // catalogue no longer matches (in `message`), or the operator's answer on a changed address.
    // None when the confirmation must not go ahead; otherwise whether the card takes the address.
    std::optional<bool> prepareConfirmation(const pizzacore::Draft& taken);
    // Once the engine has opened the data (or failed to).
    void opened(const std::exception_ptr& failure);
    void endOpening();
    // The open repository, if any.
    const pizzacore::Repository* repository() const { return engine_.repository(); }

    pizzacore::Clock clock_;
    PlatformServices& platform_;
    std::optional<std::filesystem::path> requestedDirectory_;
    std::optional<std::filesystem::path> resolvedDirectory_;
    std::optional<QDateTime> lastWrittenBeforeStart_;
    bool started_ = false;
    bool opening_ = false;

    std::optional<QString> message_;
    AlertKind messageKind_ = AlertKind::warning;
    QPointer<QWidget> messageWindow_;
    // The window whose flow is running; see FlowWindow.
    QPointer<QWidget> flowWindow_;
    std::optional<QString> fatal_;
    QString selectedTab_ = QStringLiteral("Caja");
    std::optional<pizzacore::Uuid> selectedOrder_;

    OrderPhoneIndex phoneIndex_;

    std::optional<std::string> incomingCall_;
    QString callStatus_;

    // The shift open in the published document, and its position in the list, watched for its
    // close by keepDailyBackup().
    std::optional<std::pair<std::size_t, pizzacore::Uuid>> watchedShift_;

    // Declared last, so that it is destroyed first: it finishes its writes and stops its threads
    // before anything they could report to.
    TransactionEngine engine_;
};

} // namespace velmora
