#include <Velmora/Views/Checkout/ProductGrid.hpp>

#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>
#include <Velmora/Views/Shared/ThumbnailCache.hpp>

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include <algorithm>

namespace velmora {

void ProductGridModel::setProducts(std::vector<pizzacore::Product> products,
                                   const pizzacore::Settings& settings) {
    beginResetModel();
    products_ = std::move(products);
    prices_.clear();
    prices_.reserve(products_.size());
    for (const pizzacore::Product& product : products_)
        prices_.push_back(amountText(product.cents, settings));
    endResetModel();
}

int ProductGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(products_.size());
}

QVariant ProductGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    const pizzacore::Product& product = products_[row];
    switch (role) {
    case Qt::DisplayRole:
        return qtext(product.name);
    case Qt::AccessibleTextRole:
    case Qt::ToolTipRole:
        return qtext(product.name) + QStringLiteral(" · ") + prices_[row];
    case CategoryRole:
        return qtext(product.category.rawValue);
    case PriceRole:
        return prices_[row];
    default:
        return {};
    }
}

ProductTileDelegate::ProductTileDelegate(const ProductGridModel& model, ThumbnailCache& thumbnails,
                                         QObject* parent)
    : QStyledItemDelegate(parent)
    , model_(model)
    , thumbnails_(thumbnails)
    , placeholder_(symbolIcon(QStringLiteral("photo"))) {}

QSize ProductTileDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    // A tile fills its cell of the grid but for the spacing between cells.
    int width = ProductGrid::minimumTileWidth;
    if (const auto* view = qobject_cast<const QListView*>(option.widget); view && view->gridSize().isValid())
        width = std::max(width, view->gridSize().width() - ProductGrid::spacing);
    return {width, tileHeight};
}

void ProductTileDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const QWidget* widget = option.widget;
    const QPalette& palette = option.palette;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    // The tile: a raised button face, outlined in the highlight colour when it has the focus.
    const QRectF tile = QRectF(option.rect).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor face = palette.color(QPalette::Button);
    if (option.state & QStyle::State_MouseOver) face = face.lighter(104);
    painter->setPen(QPen((option.state & QStyle::State_HasFocus) ? palette.color(QPalette::Highlight)
                                                                 : palette.color(QPalette::Mid),
                         (option.state & QStyle::State_HasFocus) ? 2.0 : 1.0));
    painter->setBrush(face);
    painter->drawRoundedRect(tile, 10, 10);

    // The picture, or the "photo" symbol on a faint square.
    const int side = ProductTileDelegate::pictureSide;
    const QRect square(option.rect.left() + 12, option.rect.top() + 12, side, side);
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(square), 8, 8);
    painter->fillPath(rounded, palette.color(QPalette::Window).darker(106));
    const qreal ratio = widget ? widget->devicePixelRatioF() : 1.0;
    const QImage picture =
        thumbnails_.thumbnail(model_.product(index.row()).image, static_cast<int>(side * ratio));
    if (!picture.isNull()) {
        QSizeF size = QSizeF(picture.size()) / ratio;
        size.scale(QSizeF(side, side), Qt::KeepAspectRatio);
        QRectF target(QPointF(), size);
        target.moveCenter(QRectF(square).center());
        painter->setClipPath(rounded);
        painter->drawImage(target, picture);
        painter->setClipping(false);
    } else {
        placeholder_.paint(painter, square.adjusted(20, 20, -20, -20));
    }

    // Name, category and price beside the picture.
    const int left = square.right() + 12;
    const QRect text(left, option.rect.top() + 12, option.rect.right() - 10 - left, side);
    QFont nameFont = option.font;
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.08);
    QFont captionFont = option.font;
    captionFont.setPointSizeF(captionFont.pointSizeF() * 0.88);
    QFont priceFont = option.font;
    priceFont.setBold(true);

    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics captionMetrics(captionFont);
    const QFontMetrics priceMetrics(priceFont);
    int y = text.top() + 2;
    painter->setPen(palette.color(QPalette::ButtonText));
    painter->setFont(nameFont);
    for (const QString& line : nameLines(index.data(Qt::DisplayRole).toString(), nameFont, text.width())) {
        painter->drawText(QRect(text.left(), y, text.width(), nameMetrics.height()),
                          Qt::AlignLeft | Qt::AlignTop, line);
        y += nameMetrics.height();
    }
    y += 2;

    painter->setFont(captionFont);
    painter->setPen(widget ? secondaryTextColor(*widget) : palette.color(QPalette::PlaceholderText));
    painter->drawText(QRect(text.left(), y, text.width(), captionMetrics.height()), Qt::AlignLeft,
                      captionMetrics.elidedText(index.data(ProductGridModel::CategoryRole).toString(),
                                                Qt::ElideRight, text.width()));

    painter->setFont(priceFont);
    painter->setPen(palette.color(QPalette::ButtonText));
    painter->drawText(
        QRect(text.left(), text.bottom() - priceMetrics.height(), text.width(), priceMetrics.height()),
        Qt::AlignLeft, index.data(ProductGridModel::PriceRole).toString());
    painter->restore();
}

QStringList ProductTileDelegate::nameLines(const QString& name, const QFont& font, int width) {
    const QFontMetrics metrics(font);
    QStringList lines;
    QTextLayout layout(name, font);
    QTextOption wrapping;
    wrapping.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(wrapping);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (!lines.isEmpty()) {
            // The second line takes the rest of the name, cut with "…" when it does not fit.
            lines << metrics.elidedText(name.mid(line.textStart()).trimmed(), Qt::ElideRight, width);
            break;
        }
        lines << name.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

ProductGrid::ProductGrid(ProductGridModel& model, ThumbnailCache& thumbnails, QWidget* parent)
    : QListView(parent)
    , model_(model) {
    setObjectName(QStringLiteral("productGrid"));
    setAccessibleName(QStringLiteral("Productos"));
    setModel(&model_);
    setItemDelegate(new ProductTileDelegate(model_, thumbnails, this));
    setViewMode(QListView::IconMode);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    setSpacing(0);
    connect(this, &QListView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) emit productChosen(index.row());
    });
    connect(&model_, &QAbstractItemModel::modelReset, this, &ProductGrid::fitToContent);
}

int ProductGrid::columns() const {
    const int width = viewport()->width() - 1;
    return std::max(1, width / (minimumTileWidth + spacing));
}

void ProductGrid::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    fitToContent();
}

void ProductGrid::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) &&
        event->modifiers() == Qt::NoModifier && currentIndex().isValid()) {
        emit productChosen(currentIndex().row());
        return;
    }
    QListView::keyPressEvent(event);
}

// Tiles share the width equally; the view grows to show every row.
void ProductGrid::fitToContent() {
    const int count = columns();
    const int width = viewport()->width();
    // Each cell holds a tile and the space after it; the cells of a row must fit the width.
    const int cellWidth = std::max(minimumTileWidth + spacing, (width - 1) / count);
    const QSize grid(cellWidth, ProductTileDelegate::tileHeight + spacing);
    if (gridSize() != grid) setGridSize(grid);
    const int rows = (model_.rowCount() + count - 1) / count;
    const int height = std::max(1, rows * grid.height()) + 2 * frameWidth();
    if (minimumHeight() != height || maximumHeight() != height) setFixedHeight(height);
}

} // namespace velmora
