#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Models/Catalog.hpp>
#endif

#include <Velmora/Views/Shared/EditorSheet.hpp>

#include <QAbstractListModel>
#include <QDialog>

#include <vector>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;

namespace velmora {

class AppStore;
class RowActionsDelegate;

// The categories in stored order, each with its number of products and its ticket destination.
class CategoriesModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { DetailRole = Qt::UserRole + 1 };

    explicit CategoriesModel(const AppStore& store, QObject* parent = nullptr);

    void refresh();
    const pizzacore::Category& category(int row) const {
        return categories_.at(static_cast<std::size_t>(row));
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    const AppStore& store_;
    std::vector<pizzacore::Category> categories_;
    std::vector<std::size_t> counts_;
};

// The categories sheet: the list with each category's editor and removal, and a new category.
class CategoriesView : public QDialog {
    Q_OBJECT
public:
    enum Action { edit, remove };

    explicit CategoriesView(AppStore& store, QWidget* parent = nullptr);

    QListView& list() const { return *list_; }
    CategoriesModel& model() const { return *model_; }
    RowActionsDelegate& rowActions() const { return *delegate_; }

    void run(int row, Action action);
    void openEditor(const pizzacore::Category& category);

private:
    AppStore& store_;
    CategoriesModel* model_;
    QListView* list_;
    RowActionsDelegate* delegate_;
};

// The sheet for removing one category: it first moves the category's products to another one,
// then deletes the emptied category ("Eliminar categoría", its destructive confirmation).
class RemoveCategorySheet : public EditorSheet {
    Q_OBJECT
public:
    RemoveCategorySheet(AppStore& store, pizzacore::Category removing, QWidget* parent = nullptr);

    QString explanation() const;
    QComboBox& destination() const { return *destination_; }
    QPushButton& moveButton() const { return *move_; }
    QPushButton& deleteButton() const { return saveButton(); }

    void moveProducts();
    void deleteCategory() { save(); }

protected:
    std::optional<QString> check() override { return std::nullopt; }
    void transact(AppStore::Then then) override;

private:
    // Shows the category's current number of products and the destinations.
    void showState();
    std::size_t productCount() const;

    pizzacore::Category removing_;
    QLabel* explanation_;
    QComboBox* destination_;
    QLabel* destinationLabel_;
    QPushButton* move_;
};

// The sheet that creates or edits one category: its name and its ticket destination.
class CategoryEditor : public EditorSheet {
    Q_OBJECT
public:
    CategoryEditor(AppStore& store, pizzacore::Category category, QWidget* parent = nullptr);

    // The destination buttons: "Cocina" (0) and "Barra" (1).
    QButtonGroup& destination() const { return *destination_; }

protected:
    std::optional<QString> check() override;
    void transact(AppStore::Then then) override;

private:
    pizzacore::Category category_;
    // The category as read from the form by the last check.
    pizzacore::Category edited_;
    QLineEdit* name_;
    QButtonGroup* destination_;
};

} // namespace velmora
