#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Models/Catalog.hpp>
#endif

#include <Velmora/Views/Shared/EditorSheet.hpp>

class QCheckBox;
class QComboBox;
class QLayout;
class QLineEdit;
class QPushButton;

namespace velmora {

class ProductThumbnail;

// The sheet that creates or edits one product: picture, name, category, final price, tax rate and
// availability at the till. Nothing is stored until "Guardar" succeeds; a refusal stays in its red
// line with everything as typed.
class ProductEditor : public EditorSheet {
    Q_OBJECT
public:
    ProductEditor(AppStore& store, pizzacore::Product product, QWidget* parent = nullptr);

    // The product as edited so far (its picture included), before the fields are read into it.
    const pizzacore::Product& product() const { return product_; }

    void attachImage();
    void removeImage();

protected:
    std::optional<QString> check() override;
    void transact(AppStore::Then then) override;

private:
    // The sections of the sheet, top to bottom.
    QLayout* makePicture();
    QLayout* makeFields();
    void showImage();

    pizzacore::Product product_;
    // The product as read from the fields by the last check.
    pizzacore::Product edited_;
    ProductThumbnail* thumbnail_;
    QPushButton* removeImage_;
    QLineEdit* name_;
    QComboBox* category_;
    QLineEdit* price_;
    QComboBox* taxRate_;
    QCheckBox* active_;
};

} // namespace velmora
