#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Models/Catalog.hpp>
#include <PizzaCore/Models/Settings.hpp>
#endif

#include <QAbstractListModel>
#include <QIcon>
#include <QListView>
#include <QStyledItemDelegate>

#include <string>
#include <vector>

namespace velmora {

class ThumbnailCache;

// The products offered at the till, one row each, in the order they are shown.
class ProductGridModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { CategoryRole = Qt::UserRole + 1, PriceRole, ImageRole };

    using QAbstractListModel::QAbstractListModel;

    // Shows `products` (already filtered and sorted) with prices in the currency of `settings`.
    void setProducts(std::vector<pizzacore::Product> products, const pizzacore::Settings& settings);
    const pizzacore::Product& product(int row) const { return products_.at(static_cast<std::size_t>(row)); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<pizzacore::Product> products_;
    std::vector<QString> prices_;
};

// Paints one product tile: its picture, its name, its category in the secondary colour and its
// price in bold.
class ProductTileDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int pictureSide = 72;
    static constexpr int tileHeight = pictureSide + 2 * 12;

    ProductTileDelegate(const ProductGridModel& model, ThumbnailCache& thumbnails, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // A product's name as the tile shows it: at most two lines of `width`, broken between words,
    // the second ending in "…" when the name is longer still; the tooltip has it whole.
    static QStringList nameLines(const QString& name, const QFont& font, int width);
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const ProductGridModel& model_;
    ThumbnailCache& thumbnails_;
    // Looked up once: finding a themed icon reads the icon theme from disk.
    QIcon placeholder_;
};

// A grid of product tiles with as many columns of at least 220 points as fit, 10 points apart. It
// is as tall as its rows, so that the pane around it scrolls. A click, Return or Space on a tile
// asks for that product; typing a name's first letters moves to it.
class ProductGrid : public QListView {
    Q_OBJECT
public:
    static constexpr int minimumTileWidth = 220;
    static constexpr int spacing = 10;

    ProductGrid(ProductGridModel& model, ThumbnailCache& thumbnails, QWidget* parent = nullptr);

    // The number of columns at the present width.
    int columns() const;

signals:
    void productChosen(int row);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void fitToContent();

    ProductGridModel& model_;
};

} // namespace velmora
