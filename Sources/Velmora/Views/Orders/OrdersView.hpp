#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QStackedWidget;

namespace velmora {

class AppStore;
class OrderDetail;
class OrdersModel;
class TicketService;

// The "Pedidos" section: every order ever confirmed, newest first, filtered by business day,
// by "Sin cobrar" and by a search text, beside the detail of the selected order. The selection is
// the controller's selected order, so a confirmation on the checkout arrives here selected.
class OrdersView : public QWidget {
    Q_OBJECT
public:
    // A view that prints through its own ticket service.
    explicit OrdersView(AppStore& store, QWidget* parent = nullptr);
    // A view that prints through `tickets`, which must outlive it.
    OrdersView(AppStore& store, TicketService& tickets, QWidget* parent = nullptr);

    OrdersModel& model() const { return *model_; }
    OrderDetail& detail() const { return *detail_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void applyFilter();
    void showDayChoices();
    void showDocument();
    void showSelectedOrder();
    // After the records caught up with the document: reveals an order chosen meanwhile, or keeps
    // the list on the selected order.
    void followSelection();
    // Shows the selected order after a choice made outside the list: clears the filters that hide
    // it, then selects its row and scrolls to it.
    void revealSelectedOrder();
    void listSelectionChanged();
    // Says why the list is empty, when it is.
    void showEmptyList();

    AppStore& store_;
    OrdersModel* model_;
    QLineEdit* search_;
    QComboBox* day_;
    QCheckBox* pending_;
    QListView* list_;
    QLabel* empty_ = nullptr;
    QStackedWidget* pane_;
    OrderDetail* detail_;
    // Set while the list follows the controller, so that following never feeds back into it.
    bool following_ = false;
    // The document changed while the view was hidden.
    bool stale_ = false;
    // An order chosen outside the list waits for the list to catch up with the document (or for
    // its records to be made).
    bool revealPending_ = false;
};

} // namespace velmora
