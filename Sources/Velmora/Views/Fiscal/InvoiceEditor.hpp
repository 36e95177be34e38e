#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Fiscal/FiscalModels.hpp>
#endif

#include <QDialog>
#include <QString>

#include <vector>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QVBoxLayout;
class QWidget;

namespace velmora {

class AppStore;

// The sheet that edits one invoice proposal: kind, the corrected invoice and reason for
// rectifying kinds, recipient, operation date, the lines with tax-included prices, and the live
// totals. It works on a copy; "Guardar propuesta" saves the proposal in one transaction of the
// controller without waiting: a refusal comes back to its red line, and the sheet closes once the
// proposal is saved. Nothing here issues an invoice.
class InvoiceEditor : public QDialog {
    Q_OBJECT
public:
    InvoiceEditor(AppStore& store, pizzacore::InvoiceProposal proposal, QWidget* parent = nullptr);

    // The proposal as edited so far (prices as last parsed).
    const pizzacore::InvoiceProposal& proposal() const { return proposal_; }
    // The red error line's text.
    QString error() const;

public slots:
    // Appends a new concept with the defaults of a new line.
    void addLine();
    // Parses every price, checks and saves the proposal; closes the sheet on success.
    void save();

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

    void addRow(const pizzacore::FiscalLine& line);
    void removeLine(const pizzacore::Uuid& id);
    pizzacore::FiscalLine* line(const pizzacore::Uuid& id);
    void kindChanged();
    void refreshTotals();
    void setError(const QString& text);
    QString money(std::int64_t cents) const;

    AppStore& store_;
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
    QLabel* error_ = nullptr;
    bool saving_ = false;
};

} // namespace velmora
