#include <Velmora/Views/Shared/AccessibleRows.hpp>

#include <Velmora/Views/Shared/RowActions.hpp>

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleObject>
#include <QItemSelectionModel>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <unordered_map>

namespace velmora {

namespace {

// Set on the lists whose accessible interface is made here.
constexpr char exposedProperty[] = "velmoraRowActions";

// The list while it still is one. A screen reader may ask about it while it is being destroyed;
// once its item-view part is gone it casts as a plain widget, and nothing may be asked of it.
QAbstractItemView* liveView(QObject* object) {
    return qobject_cast<QAbstractItemView*>(object);
}

RowActionsDelegate* delegateOf(const QAbstractItemView* view) {
    return view ? qobject_cast<RowActionsDelegate*>(view->itemDelegate()) : nullptr;
}

QString showMenuName() {
    return QAccessibleActionInterface::showMenuAction();
}

QString selectName() {
    return QAccessibleActionInterface::setFocusAction();
}

// One row of the list, for as long as its model index lives.
class AccessibleRow : public QAccessibleInterface,
                      public QAccessibleActionInterface,
                      public QAccessibleTableCellInterface {
public:
    AccessibleRow(QAbstractItemView& view, const QModelIndex& index)
        : view_(&view)
        , index_(index) {}

    const QPersistentModelIndex& index() const { return index_; }
    QAbstractItemView* view() const { return liveView(view_.data()); }

    bool isValid() const override { return view() && view()->model() && index_.isValid(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return isValid() ? view()->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return view() ? QAccessible::queryAccessibleInterface(view()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text kind) const override {
        if (!isValid()) return {};
        if (kind == QAccessible::Name) {
            const QString name = index_.data(Qt::AccessibleTextRole).toString();
            return name.isEmpty() ? index_.data(Qt::DisplayRole).toString() : name;
        }
        if (kind == QAccessible::Description) return index_.data(Qt::AccessibleDescriptionRole).toString();
        return {};
    }

    QRect rect() const override {
        if (!isValid()) return {};
        const QRect row = view()->visualRect(index_);
        if (row.isNull()) return {};
        return QRect(view()->viewport()->mapToGlobal(row.topLeft()), row.size());
    }

    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        QAbstractItemView& list = *view();
        if (!list.isVisible() || !list.viewport()->rect().intersects(list.visualRect(index_))) {
            state.invisible = true;
            state.offscreen = true;
        }
        const Qt::ItemFlags flags = index_.flags();
        if (!(flags & Qt::ItemIsEnabled) || !list.isEnabled()) state.disabled = true;
        if (flags & Qt::ItemIsSelectable) {
            state.selectable = true;
            state.focusable = true;
        }
        if (isSelected()) state.selected = true;
        // The current row is the one the keyboard is on, as Qt's own list items report it.
        if (list.currentIndex() == index_) state.focused = true;
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ActionInterface) return static_cast<QAccessibleActionInterface*>(this);
        if (type == QAccessible::TableCellInterface) return static_cast<QAccessibleTableCellInterface*>(this);
        return nullptr;
    }

    // The enabled actions of the row by their labels, then its menu and its selection.
    QStringList actionNames() const override {
        QStringList names;
        if (!isValid()) return names;
        if (RowActionsDelegate* delegate = delegateOf(view()); delegate && delegate->hasActions(index_)) {
            for (qsizetype i = 0; i < delegate->actions().size(); ++i)
                if (delegate->isEnabled(index_, static_cast<int>(i))) names << delegate->actions()[i].title;
            names << showMenuName();
        }
        if (index_.flags() & Qt::ItemIsSelectable) names << selectName();
        return names;
    }

    QString localizedActionName(const QString& name) const override {
        if (name == showMenuName()) return QStringLiteral("Mostrar menú");
        if (name == selectName()) return QStringLiteral("Seleccionar");
        return name;
    }

    QString localizedActionDescription(const QString& name) const override {
        return localizedActionName(name);
    }

    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    void doAction(const QString& name) override {
        if (!isValid() || !actionNames().contains(name)) return;
        QAbstractItemView& list = *view();
        if (name == selectName()) {
            list.setFocus(Qt::OtherFocusReason);
            list.selectionModel()->setCurrentIndex(index_, QItemSelectionModel::ClearAndSelect);
            return;
        }
        RowActionsDelegate* delegate = delegateOf(&list);
        if (!delegate) return;
        const QPersistentModelIndex target = index_;
        // The request comes from the screen reader, which waits for the answer: an action that opens
        // a sheet or asks a question runs once the answer is sent.
        if (name == showMenuName()) {
            QMetaObject::invokeMethod(
                delegate, [delegate, target] { delegate->openMenu(target); }, Qt::QueuedConnection);
            return;
        }
        const QList<RowAction>& actions = delegate->actions();
        const auto action = static_cast<int>(
            std::find_if(actions.begin(), actions.end(),
                         [&](const RowAction& candidate) { return candidate.title == name; }) -
            actions.begin());
        QMetaObject::invokeMethod(
            delegate, [delegate, target, action] { delegate->trigger(target, action); },
            Qt::QueuedConnection);
    }

    bool isSelected() const override {
        return isValid() && view()->selectionModel() && view()->selectionModel()->isSelected(index_);
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return 0; }
    int rowIndex() const override { return index_.row(); }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

private:
    QPointer<QAbstractItemView> view_;
    QPersistentModelIndex index_;
};

// The list: one child per row, in row order, which is also how the list itself numbers its rows
// when it tells a screen reader that the current or selected row changed.
class AccessibleRowList : public QAccessibleObject, public QAccessibleTableInterface {
public:
    explicit AccessibleRowList(QAbstractItemView& view)
        : QAccessibleObject(&view) {}

