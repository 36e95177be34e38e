#pragma once

// What the screen tests share: a controller opened on a real data directory holding a document
// the test prepared with the core's own operations, a clock the test moves, and clicks on the
// buttons that list rows draw.

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Shared/RowActions.hpp>
#include <support/TestFiles.hpp>

#include "TestPlatformServices.hpp"

#include <PizzaCore/PizzaCore.hpp>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

// Failures show texts, not their UTF-16 code units.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace velmora::testing {

// 2025-03-07 12:00 UTC, a Friday afternoon.
inline constexpr pizzacore::Instant friday = pizzacore::Instant::fromUnix(1741348800.0);

inline void settle() {
    for (int round = 0; round < 3; ++round)
        QCoreApplication::processEvents();
}

// Clicks the button `action` that the delegate draws on `row`.
inline void clickRowButton(QAbstractItemView& view, RowActionsDelegate& delegate, int row, int action) {
    const QModelIndex index = view.model()->index(row, 0);
    view.scrollTo(index);
    const QRect button = delegate.buttonRect(view, index, action);
    ASSERT_FALSE(button.isEmpty()) << "row " << row << " has no button " << action;
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, button.center());
}

// The menu of row actions open on screen, or null.
inline QMenu* openRowMenu() {
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

// The entries of `menu` by their labels, with "(desactivado)" after a disabled one.
inline QStringList menuEntries(const QMenu& menu) {
    QStringList entries;
    for (const QAction* action : menu.actions())
        entries << action->text() + (action->isEnabled() ? QString() : QStringLiteral(" (desactivado)"));
    return entries;
}

// Runs the entry `label` of `menu` as the keyboard does: highlighted, then Return.
inline void chooseFromMenu(QMenu& menu, const QString& label) {
    for (QAction* action : menu.actions())
        if (action->text() == label) {
            menu.setActiveAction(action);
            QTest::keyClick(&menu, Qt::Key_Return);
            return;
        }
    ADD_FAILURE() << "no entry " << label.toStdString();
}

// A right click on `row` of `view`, as the window system reports it: the context menu request
// that follows the press.
inline void rightClickRow(QAbstractItemView& view, int row) {
    const QModelIndex index = view.model()->index(row, 0);
    view.scrollTo(index);
    const QPoint at = view.visualRect(index).center();
    QContextMenuEvent request(QContextMenuEvent::Mouse, at, view.viewport()->mapToGlobal(at));
    QApplication::sendEvent(view.viewport(), &request);
}

// The accessible actions that `view` offers on `row`, as a screen reader lists them.
inline QStringList accessibleActions(QAbstractItemView& view, int row) {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&view);
    QAccessibleInterface* item = list ? list->child(row) : nullptr;
    QAccessibleActionInterface* actions = item ? item->actionInterface() : nullptr;
    return actions ? actions->actionNames() : QStringList();
}

// Asks for the accessible action `name` on `row` of `view`, as a screen reader does, and lets it run.
inline void doAccessibleAction(QAbstractItemView& view, int row, const QString& name) {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&view);
    QAccessibleInterface* item = list ? list->child(row) : nullptr;
    QAccessibleActionInterface* actions = item ? item->actionInterface() : nullptr;
    ASSERT_NE(actions, nullptr) << "row " << row << " has no accessible actions";
    actions->doAction(name);
    for (int round = 0; round < 3; ++round)
        QCoreApplication::processEvents();
}

// Saves a picture of `widget` as `name` in $VELMORA_SCREENSHOT_DIR (the working directory when
// unset), so that the screens can be looked at after a test run.
inline void saveScreenshot(QWidget& widget, const char* name) {
    const char* directory = std::getenv("VELMORA_SCREENSHOT_DIR");
    const std::filesystem::path path =
        std::filesystem::path(directory && *directory ? directory : ".") / name;
    settle();
    EXPECT_TRUE(widget.grab().save(QString::fromStdString(path.string()), "PNG")) << path;
}

// The open sheet of type T among the children of `parent`.
template <class T>
T* openSheet(QWidget& parent) {
    for (T* sheet : parent.findChildren<T*>())
        if (sheet->isVisible()) return sheet;
    return nullptr;
}

// Pre-answered panels and alerts that can also run something just before the next alert opens,
// as the clock tick can while an alert waits for the operator.
class HookedPlatformServices : public TestPlatformServices {
public:
    std::function<void()> beforeNextAlert;

    std::optional<int> confirm(const Confirmation& confirmation, QWidget* parent) override {
        if (beforeNextAlert) {
            const std::function<void()> hook = std::move(beforeNextAlert);
            beforeNextAlert = nullptr;
            hook();
        }
        return TestPlatformServices::confirm(confirmation, parent);
    }
};

// A controller on a temporary folder of its own, whose "datos" folder it opens, with a clock the
// test moves and panels and alerts answered in advance. Screen tests get one through ScreenTest;
// a test that needs several, one after another, makes them itself.
class ScreenBench {
public:
    // What the controller finds in its data folder when it opens.
    enum class Start {
        // The document `prepare` made from a new one, saved beforehand.
        savedDocument,
        // Nothing, as at the very first start; what `prepare` changes is then the first change
        // asked of the controller.
        firstStart,
        // Nothing, and nothing is changed.
        emptyFolder,
    };

