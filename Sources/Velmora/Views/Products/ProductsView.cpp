#include <Velmora/Views/Products/ProductsView.hpp>

#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Products/CategoriesView.hpp>
#include <Velmora/Views/Products/ProductEditor.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>
#include <Velmora/Views/Shared/RowActions.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>
#include <Velmora/Views/Shared/ThumbnailCache.hpp>

#include <QHBoxLayout>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>

namespace velmora {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A product's row: its thumbnail, name and availability, and the price before the buttons. A
// category's heading row has no buttons.
class ProductRowDelegate : public RowActionsDelegate {
public:
    ProductRowDelegate(const ProductsModel& model, ThumbnailCache& thumbnails, QObject* parent)
        : RowActionsDelegate({{QStringLiteral("Editar")}, {QStringLiteral("Eliminar"), true}}, parent)
        , model_(model)
        , thumbnails_(thumbnails) {}

    static constexpr int thumbnailSide = 44;

protected:
    bool hasActions(const QModelIndex& index) const override {
        return !index.data(ProductsModel::HeadingRole).toBool();
    }

    int contentHeight(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        if (index.data(ProductsModel::HeadingRole).toBool())
            return QFontMetrics(headlineFont(option.font)).height() + 8;
        return thumbnailSide;
    }

    void paintContent(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                      const QRect& content) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QColor text = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        const QColor secondary = selected ? text : secondaryColor(option.palette);
        if (index.data(ProductsModel::HeadingRole).toBool()) {
            QFont heading = headlineFont(option.font);
            heading.setPointSizeF(heading.pointSizeF() * 1.1);
            drawLine(painter, index.data().toString(), heading, text, content.left(),
                     content.bottom() - QFontMetrics(heading).height() - 2, content.width());
            return;
        }
        const pizzacore::Product* product = model_.product(index.row());
        if (!product) return;

        // The thumbnail on a faint rounded square; the photo symbol when there is no picture.
        const QRect square(content.left(), content.center().y() - thumbnailSide / 2, thumbnailSide,
                           thumbnailSide);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        QPainterPath rounded;
        rounded.addRoundedRect(QRectF(square), 6, 6);
        QColor faint = option.palette.color(QPalette::Text);
        faint.setAlphaF(0.06);
        painter.fillPath(rounded, faint);
        const qreal ratio = option.widget ? option.widget->devicePixelRatioF() : 1.0;
        const QImage picture = thumbnails_.thumbnail(product->image, qRound(thumbnailSide * ratio));
        if (!picture.isNull()) {
            QSizeF size = picture.size() / ratio;
            QRectF target(QPointF(), size);
            target.moveCenter(QRectF(square).center());
            painter.save();
            painter.setClipPath(rounded);
            painter.drawImage(target, picture);
            painter.restore();
        } else {
            const QRect symbol = square.adjusted(11, 11, -11, -11);
            symbolIcon(QStringLiteral("photo")).paint(&painter, symbol);
        }

        QFont priceFont = option.font;
        priceFont.setPointSizeF(option.font.pointSizeF() * 1.25);
        priceFont.setBold(true);
        const QString price = index.data(ProductsModel::PriceRole).toString();
        const int priceWidth = QFontMetrics(priceFont).horizontalAdvance(price) + 12;
        const int x = square.right() + 12;
        const int width = std::max(0, content.right() - priceWidth - x);
        drawLine(painter, price, priceFont, text, content.right() - priceWidth,
                 content.center().y() - QFontMetrics(priceFont).height() / 2, priceWidth, Qt::AlignRight);

        const QFont headline = headlineFont(option.font);
        const QString availability = index.data(ProductsModel::AvailabilityRole).toString();
        int lines = QFontMetrics(headline).height();
        if (!availability.isEmpty()) lines += QFontMetrics(option.font).height();
        int y = content.center().y() - lines / 2;
        y = drawLine(painter, index.data().toString(), headline, text, x, y, width);
        if (!availability.isEmpty()) drawLine(painter, availability, option.font, secondary, x, y, width);
    }

private:
    const ProductsModel& model_;
    ThumbnailCache& thumbnails_;
};

} // namespace

bool productNameBefore(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Two runs of digits: the one with the smaller value first, whatever its length.
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && isDigit(a[endA]))
                ++endA;
            while (endB < b.size() && isDigit(b[endB]))
                ++endB;
            std::size_t startA = i;
            std::size_t startB = j;
            while (startA + 1 < endA && a[startA] == '0')
                ++startA;
            while (startB + 1 < endB && b[startB] == '0')
                ++startB;
            const std::string_view valueA = a.substr(startA, endA - startA);
            const std::string_view valueB = b.substr(startB, endB - startB);
            if (valueA.size() != valueB.size()) return valueA.size() < valueB.size();
            if (valueA != valueB) return valueA < valueB;
            // Equal values: fewer leading zeros first, so that the order stays strict.
            if (endA - i != endB - j) return endA - i < endB - j;
            i = endA;
            j = endB;
            continue;
        }
        // UTF-8 bytes compare in code-point order.
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (ca != cb) return ca < cb;
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

ProductsModel::ProductsModel(const AppStore& store, QObject* parent)
    : QAbstractListModel(parent)
    , store_(store) {}

