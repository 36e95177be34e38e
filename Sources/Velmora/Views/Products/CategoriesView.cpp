#include <Velmora/Views/Products/CategoriesView.hpp>

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>
#include <Velmora/Views/Shared/Palette.hpp>
#include <Velmora/Views/Shared/RowActions.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <unordered_map>

namespace velmora {

namespace {

class CategoryRowDelegate : public RowActionsDelegate {
public:
    using RowActionsDelegate::RowActionsDelegate;

protected:
    int contentHeight(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return QFontMetrics(headlineFont(option.font)).height() + QFontMetrics(option.font).height() + 2;
    }

    void paintContent(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                      const QRect& content) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QColor text = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        const QColor secondary = selected ? text : secondaryColor(option.palette);
        int y = content.top() + (content.height() - contentHeight(option, index)) / 2;
        y = drawLine(painter, index.data().toString(), headlineFont(option.font), text, content.left(), y,
                     content.width()) +
            2;
        drawLine(painter, index.data(CategoriesModel::DetailRole).toString(), option.font, secondary,
                 content.left(), y, content.width());
    }
};

std::size_t productsOf(const pizzacore::Database& db, const std::string& categoryID) {
    return static_cast<std::size_t>(
        std::count_if(db.products.begin(), db.products.end(),
                      [&](const auto& product) { return product.category.id == categoryID; }));
}

QHBoxLayout* buttonRow(std::initializer_list<QPushButton*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QPushButton* button : buttons)
        row->addWidget(button);
    return row;
}

} // namespace

CategoriesModel::CategoriesModel(const AppStore& store, QObject* parent)
    : QAbstractListModel(parent)
    , store_(store) {}

void CategoriesModel::refresh() {
    const pizzacore::Database& db = store_.db();
    std::unordered_map<std::string, std::size_t> counts;
    for (const pizzacore::Product& product : db.products)
        counts[product.category.id] += 1;
    beginResetModel();
    categories_ = db.categories.toVector();
    counts_.clear();
    for (const pizzacore::Category& category : categories_)
        counts_.push_back(counts[category.id]);
    endResetModel();
}

int CategoriesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(categories_.size());
}

QVariant CategoriesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return qtext(categories_[row].rawValue);
    case DetailRole:
        return QString::number(counts_[row]) + QStringLiteral(" productos · ") +
               (categories_[row].bar ? QStringLiteral("Barra") : QStringLiteral("Cocina"));
    default:
        return {};
    }
}