    ScreenBench() = default;
    ScreenBench(const ScreenBench&) = delete;
    ScreenBench& operator=(const ScreenBench&) = delete;
    virtual ~ScreenBench() = default;

    // Opens the controller on the data folder as `start` says, with `prepare` shaping the document.
    void openStore(Start start, const std::function<void(pizzacore::Database&)>& prepare = {}) {
        if (start == Start::savedDocument) {
            pizzacore::Database document = newDocument();
            if (prepare) prepare(document);
            pizzacore::Repository(dataFolder(), pizzacore::Repository::Access::unlocked).save(document);
        }
        reopen();
        ASSERT_FALSE(store_->fatal()) << store_->fatal()->toStdString();
        if (start == Start::firstStart && prepare) {
            ASSERT_TRUE(store_->transact(prepare));
        }
    }

    // Opens a controller on the data folder in place of the one open, as the next start of the
    // program does. Screens on the previous controller must be gone before.
    void reopen() {
        store_.reset();
        store_ = std::make_unique<AppStore>(dataFolder(), pizzacore::Clock::manual(now_), platform_);
        store_->start();
    }

    AppStore& store() { return *store_; }
    const AppStore& store() const { return *store_; }
    HookedPlatformServices& platform() { return platform_; }
    // The folder the controller keeps its data in, inside the temporary folder.
    std::filesystem::path dataFolder() const { return folder_.path() / "datos"; }
    // The temporary folder, for files that are no part of the data (backups, pictures).
    const std::filesystem::path& folder() const { return folder_.path(); }
    // Moves the clock to `instant`.
    void at(pizzacore::Instant instant) { *now_ = instant; }
    // Lets every change asked for be written and its outcome come back to the screens.
    void written() {
        store_->flush();
        settle();
    }
    // The document as stored on disk, read without taking the controller's lock.
    pizzacore::Database reloaded() const {
        return pizzacore::Repository(dataFolder(), pizzacore::Repository::Access::readOnly).load();
    }

    // A document with its first session open at `friday`.
    static pizzacore::Database newDocument() {
        pizzacore::Database db;
        db.reconcile(friday);
        return db;
    }

    static pizzacore::Product product(pizzacore::Database& db, const std::string& name,
                                      pizzacore::Cents cents,
                                      const pizzacore::Category& category = pizzacore::Category::pizza()) {
        pizzacore::Product made;
        made.name = name;
        made.cents = cents;
        made.category = category;
        db.saveProduct(made, friday);
        return made;
    }

    static pizzacore::Customer customer(pizzacore::Database& db, const std::string& name,
                                        const std::string& phone, const std::string& address = {},
                                        const std::string& notes = {}) {
        pizzacore::Customer card;
        card.name = name;
        card.phone = phone;
        card.address = address;
        card.notes = notes;
        db.saveCustomer(card, friday);
        return card;
    }

    // Confirms an order of one unit of `product` for the card (linked) or for a telephone alone,
    // at `when`, and pays it when `method` is given.
    static pizzacore::Order order(pizzacore::Database& db, const pizzacore::Product& product,
                                  const std::optional<pizzacore::Customer>& card, const std::string& phone,
                                  std::optional<pizzacore::PaymentMethod> method,
                                  pizzacore::Instant when = friday) {
        pizzacore::Draft draft;
        if (card) {
            draft.customerID = card->id;
            draft.name = card->name;
            draft.phone = card->phone;
            draft.address = card->address;
        } else {
            draft.phone = phone;
        }
        draft.lines.push_back(pizzacore::Line::make(product));
        pizzacore::Order confirmed = db.confirm(draft, when);
        if (method) db.pay(confirmed.id, *method, std::nullopt, when);
        return confirmed;
    }

    // The child of `parent` of type W named `name`; a missing one ends the test.
    template <class W>
    static W& child(const QObject& parent, const char* name) {
        W* found = parent.findChild<W*>(QString::fromLatin1(name));
        if (!found) throw std::runtime_error(std::string("no widget ") + name);
        return *found;
    }

protected:
    pizzacore::testing::TemporaryDirectory folder_;
    std::shared_ptr<pizzacore::Instant> now_ = std::make_shared<pizzacore::Instant>(friday);
    HookedPlatformServices platform_;
    std::unique_ptr<AppStore> store_;
};

// The fixture of the screen tests: a bench whose controller SetUp opens on the document `prepare`
// shaped, the shared sample unless the fixture says otherwise, saved in the data folder unless
// `start_` asks for a first start. A fixture builds its screens in its own SetUp after
// ScreenTest::SetUp().
class ScreenTest : public ::testing::Test, public ScreenBench {
protected:
    void SetUp() override {
        openStore(start_, [this](pizzacore::Database& document) { prepare(document); });
    }

    // Shapes the document before the controller opens on it (or, for a first start, as its first
    // change). The shared sample by default; a fixture whose screen needs other data overrides it.
    virtual void prepare(pizzacore::Database& document) { addSample(document); }

    // The sample document: a pizza and a drink on the menu.
    void addSample(pizzacore::Database& document) {
        margarita_ = product(document, "Margarita", 950);
        cola_ = product(document, "Cola", 250, pizzacore::Category::drink());
    }

    Start start_ = Start::savedDocument;
    // The sample's products, when the document holds the sample.
    pizzacore::Product margarita_;
    pizzacore::Product cola_;
};

} // namespace velmora::testing