void ProductsModel::refresh() {
    const pizzacore::Database& db = store_.db();
    beginResetModel();
    rows_.clear();
    if (!db.products.empty()) {
        std::vector<const pizzacore::Product*> listed;
        for (const pizzacore::Category& category : db.categories) {
            rows_.push_back({category, std::nullopt});
            listed.clear();
            for (const pizzacore::Product& product : db.products)
                if (product.category == category) listed.push_back(&product);
            std::stable_sort(listed.begin(), listed.end(), [](const auto* x, const auto* y) {
                return productNameBefore(x->name, y->name);
            });
            for (const pizzacore::Product* product : listed)
                rows_.push_back({std::nullopt, *product});
        }
    }
    endResetModel();
}

const pizzacore::Product* ProductsModel::product(int row) const {
    if (row < 0 || row >= rowCount()) return nullptr;
    const auto& shown = rows_[static_cast<std::size_t>(row)].product;
    return shown ? &*shown : nullptr;
}

int ProductsModel::rowOf(const pizzacore::Uuid& product) const {
    for (std::size_t row = 0; row < rows_.size(); ++row)
        if (rows_[row].product && rows_[row].product->id == product) return static_cast<int>(row);
    return -1;
}

int ProductsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant ProductsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    if (row.heading) {
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return qtext(row.heading->rawValue);
        if (role == HeadingRole) return true;
        return {};
    }
    const pizzacore::Product& product = *row.product;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return qtext(product.name);
    case HeadingRole:
        return false;
    case AvailabilityRole:
        return product.active ? QString() : QStringLiteral("No disponible");
    case PriceRole:
        return amountText(product.cents, store_.db().settings);
    default:
        return {};
    }
}

Qt::ItemFlags ProductsModel::flags(const QModelIndex& index) const {
    if (index.isValid() && index.row() < rowCount() && rows_[static_cast<std::size_t>(index.row())].heading)
        return Qt::ItemIsEnabled;
    return QAbstractListModel::flags(index);
}

ProductsView::ProductsView(AppStore& store, ThumbnailCache& thumbnails, QWidget* parent)
    : QWidget(parent)
    , store_(store)
    , content_(new QStackedWidget(this))
    , list_(new QListView(this))
    , model_(new ProductsModel(store, this))
    , delegate_(new ProductRowDelegate(*model_, thumbnails, this)) {
    setObjectName(QStringLiteral("ProductsView"));

    auto* header = new QHBoxLayout;
    header->addWidget(
        new PageHeader(QStringLiteral("Productos"),
                       QStringLiteral("Tu carta, tus precios. Los pedidos antiguos mantienen sus importes."),
                       this),
        1);
    QPushButton* categories = makeButton(QStringLiteral("Categorías…"), QStringLiteral("categories"), this);
    QPushButton* create =
        makeProminentButton(QStringLiteral("Nuevo producto"), QStringLiteral("newProduct"), this);
    create->setDefault(false);
    header->addWidget(categories, 0, Qt::AlignTop);
    header->addWidget(create, 0, Qt::AlignTop);

    list_->setObjectName(QStringLiteral("products"));
    list_->setAccessibleName(QStringLiteral("Productos"));
    list_->setModel(model_);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    delegate_->attach(*list_, edit, remove);

    content_->addWidget(list_);
    content_->addWidget(
        new EmptyMessage(QStringLiteral("Añade tu carta"),
                         QStringLiteral("Crea productos en tus categorías con sus precios finales."),
                         QStringLiteral("menucard"), this));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->setSpacing(14);
    layout->addLayout(header);
    layout->addWidget(content_, 1);

    connect(categories, &QPushButton::clicked, this, &ProductsView::openCategories);
    connect(create, &QPushButton::clicked, this, [this] { openEditor(pizzacore::Product{}); });
    connect(delegate_, &RowActionsDelegate::triggered, this,
            [this](const QModelIndex& index, int action) { run(index.row(), static_cast<Action>(action)); });
    connect(&store_, &AppStore::dbChanged, this, &ProductsView::documentChanged);
}

bool ProductsView::showsEmptyMessage() const {
    return content_->currentIndex() == 1;
}

void ProductsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale_) refresh();
}

void ProductsView::documentChanged() {
    // Out of sight the list only notes that it is out of date (the checkout saves on every key).
    if (isVisible())
        refresh();
    else
        stale_ = true;
}

void ProductsView::refresh() {
    stale_ = false;
    model_->refresh();
    content_->setCurrentIndex(store_.db().products.empty() ? 1 : 0);
}

void ProductsView::run(int row, Action action) {
    const pizzacore::Product* shown = model_->product(row);
    if (!shown) return;
    const pizzacore::Product product = *shown;
    if (action == edit) {
        openEditor(product);
        return;
    }
    // The alert lets the event loop run; the controller outlives this screen, the screen may not.
    AppStore& store = store_;
    const std::optional<int> chosen = store.platform().confirm(
        Confirmation{QStringLiteral("¿Eliminar el producto del catálogo? El histórico se conserva."),
                     QString(),
                     {QStringLiteral("Eliminar"), QStringLiteral("Cancelar")}},
        window());
    if (chosen == 0) store.deleteProduct(product);
}

void ProductsView::openEditor(const pizzacore::Product& product) {
    auto* editor = new ProductEditor(store_, product, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->open();
}

void ProductsView::openCategories() {
    auto* categories = new CategoriesView(store_, this);
    categories->setAttribute(Qt::WA_DeleteOnClose);
    categories->open();
}

} // namespace velmora
