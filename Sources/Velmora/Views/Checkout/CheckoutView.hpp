#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Models/Orders.hpp>
#include <PizzaCore/Models/Settings.hpp>
#endif

#include <QFrame>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace velmora {

class AppStore;
class ProductGrid;
class ProductGridModel;
class ThumbnailCache;

// One line of the order being taken: name and amount, a quantity stepper, a remove button and the
// line's own note. Cards are kept and refilled as the draft changes, never rebuilt per change.
class LineCard : public QFrame {
    Q_OBJECT
public:
    explicit LineCard(QWidget* parent = nullptr);

    // Shows `line` with amounts in the currency of `settings` and, when the line can no longer be
    // confirmed, why (`problem`, the words that follow the product's name).
    void display(const pizzacore::Line& line, const pizzacore::Settings& settings,
                 const std::optional<std::string>& problem = std::nullopt);
    const pizzacore::Uuid& lineID() const { return lineID_; }

    QSpinBox* quantity() const { return quantity_; }
    QToolButton* remove() const { return remove_; }
    QLineEdit* notes() const { return notes_; }
    QLabel* problem() const { return problem_; }

signals:
    void quantityEdited(const pizzacore::Uuid& line, int quantity);
    void removeRequested(const pizzacore::Uuid& line);
    void notesEdited(const pizzacore::Uuid& line, const QString& notes);

private:
    pizzacore::Uuid lineID_;
    QLabel* name_;
    QLabel* amount_;
    QLabel* stepLabel_;
    QSpinBox* quantity_;
    QToolButton* remove_;
    QLineEdit* notes_;
    QLabel* problem_;
    // The card is showing its line again: the editors' signals are not the operator's edits.
    bool refilling_ = false;
};

// The "Caja" section, where an order is taken: the caller and delivery, the product grid and the
// order being taken with its total and confirmation. It edits the controller's draft directly;
// the main window saves every change.
class CheckoutView : public QWidget {
    Q_OBJECT
public:
    CheckoutView(AppStore& store, ThumbnailCache& thumbnails, QWidget* parent = nullptr);
    ~CheckoutView() override;

    // Confirms the draft as an order, as "Confirmar pedido" and Ctrl+Return do.
    void confirmOrder();
    // Asks whether to empty the draft and empties it when the operator agrees; true when emptied.
    bool askToEmptyDraft();
    // Answers the call the line "Llamada de …" shows: the half-taken draft is emptied first,
    // asking as "Vaciar borrador" does; declining leaves everything as it was.
    void answerCall();

    // The number of line cards on show.
    int visibleLineCards() const;
    // Adds one unit of the first product the grid shows, as Return in the product search does.
    void addFirstMatch();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLayout* makeHeader();
    QWidget* makeLeftoverLine();
    QWidget* makeCallLine();
    QWidget* makeCustomerSection();
    QWidget* makeProductSection();
    QWidget* makeOrderSection();

    void showDocument();
    void showDraft();
    void showRecentOrders();
    void showProducts();
    void showLines();
    void showLeftover();
    // Takes the call waiting in the controller: looked up at once on an untouched draft, offered
    // in the line "Llamada de … · Atender" over one being taken.
    void takeCall();
    // Puts the caller's number in the telephone and looks it up, as typing it and Return do.
    void lookUpCall(const std::string& key);
    void showCallStatus();
    // Whether the draft holds nothing the operator made: no line and no typed text.
    bool draftUntouched() const;
    // Looks the caller up and moves on: to the products for a known caller, to "Nombre" for a
    // new one, said in the line under the telephone.
    void lookUpCaller();
    void updateTabOrder();
    void editDraft(const std::function<void(pizzacore::Draft&)>& edit);
    // A field's change, left out while showDraft() writes the draft back into the fields.
    void editField(const std::function<void(pizzacore::Draft&)>& edit);

    AppStore& store_;
    ThumbnailCache& thumbnails_;
    ProductGridModel* products_;
    // The category filter of the grid: its id, none for "Todos".
    std::optional<std::string> category_;
    // The catalogue revision the grid and the category picker show.
    std::uint64_t catalogueShown_ = UINT64_MAX;
    // A confirmation is being written: the lines stay as they are until it is done.
    bool confirming_ = false;
    // showDraft() is writing the draft into the fields.
    bool refilling_ = false;

    QLineEdit* phone_ = nullptr;
    QPushButton* find_ = nullptr;
    QLineEdit* name_ = nullptr;
    QButtonGroup* modes_ = nullptr;
    std::vector<QPushButton*> modeButtons_;
    QLineEdit* address_ = nullptr;
    QLineEdit* customerNotes_ = nullptr;
    QPushButton* saveCustomer_ = nullptr;
    QLabel* customerHint_ = nullptr;
    QLabel* recentCaption_ = nullptr;
    std::vector<QPushButton*> recentButtons_;
    std::vector<pizzacore::Uuid> recentIDs_;

    QLineEdit* search_ = nullptr;
    // The typed product search, as the grid filters by it.
    QString query_;
    QComboBox* categories_ = nullptr;
    QStackedWidget* catalogue_ = nullptr;
    QPushButton* goToProducts_ = nullptr;
    ProductGrid* grid_ = nullptr;

    QStackedWidget* lines_ = nullptr;
    QVBoxLayout* cardsLayout_ = nullptr;
    QWidget* cardsHolder_ = nullptr;
    std::vector<LineCard*> cards_;
    QLineEdit* orderNotes_ = nullptr;
    QLabel* total_ = nullptr;
    QPushButton* confirm_ = nullptr;
    QPushButton* empty_ = nullptr;

    // The draft found at start-up, left half-taken in the last run, while it is still the draft.
    std::optional<pizzacore::Uuid> leftoverDraft_;
    QWidget* leftover_ = nullptr;
    QLabel* leftoverText_ = nullptr;
    QPushButton* emptyLeftover_ = nullptr;

    // The call offered over a half-taken draft, as its telephone key.
    std::optional<std::string> offeredCall_;
    QWidget* call_ = nullptr;
    QLabel* callText_ = nullptr;
    QPushButton* answerCall_ = nullptr;
    QLabel* callStatus_ = nullptr;
};

} // namespace velmora
