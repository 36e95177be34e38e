#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Fiscal/FiscalModels.hpp>
#endif

#include <Velmora/Views/Shared/EditorSheet.hpp>

#include <QString>

#include <vector>

class QComboBox;
class QDateEdit;
class QFormLayout;
class QLabel;
class QLineEdit;
class QSpinBox;
class QVBoxLayout;
class QWidget;

namespace velmora {

// The sheet that edits one invoice proposal: kind, the corrected invoice and reason for
// rectifying kinds, recipient, operation date, the lines with tax-included prices, and the live
// totals. It works on a copy; "Guardar propuesta" saves the proposal in one transaction of the
// controller without waiting: a refusal comes back to its red line, and the sheet closes once the
// proposal is saved. Nothing here issues an invoice.
class InvoiceEditor : public EditorSheet {
    Q_OBJECT
public:
    InvoiceEditor(AppStore& store, pizzacore::InvoiceProposal proposal, QWidget* parent = nullptr);

    // The proposal as edited so far (prices as last parsed).
    const pizzacore::InvoiceProposal& proposal() const { return proposal_; }

public slots:
    // Appends a new concept with the defaults of a new line.
    void addLine();

protected:
    // Parses every price; a price that does not read as an amount refuses the save.
    std::optional<QString> check() override;
    void transact(AppStore::Then then) override;

private:
    struct LineRow {
        pizzacore::Uuid id;
        QWidget* frame;
        QLineEdit* description;
        QSpinBox* quantity;
        QLineEdit* price;
        QComboBox* rate;
        QLabel* gross;
    };

    // The sections of the sheet, top to bottom, inside the scrolled `body`.
    void makeKind(QFormLayout& form, QWidget* body, const pizzacore::FiscalState& fiscal);
    void makeRecipient(QFormLayout& form, QWidget* body);
    void makeLines(QVBoxLayout& layout, QWidget* body);

    void addRow(const pizzacore::FiscalLine& line);
    void removeLine(const pizzacore::Uuid& id);
    pizzacore::FiscalLine* line(const pizzacore::Uuid& id);
    void kindChanged();
    void refreshTotals();
    QString money(std::int64_t cents) const;

    pizzacore::InvoiceProposal proposal_;
    std::vector<std::int64_t> configuredRates_;
    std::string currency_;
    std::vector<LineRow> rows_;

    QComboBox* kind_ = nullptr;
    QWidget* correction_ = nullptr;
    QComboBox* correctionOf_ = nullptr;
    QLineEdit* reason_ = nullptr;
    QLineEdit* recipientName_ = nullptr;
    QLineEdit* recipientTaxID_ = nullptr;
    QLineEdit* recipientAddress_ = nullptr;
    QLineEdit* recipientCountry_ = nullptr;
    QDateEdit* operationDate_ = nullptr;
    QVBoxLayout* lines_ = nullptr;
    QLabel* totals_ = nullptr;
};

} // namespace velmora