    ~AccessibleRowList() override { forgetRows(); }

    QAbstractItemView* view() const { return liveView(object()); }

    bool isValid() const override { return view() != nullptr; }
    QWindow* window() const override { return view() ? view()->window()->windowHandle() : nullptr; }
    QAccessible::Role role() const override { return QAccessible::List; }

    QAccessibleInterface* parent() const override {
        QWidget* above = view() ? view()->parentWidget() : nullptr;
        return above ? QAccessible::queryAccessibleInterface(above) : nullptr;
    }

    QString text(QAccessible::Text kind) const override {
        if (!view()) return {};
        if (kind == QAccessible::Name) return view()->accessibleName();
        if (kind == QAccessible::Description) return view()->accessibleDescription();
        return {};
    }

    QRect rect() const override {
        if (!view() || !view()->isVisible()) return {};
        return QRect(view()->mapToGlobal(QPoint(0, 0)), view()->size());
    }

    QAccessible::State state() const override {
        QAccessible::State state;
        QAbstractItemView* list = view();
        if (!list) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        if (list->hasFocus()) state.focused = true;
        if (!list->isVisible()) state.invisible = true;
        if (!list->isEnabled()) state.disabled = true;
        return state;
    }

    int childCount() const override { return rowCount(); }

    QAccessibleInterface* child(int row) const override {
        QAbstractItemView* list = view();
        if (!list || !list->model() || row < 0 || row >= rowCount()) return nullptr;
        const QModelIndex index = list->model()->index(row, 0, list->rootIndex());
        // A row made earlier is kept while it still stands on that row; rows move and vanish with
        // the filters, and a stale one is replaced.
        if (const auto known = rows_.find(row); known != rows_.end()) {
            if (auto* made = static_cast<AccessibleRow*>(QAccessible::accessibleInterface(known->second));
                made && made->index() == index)
                return made;
            QAccessible::deleteAccessibleInterface(known->second);
            rows_.erase(known);
        }
        auto* made = new AccessibleRow(*list, index);
        rows_.emplace(row, QAccessible::registerAccessibleInterface(made));
        return made;
    }

    int indexOfChild(const QAccessibleInterface* candidate) const override {
        const auto* row = dynamic_cast<const AccessibleRow*>(candidate);
        if (!row || !view() || row->view() != view() || !row->index().isValid()) return -1;
        return row->index().row();
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        if (!view()) return nullptr;
        const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() ? child(index.row()) : nullptr;
    }

    QAccessibleInterface* focusChild() const override {
        if (!view() || !view()->hasFocus()) return nullptr;
        const QModelIndex current = view()->currentIndex();
        return current.isValid() ? child(current.row()) : nullptr;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TableInterface ? static_cast<QAccessibleTableInterface*>(this) : nullptr;
    }

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override {
        return column == 0 ? child(row) : nullptr;
    }
    int selectedCellCount() const override { return selectedRowCount(); }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        for (const int row : selectedRows())
            if (QAccessibleInterface* cell = child(row)) cells << cell;
        return cells;
    }
    QString columnDescription(int) const override { return {}; }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return static_cast<int>(selectedRows().size()); }
    int columnCount() const override { return 1; }
    int rowCount() const override {
        QAbstractItemView* list = view();
        return list && list->model() ? list->model()->rowCount(list->rootIndex()) : 0;
    }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override {
        QList<int> rows;
        if (QItemSelectionModel* selection = view() ? view()->selectionModel() : nullptr)
            for (const QModelIndex& index : selection->selectedRows())
                rows << index.row();
        return rows;
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override {
        QItemSelectionModel* selection = view() ? view()->selectionModel() : nullptr;
        return selection && selection->isRowSelected(row, view()->rootIndex());
    }
    bool selectRow(int row) override {
        QAbstractItemView* list = view();
        if (!list || !list->model() || !list->selectionModel() ||
            list->selectionMode() == QAbstractItemView::NoSelection || row < 0 || row >= rowCount())
            return false;
        list->selectionModel()->setCurrentIndex(list->model()->index(row, 0, list->rootIndex()),
                                                QItemSelectionModel::ClearAndSelect);
        return true;
    }
    bool selectColumn(int) override { return false; }
    // A single-selection list keeps its one selected row, as with the keyboard.
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }

    void modelChange(QAccessibleTableModelChangeEvent* event) override {
        if (event->modelChangeType() != QAccessibleTableModelChangeEvent::DataChanged) forgetRows();
    }

private:
    void forgetRows() const {
        for (const auto& [row, id] : rows_)
            QAccessible::deleteAccessibleInterface(id);
        rows_.clear();
    }

    mutable std::unordered_map<int, QAccessible::Id> rows_;
};

QAccessibleInterface* makeAccessibleRowList(const QString&, QObject* object) {
    QAbstractItemView* view = liveView(object);
    if (!view || !view->property(exposedProperty).toBool()) return nullptr;
    return new AccessibleRowList(*view);
}

} // namespace

void exposeRowActions(QAbstractItemView& view) {
    static const bool installed = [] {
        QAccessible::installFactory(&makeAccessibleRowList);
        return true;
    }();
    (void)installed;
    view.setProperty(exposedProperty, true);
    // A screen reader that asked about the list before (its name is set first) got Qt's own
    // interface, which stays cached for the list's lifetime unless it is replaced now.
    QAccessibleInterface* existing = QAccessible::queryAccessibleInterface(&view);
    if (existing && !dynamic_cast<AccessibleRowList*>(existing)) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(existing));
        QAccessible::queryAccessibleInterface(&view);
    }
}

} // namespace velmora
