#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Models/Catalog.hpp>
#endif

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velmora {

class AppStore;
class ProductThumbnail;

// The sheet that creates or edits one product: picture, name, category, final price, tax rate and
// availability at the till. Nothing is stored until "Guardar" succeeds; a refusal stays in its red
// line with everything as typed.
class ProductEditor : public QDialog {
    Q_OBJECT
public:
    ProductEditor(AppStore& store, pizzacore::Product product, QWidget* parent = nullptr);

    // The product as edited so far (its picture included), before the fields are read into it.
    const pizzacore::Product& product() const { return product_; }
    QString error() const;

    void attachImage();
    void removeImage();
    void save();

private:
    void showImage();

    AppStore& store_;
    pizzacore::Product product_;
    ProductThumbnail* thumbnail_;
    QPushButton* removeImage_;
    QLineEdit* name_;
    QComboBox* category_;
    QLineEdit* price_;
    QComboBox* taxRate_;
    QCheckBox* active_;
    QLabel* error_;
    bool saving_ = false;
};

} // namespace velmora
