#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Fiscal/FiscalModels.hpp>
#endif

#include <Velmora/Views/Shared/EditorSheet.hpp>

#include <QString>

#include <vector>

class QLabel;
class QLineEdit;

namespace velmora {

// The rates field's text: each rate as its two-decimal text with a comma, joined with "; "
// (400, 1000, 2100 read "4,00; 10,00; 21,00").
QString ratesText(const std::vector<std::int64_t>& rates);

// The fiscal configuration sheet: country and taxes, issuer and series, signature and producer.
// It edits a copy of the archive's settings, reloaded each time it opens, and saves it in one
// transaction of the controller without waiting: a refusal comes back to its red line, and the
// sheet closes once the settings are saved.
class FiscalSettingsView : public EditorSheet {
    Q_OBJECT
public:
    explicit FiscalSettingsView(AppStore& store, QWidget* parent = nullptr);

    // The settings being edited, with the fields' current texts.
    pizzacore::FiscalSettings editedSettings() const;

public slots:
    // Reloads the settings from the archive.
    void reload();
    // Lets the operator choose the producer's declaration (a PDF of up to 10 MB).
    void attachDeclaration();

protected:
    // Reads the rates as amounts; one that does not read refuses the save.
    std::optional<QString> check() override;
    void transact(AppStore::Then then) override;

private:
    // The sections of the sheet, top to bottom.
    QWidget* makeTaxes(QWidget* body);
    QWidget* makeIssuer(QWidget* body);
    QWidget* makeProducer(QWidget* body);
    void showDeclaration();

    pizzacore::FiscalSettings settings_;
    // The settings as read from the fields by the last check.
    pizzacore::FiscalSettings checked_;
    QLineEdit* country_ = nullptr;
    QLineEdit* territory_ = nullptr;
    QLineEdit* currency_ = nullptr;
    QLineEdit* taxName_ = nullptr;
    QLineEdit* rates_ = nullptr;
    QLineEdit* issuerName_ = nullptr;
    QLineEdit* issuerTaxID_ = nullptr;
    QLineEdit* issuerAddress_ = nullptr;
    QLineEdit* fullSeries_ = nullptr;
    QLineEdit* simpleSeries_ = nullptr;
    QLineEdit* correctionSeries_ = nullptr;
    QLineEdit* producerName_ = nullptr;
    QLineEdit* producerTaxID_ = nullptr;
    QLabel* declaration_ = nullptr;
    QLabel* installation_ = nullptr;
};

} // namespace velmora
