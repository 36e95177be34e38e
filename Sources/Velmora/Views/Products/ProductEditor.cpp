#include <Velmora/Views/Products/ProductEditor.hpp>

#include <Velmora/Services/ProductImages.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <PizzaCore/Models/FiscalMoney.hpp>
#include <PizzaCore/Models/Money.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora {

ProductEditor::ProductEditor(AppStore& store, pizzacore::Product product, QWidget* parent)
    : EditorSheet(store, QStringLiteral("Producto"), parent)
    , product_(std::move(product))
    , thumbnail_(new ProductThumbnail(96, this))
    , removeImage_(makeButton(QStringLiteral("Quitar imagen"), QStringLiteral("removeImage"), this))
    , name_(makeField(QStringLiteral("Nombre"), QStringLiteral("name"), this))
    , category_(new QComboBox(this))
    , price_(makeField(QString(), QStringLiteral("price"), this))
    , taxRate_(new QComboBox(this))
    , active_(new QCheckBox(QStringLiteral("Disponible en Caja"), this)) {
    setObjectName(QStringLiteral("ProductEditor"));
    setFixedWidth(450);
    form().addLayout(makePicture());
    form().addLayout(makeFields());
    showImage();
    // The name is what the operator types first; the sheet opens with the cursor there.
    name_->setFocus(Qt::OtherFocusReason);
}

QLayout* ProductEditor::makePicture() {
    QPushButton* attach = makeButton(QStringLiteral("Adjuntar imagen…"), QStringLiteral("attachImage"), this);
    auto* pictureButtons = new QVBoxLayout;
    pictureButtons->addWidget(attach);
    pictureButtons->addWidget(removeImage_);
    pictureButtons->addWidget(
        makeCaption(QStringLiteral("PNG o JPEG de hasta 2 MB"), QStringLiteral("imageCaption"), this));
    pictureButtons->addStretch();
    auto* picture = new QHBoxLayout;
    picture->addWidget(thumbnail_);
    picture->addLayout(pictureButtons, 1);

    connect(attach, &QPushButton::clicked, this, &ProductEditor::attachImage);
    connect(removeImage_, &QPushButton::clicked, this, &ProductEditor::removeImage);
    return picture;
}

QLayout* ProductEditor::makeFields() {
    const pizzacore::Database& db = store().db();
    name_->setText(qtext(product_.name));

    // The categories by id, so that the one chosen is read from the document as it is at saving.
    category_->setObjectName(QStringLiteral("category"));
    category_->setAccessibleName(QStringLiteral("Categoría"));
    for (const pizzacore::Category& category : db.categories)
        category_->addItem(qtext(category.rawValue), qtext(category.id));
    category_->setCurrentIndex(std::max(0, category_->findData(qtext(product_.category.id))));

    const QString currency = qtext(db.settings.currency.value_or("EUR"));
    const QString priceLabel = QStringLiteral("Precio final (") + currency + QStringLiteral(")");
    price_->setAccessibleName(priceLabel);
    price_->setPlaceholderText(priceLabel);
    price_->setText(qtext(pizzacore::Money::input(product_.cents)));

    taxRate_->setObjectName(QStringLiteral("taxRate"));
    taxRate_->setAccessibleName(QStringLiteral("Impuesto"));
    taxRate_->addItem(QStringLiteral("Sin configurar"));
    std::vector<std::int64_t> rates = db.fiscalState().settings.rates;
    // A rate the product already has stays choosable even when the settings no longer list it.
    if (product_.taxRate && std::find(rates.begin(), rates.end(), *product_.taxRate) == rates.end())
        rates.push_back(*product_.taxRate);
    for (const std::int64_t rate : rates)
        taxRate_->addItem(qtext(pizzacore::FiscalMoney::decimal(rate)) + QStringLiteral(" %"),
                          QVariant::fromValue(rate));
    if (product_.taxRate)
        taxRate_->setCurrentIndex(taxRate_->findData(QVariant::fromValue(*product_.taxRate)));

    active_->setObjectName(QStringLiteral("active"));
    active_->setAccessibleName(QStringLiteral("Disponible en Caja"));
    active_->setChecked(product_.active);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("Nombre"), name_);
    fields->addRow(QStringLiteral("Categoría"), category_);
    fields->addRow(priceLabel, price_);
    fields->addRow(QStringLiteral("Impuesto"), taxRate_);
    fields->addRow(QString(), active_);
    return fields;
}

void ProductEditor::showImage() {
    thumbnail_->setData(product_.image);
    removeImage_->setVisible(product_.image.has_value());
}

void ProductEditor::attachImage() {
    // The file panel is modal and lets the event loop run; the editor may be gone afterwards.
    const QPointer<ProductEditor> alive(this);
    try {
        std::optional<pizzacore::Bytes> image = ProductImages::choose(store().platform(), this);
        if (!alive || !image) return;
        product_.image = std::move(*image);
        setError(QString());
        showImage();
    } catch (...) {
        if (alive) setError(describeFailure(std::current_exception()));
    }
}

void ProductEditor::removeImage() {
    product_.image.reset();
    showImage();
}

std::optional<QString> ProductEditor::check() {
    edited_ = product_;
    try {
        edited_.cents = pizzacore::Money::parse(utf8(price_->text()));
    } catch (...) {
        return describeFailure(std::current_exception());
    }
    edited_.name = utf8(name_->text());
    edited_.active = active_->isChecked();
    const QVariant rate = taxRate_->currentData();
    edited_.taxRate = rate.isValid() ? std::optional<std::int64_t>(rate.toLongLong()) : std::nullopt;
    const std::string categoryID = utf8(category_->currentData().toString());
    for (const pizzacore::Category& category : store().db().categories)
        if (category.id == categoryID) edited_.category = category;
    return std::nullopt;
}

void ProductEditor::transact(AppStore::Then then) {
    store().saveProduct(edited_, this, std::move(then));
}

} // namespace velmora
