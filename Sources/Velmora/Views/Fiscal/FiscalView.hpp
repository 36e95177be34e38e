#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Fiscal/FiscalModels.hpp>
#endif

#include <QAbstractListModel>
#include <QWidget>

#include <cstdint>
#include <unordered_map>
#include <vector>

class QLabel;
class QLayout;
class QListView;
class QStackedWidget;

namespace velmora {

class AppStore;
class RowActionsDelegate;

// The saved invoice proposals, newest first, for the fiscal screen's list.
class ProposalsModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        TitleRole = Qt::UserRole + 1, // kind · recipient
        DetailRole, // "Propuesta · " + created, then " · Pedido #27" when prepared from one
        TotalRole,  // gross total as an amount text
    };

    explicit ProposalsModel(AppStore& store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // The proposal of `row`.
    const pizzacore::InvoiceProposal& proposal(int row) const {
        return proposals_.at(static_cast<std::size_t>(row));
    }

    // Takes the proposals from the document again when they changed.
    void refresh();

private:
    AppStore& store_;
    std::vector<pizzacore::InvoiceProposal> proposals_;
    std::string currency_;
    // The numbers of the orders the proposals were prepared from, looked up once per refresh.
    std::unordered_map<pizzacore::Uuid, std::int64_t> orderNumbers_;
};

// The invoicing section: proposals without fiscal value, the archive's counters and the notice
// that definitive emission is blocked. Nothing here issues an invoice or takes a number.
class FiscalView : public QWidget {
    Q_OBJECT
public:
    // The buttons of each proposal's row, in order.
    enum Action { editAction, pdfAction };

    explicit FiscalView(AppStore& store, QWidget* parent = nullptr);

    ProposalsModel& proposals() { return model_; }
    QListView& list() const { return *list_; }
    RowActionsDelegate& rowActions() const { return *delegate_; }

public slots:
    // Opens the editor sheet on `proposal`.
    void edit(const pizzacore::InvoiceProposal& proposal);
    // Opens the editor on a new proposal.
    void newProposal();
    // Opens the fiscal settings sheet.
    void configure();
    // Saves the proposal of `row` as a PDF.
    void savePDF(int row);
    // Explains what is still missing before invoices can be issued.
    void showRequirements();

private:
    // The parts of the screen, top to bottom.
    QLayout* makeHeader();
    QWidget* makeNotice();
    QWidget* makeList();
    QLayout* makeFooter();
    void refresh();

    AppStore& store_;
    ProposalsModel model_;
    QStackedWidget* content_ = nullptr;
    QListView* list_ = nullptr;
    RowActionsDelegate* delegate_ = nullptr;
    QLabel* counters_ = nullptr;
};

} // namespace velmora