CategoriesView::CategoriesView(AppStore& store, QWidget* parent)
    : QDialog(parent)
    , store_(store)
    , model_(new CategoriesModel(store, this))
    , list_(new QListView(this))
    , delegate_(
          new CategoryRowDelegate({{QStringLiteral("Editar")}, {QStringLiteral("Eliminar…"), true}}, this)) {
    setObjectName(QStringLiteral("CategoriesView"));
    setWindowTitle(QStringLiteral("Categorías"));
    setModal(true);
    resize(560, 520);

    QPushButton* create = makeButton(QStringLiteral("Nueva categoría"), QStringLiteral("newCategory"), this);
    auto* title = new QHBoxLayout;
    title->addWidget(makeSheetTitle(QStringLiteral("Categorías"), this), 1);
    title->addWidget(create);

    list_->setObjectName(QStringLiteral("categories"));
    list_->setAccessibleName(QStringLiteral("Categorías"));
    list_->setModel(model_);
    list_->setUniformItemSizes(true);
    delegate_->attach(*list_, edit, remove);

    // "Cerrar" is the sheet's cancel button: Escape closes the sheet as it does.
    QPushButton* close = makeButton(QStringLiteral("Cerrar"), QStringLiteral("close"), this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 20);
    layout->setSpacing(10);
    layout->addLayout(title);
    layout->addWidget(
        makeCaption(QStringLiteral("Organiza tu carta y el destino de los tickets de cada categoría."),
                    QStringLiteral("subtitle"), this));
    layout->addWidget(list_, 1);
    layout->addWidget(
        makeCaption(QStringLiteral("Antes de eliminar una categoría con productos, debes trasladarlos. "
                                   "Los pedidos anteriores conservan su contenido."),
                    QStringLiteral("caption"), this));
    layout->addLayout(buttonRow({close}));

    connect(create, &QPushButton::clicked, this,
            [this] { openEditor(pizzacore::Category::make({}, false)); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(delegate_, &RowActionsDelegate::triggered, this,
            [this](const QModelIndex& index, int action) { run(index.row(), static_cast<Action>(action)); });
    connect(&store_, &AppStore::dbChanged, model_, &CategoriesModel::refresh);
    model_->refresh();
}

void CategoriesView::run(int row, Action action) {
    if (row < 0 || row >= model_->rowCount()) return;
    const pizzacore::Category category = model_->category(row);
    if (action == edit) {
        openEditor(category);
        return;
    }
    auto* sheet = new RemoveCategorySheet(store_, category, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

void CategoriesView::openEditor(const pizzacore::Category& category) {
    auto* editor = new CategoryEditor(store_, category, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->open();
}

RemoveCategorySheet::RemoveCategorySheet(AppStore& store, pizzacore::Category removing, QWidget* parent)
    : EditorSheet(store, QStringLiteral("Eliminar «") + qtext(removing.rawValue) + QStringLiteral("»"),
                  parent,
                  {QStringLiteral("Volver"), QStringLiteral("back"), QStringLiteral("Eliminar categoría"),
                   QStringLiteral("deleteCategory"), true})
    , removing_(std::move(removing))
    , explanation_(makePlainLabel(QString(), QStringLiteral("explanation"), this))
    , destination_(new QComboBox(this))
    , destinationLabel_(new QLabel(QStringLiteral("Destino"), this))
    , move_(makeProminentButton(QString(), QStringLiteral("moveProducts"), this)) {
    setObjectName(QStringLiteral("RemoveCategorySheet"));
    setWindowTitle(QStringLiteral("Eliminar categoría"));
    setMinimumWidth(450);
    explanation_->setWordWrap(true);
    destination_->setObjectName(QStringLiteral("destination"));
    destination_->setAccessibleName(QStringLiteral("Destino"));

    // The first other category in stored order is proposed.
    for (const pizzacore::Category& category : this->store().db().categories)
        if (category.id != removing_.id) destination_->addItem(qtext(category.rawValue), qtext(category.id));

    auto* destinationRow = new QHBoxLayout;
    destinationRow->addWidget(destinationLabel_);
    destinationRow->addWidget(destination_, 1);
    destinationRow->addWidget(move_);

    form().addWidget(explanation_);
    form().addLayout(destinationRow);

    connect(move_, &QPushButton::clicked, this, &RemoveCategorySheet::moveProducts);
    connect(&this->store(), &AppStore::dbChanged, this, &RemoveCategorySheet::showState);
    showState();
}

QString RemoveCategorySheet::explanation() const {
    return explanation_->text();
}

std::size_t RemoveCategorySheet::productCount() const {
    return productsOf(store().db(), removing_.id);
}

void RemoveCategorySheet::showState() {
    const std::size_t count = productCount();
    const QString number = QString::number(count);
    const bool hasProducts = count > 0;
    explanation_->setText(hasProducts ? QStringLiteral("Esta categoría tiene ") + number +
                                            QStringLiteral(" productos. Trasládalos antes de eliminarla.")
                                      : QStringLiteral("La categoría está vacía y se puede eliminar."));
    move_->setText(QStringLiteral("Trasladar ") + number + QStringLiteral(" productos"));
    move_->setAccessibleName(move_->text());
    destinationLabel_->setVisible(hasProducts);
    destination_->setVisible(hasProducts);
    move_->setVisible(hasProducts);
    move_->setDefault(hasProducts);
    deleteButton().setEnabled(!hasProducts);
}

void RemoveCategorySheet::moveProducts() {
    if (saving()) return;
    const std::string destinationID = utf8(destination_->currentData().toString());
    std::optional<pizzacore::Category> to;
    for (const pizzacore::Category& category : store().db().categories)
        if (category.id == destinationID && !destinationID.empty()) to = category;
    if (!to) {
        // The only category has nowhere to send its products.
        setError(QStringLiteral("Elige otra categoría de destino."));
        return;
    }
    // A refusal (a stale copy of either category) stays in the sheet; a failure to write is in the
    // main alert. The sheet stays open to delete the emptied category.
    runChange(
        [this, to = *to](AppStore::Then then) { store().moveProducts(removing_, to, this, std::move(then)); },
        [this](const Outcome& outcome) { setError(outcome.refused ? outcome.failure : QString()); });
}

void RemoveCategorySheet::transact(AppStore::Then then) {
    store().deleteCategory(removing_, this, std::move(then));
}

CategoryEditor::CategoryEditor(AppStore& store, pizzacore::Category category, QWidget* parent)
    : EditorSheet(store, QStringLiteral("Categoría"), parent)
    , category_(std::move(category))
    , name_(makeField(QStringLiteral("Nombre"), QStringLiteral("name"), this))
    , destination_(new QButtonGroup(this)) {
    setObjectName(QStringLiteral("CategoryEditor"));
    setFixedWidth(450);
    name_->setText(qtext(category_.rawValue));

    // A segmented picker: two exclusive checkable buttons.
    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    const std::array<QString, 2> titles{QStringLiteral("Cocina"), QStringLiteral("Barra")};
    for (int id = 0; id < 2; ++id) {
        QPushButton* segment = makeButton(titles[static_cast<std::size_t>(id)],
                                          id == 0 ? QStringLiteral("kitchen") : QStringLiteral("bar"), this);
        segment->setCheckable(true);
        destination_->addButton(segment, id);
        segments->addWidget(segment);
    }
    destination_->setExclusive(true);
    destination_->button(category_.bar ? 1 : 0)->setChecked(true);
    auto* segmentBox = new QWidget(this);
    segmentBox->setObjectName(QStringLiteral("ticketDestination"));
    segmentBox->setAccessibleName(QStringLiteral("Destino del ticket"));
    segmentBox->setLayout(segments);
    segments->setContentsMargins(0, 0, 0, 0);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("Nombre"), name_);
    fields->addRow(QStringLiteral("Destino del ticket"), segmentBox);
    form().addLayout(fields);
    form().addWidget(
        makeCaption(QStringLiteral("El ticket de cliente incluye todos los productos. Los pedidos "
                                   "anteriores conservan su destino."),
                    QStringLiteral("caption"), this));
}

std::optional<QString> CategoryEditor::check() {
    edited_ = category_;
    edited_.rawValue = utf8(name_->text());
    edited_.bar = destination_->checkedId() == 1;
    return std::nullopt;
}

void CategoryEditor::transact(AppStore::Then then) {
    store().saveCategory(edited_, this, std::move(then));
}

} // namespace velmora
