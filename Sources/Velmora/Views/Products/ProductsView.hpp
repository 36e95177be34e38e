#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Models/Catalog.hpp>
#endif

#include <QAbstractListModel>
#include <QWidget>

#include <optional>
#include <string_view>
#include <vector>

class QListView;
class QStackedWidget;

namespace velmora {

class AppStore;
class RowActionsDelegate;
class ThumbnailCache;

// Whether product name `a` is listed before `b`: character by character in code-point order, so
// upper case comes before lower case ("Pizza" before "pizza"), except that runs of digits are
// compared by their value ("Pizza 9" before "Pizza 10").
bool productNameBefore(std::string_view a, std::string_view b);

// The menu as one list: a heading row per category in stored order, followed by its products
// sorted by name. A product whose category copy matches none of the categories is not listed.
class ProductsModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        HeadingRole = Qt::UserRole + 1, // true on a category's heading row
        AvailabilityRole,               // "No disponible" for an inactive product
        PriceRole,
    };

    explicit ProductsModel(const AppStore& store, QObject* parent = nullptr);

    void refresh();
    // The product of a row, or nothing on a heading.
    const pizzacore::Product* product(int row) const;
    int rowOf(const pizzacore::Uuid& product) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Row {
        std::optional<pizzacore::Category> heading;
        std::optional<pizzacore::Product> product;
    };

    const AppStore& store_;
    std::vector<Row> rows_;
};

// The "Productos" section: the menu by category, with each product's editor and removal, the
// categories sheet and the editor for a new product.
class ProductsView : public QWidget {
    Q_OBJECT
public:
    enum Action { edit, remove };

    ProductsView(AppStore& store, ThumbnailCache& thumbnails, QWidget* parent = nullptr);

    QListView& list() const { return *list_; }
    ProductsModel& model() const { return *model_; }
    RowActionsDelegate& rowActions() const { return *delegate_; }
    bool showsEmptyMessage() const;

    void run(int row, Action action);
    void openEditor(const pizzacore::Product& product);
    void openCategories();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void documentChanged();

    AppStore& store_;
    QStackedWidget* content_;
    QListView* list_;
    ProductsModel* model_;
    RowActionsDelegate* delegate_;
    bool stale_ = true;
};

} // namespace velmora
