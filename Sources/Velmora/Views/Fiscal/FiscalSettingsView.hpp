#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Fiscal/FiscalModels.hpp>
#endif

#include <QDialog>
#include <QString>

#include <vector>

class QLabel;
class QLineEdit;

namespace velmora {

class AppStore;

// The rates field's text: each rate as its two-decimal text with a comma, joined with "; "
// (400, 1000, 2100 read "4,00; 10,00; 21,00").
QString ratesText(const std::vector<std::int64_t>& rates);

// The fiscal configuration sheet: country and taxes, issuer and series, signature and producer.
// It edits a copy of the archive's settings, reloaded each time it opens, and saves it in one
// transaction of the controller without waiting: a refusal comes back to its red line, and the
// sheet closes once the settings are saved.
class FiscalSettingsView : public QDialog {
    Q_OBJECT
public:
    explicit FiscalSettingsView(AppStore& store, QWidget* parent = nullptr);

    // The settings being edited, with the fields' current texts.
    pizzacore::FiscalSettings editedSettings() const;
    // The red error line's text.
    QString error() const;

public slots:
    // Reloads the settings from the archive.
    void reload();
    // Lets the operator choose the producer's declaration (a PDF of up to 10 MB).
    void attachDeclaration();
    // Checks and saves; closes the sheet on success.
    void save();

private:
    void setError(const QString& text);
    void showDeclaration();

    AppStore& store_;
    pizzacore::FiscalSettings settings_;
    QLineEdit* country_;
    QLineEdit* territory_;
    QLineEdit* currency_;
    QLineEdit* taxName_;
    QLineEdit* rates_;
    QLineEdit* issuerName_;
    QLineEdit* issuerTaxID_;
    QLineEdit* issuerAddress_;
    QLineEdit* fullSeries_;
    QLineEdit* simpleSeries_;
    QLineEdit* correctionSeries_;
    QLineEdit* producerName_;
    QLineEdit* producerTaxID_;
    QLabel* declaration_;
    QLabel* installation_;
    QLabel* error_;
    bool saving_ = false;
};

} // namespace velmora
