#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Models/Orders.hpp>
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

    // Shows `line` with amounts in `currency`.
    void display(const pizzacore::Line& line, const std::string& currency);
    const pizzacore::Uuid& lineID() const { return lineID_; }

    QSpinBox* quantity() const { return quantity_; }
    QToolButton* remove() const { return remove_; }
    QLineEdit* notes() const { return notes_; }

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
    // Asks whether to empty the draft and empties it when the operator agrees.
    void askToEmptyDraft();

    // The number of line cards on show.
    int visibleLineCards() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeCustomerSection();
    QWidget* makeProductSection();
    QWidget* makeOrderSection();

    void showDocument();
    void showDraft();
    void showRecentOrders();
    void showProducts();
    void showLines();
    void updateTabOrder();
    void editDraft(const std::function<void(pizzacore::Draft&)>& edit);
    // A field's change, left out while showDraft() writes the draft back into the fields.
    void editField(const std::function<void(pizzacore::Draft&)>& edit);
    std::string currency() const;

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
    QLabel* recentCaption_ = nullptr;
    std::vector<QPushButton*> recentButtons_;
    std::vector<pizzacore::Uuid> recentIDs_;

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
};

} // namespace velmora
