#include <Velmora/Views/Checkout/CheckoutView.hpp>

#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Checkout/ProductGrid.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>
#include <Velmora/Views/Shared/Palette.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <PizzaCore/Calls/CallerNumber.hpp>
#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Foundation/TextCompare.hpp>
#include <PizzaCore/Models/PhoneKey.hpp>

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollArea>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <functional>
#include <utility>

namespace velmora {

namespace {

// Replaces the field's text only when it differs, so the cursor stays where the operator types.
void showText(QLineEdit& field, const std::string& text) {
    const QString value = qtext(text);
    if (field.text() != value) field.setText(value);
}

struct ModeChoice {
    pizzacore::Mode mode;
    const char* objectName;
    const char* label;
};

constexpr std::array modeChoices{
    ModeChoice{pizzacore::Mode::pickup, "modePickup", "Recoger"},
    ModeChoice{pizzacore::Mode::local, "modeLocal", "Comer en local"},
    ModeChoice{pizzacore::Mode::delivery, "modeDelivery", "Domicilio"},
};

constexpr int recentCount = 3;

// The product search: Return adds the first product shown, Escape empties the search, Down moves
// into the grid.
class SearchField : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    std::function<void()> chooseFirst;
    std::function<void()> enterGrid;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
            switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                if (chooseFirst) chooseFirst();
                return;
            case Qt::Key_Escape:
                if (!text().isEmpty()) {
                    clear();
                    return;
                }
                break;
            case Qt::Key_Down:
                if (enterGrid) enterGrid();
                return;
            default:
                break;
            }
        }
        QLineEdit::keyPressEvent(event);
    }
};

// The prominent colours of "Confirmar pedido": the selection colours while it can be pressed, a
// plain grey face with grey text while it cannot, so the two states never look alike.
void paintProminent(QPushButton& button) {
    QPalette colours = button.palette();
    const QColor face = colours.color(QPalette::Active, QPalette::Highlight);
    const QColor text = colours.color(QPalette::Active, QPalette::HighlightedText);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        colours.setColor(group, QPalette::Button, face);
        colours.setColor(group, QPalette::ButtonText, text);
    }
    const QColor window = colours.color(QPalette::Active, QPalette::Window);
    colours.setColor(QPalette::Disabled, QPalette::Button, window.darker(112));
    colours.setColor(QPalette::Disabled, QPalette::ButtonText,
                     colours.color(QPalette::Disabled, QPalette::WindowText));
    button.setPalette(colours);
}

} // namespace

LineCard::LineCard(QWidget* parent)
    : QFrame(parent)
    , name_(makeBoldLabel(QString(), QStringLiteral("lineName"), this, 1.08))
    , amount_(makeBoldLabel(QString(), QStringLiteral("lineAmount"), this))
    , stepLabel_(makePlainLabel(QString(), QStringLiteral("lineStepLabel"), this))
    , quantity_(nameControl(new QSpinBox(this), QStringLiteral("lineQuantity"), QStringLiteral("Cantidad")))
    , remove_(
          nameControl(new QToolButton(this), QStringLiteral("removeLine"), QStringLiteral("Quitar artículo")))
    , notes_(makeField(QStringLiteral("Nota para este artículo"), QStringLiteral("lineNotes"), this))
    , problem_(makeBoldLabel(QString(), QStringLiteral("lineProblem"), this, 0.95)) {
    setObjectName(QStringLiteral("lineCard"));
    setFrameShape(QFrame::StyledPanel);
    name_->setWordWrap(true);
    quantity_->setRange(1, 999);
    quantity_->setSingleStep(1);
    // Every number the box shows is the line's quantity at once: a shortcut that confirms, the
    // autosave and a screen reader's edit all see what the operator sees.
    quantity_->setKeyboardTracking(true);
    remove_->setToolTip(QStringLiteral("Quitar artículo"));
    remove_->setIcon(symbolIcon(QStringLiteral("trash")));
    if (remove_->icon().isNull()) remove_->setText(QStringLiteral("Quitar"));

    problem_->setWordWrap(true);
    colours::paintText(*problem_, colours::destructive);
    problem_->hide();

    auto* top = new QHBoxLayout;
    top->addWidget(name_, 1);
    top->addWidget(amount_, 0, Qt::AlignTop);
    auto* middle = new QHBoxLayout;
    middle->addWidget(stepLabel_, 1);
    middle->addWidget(quantity_);
    middle->addWidget(remove_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(6);
    layout->addLayout(top);
    layout->addLayout(middle);
    layout->addWidget(notes_);
    layout->addWidget(problem_);

    connect(quantity_, &QSpinBox::valueChanged, this, [this](int value) {
        if (!refilling_) emit quantityEdited(lineID_, value);
    });
    connect(remove_, &QToolButton::clicked, this, [this] { emit removeRequested(lineID_); });
    // Any change of the note counts, typed, dictated or set by a screen reader; only the card's
    // own refill does not.
    connect(notes_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!refilling_) emit notesEdited(lineID_, text);
    });
}

void LineCard::display(const pizzacore::Line& line, const pizzacore::Settings& settings,
                       const std::optional<std::string>& problem) {
    lineID_ = line.id;
    name_->setText(qtext(line.name));
    try {
        amount_->setText(amountText(line.total(), settings));
    } catch (const pizzacore::PCError&) {
        amount_->setText(QStringLiteral("—"));
    }
    const QString unit = amountText(line.cents, settings);
    stepLabel_->setText(QString::number(line.quantity) + QStringLiteral(" × ") + unit);
    quantity_->setAccessibleName(QStringLiteral("Cantidad de ") + qtext(line.name));
    const QScopedValueRollback refill(refilling_, true);
    // Setting the same value would rewrite a number the operator is half-way through typing.
    if (const int quantity = static_cast<int>(std::clamp<std::int64_t>(line.quantity, 1, 999));
        quantity_->value() != quantity)
        quantity_->setValue(quantity);
    showText(*notes_, line.notes);
    if (problem) {
        const QString text = QStringLiteral("«") + qtext(line.name) + QStringLiteral("» ") + qtext(*problem) +
                             QStringLiteral(": quítalo y vuelve a añadirlo.");
        problem_->setText(text);
        problem_->setAccessibleName(text);
    }
    problem_->setVisible(problem.has_value());
    setVisible(true);
}

CheckoutView::CheckoutView(AppStore& store, ThumbnailCache& thumbnails, QWidget* parent)
    : QWidget(parent)
    , store_(store)
    , thumbnails_(thumbnails)
    , products_(new ProductGridModel(this)) {
    setObjectName(QStringLiteral("CheckoutView"));

    // The parts are made in the order the keyboard goes through them.
    QLayout* header = makeHeader();
    QWidget* leftover = makeLeftoverLine();
    QWidget* call = makeCallLine();

    // Left pane: the caller and the products, scrolling together.
    auto* leftContent = new QWidget;
    auto* leftLayout = new QVBoxLayout(leftContent);
    leftLayout->setContentsMargins(0, 0, 8, 0);
    leftLayout->setSpacing(18);
    leftLayout->addWidget(makeCustomerSection());
    leftLayout->addWidget(makeProductSection());
    leftLayout->addStretch();
    auto* left = new QScrollArea(this);
    left->setObjectName(QStringLiteral("checkoutLeftPane"));
    left->setWidgetResizable(true);
    left->setFrameShape(QFrame::NoFrame);
    left->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    left->setWidget(leftContent);

    auto* panes = new QHBoxLayout;
    panes->setSpacing(20);
    panes->addWidget(left, 1);
    panes->addWidget(makeOrderSection());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->setSpacing(16);
    layout->addLayout(header);
    layout->addWidget(leftover);
    layout->addWidget(call);
    layout->addWidget(callStatus_);
    layout->addLayout(panes, 1);

    for (const QKeySequence& keys :
         {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, &CheckoutView::confirmOrder);
    }
    // Ctrl+F goes to the product search from anywhere on the screen.
    auto* findProduct = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
    findProduct->setContext(Qt::WidgetWithChildrenShortcut);
    connect(findProduct, &QShortcut::activated, this, [this] {
        search_->setFocus(Qt::ShortcutFocusReason);
        search_->selectAll();
    });
    connect(&store_, &AppStore::dbChanged, this, &CheckoutView::showDocument);
    connect(&store_, &AppStore::draftChanged, this, &CheckoutView::showDraft);
    connect(&store_, &AppStore::callReceived, this, &CheckoutView::takeCall);
    connect(&store_, &AppStore::callStatusChanged, this, &CheckoutView::showCallStatus);
    showDocument();
    showDraft();
    showCallStatus();
    // A call that came in while the data was being opened.
    takeCall();
}

CheckoutView::~CheckoutView() = default;

// The screen's title with "Vaciar borrador" at its right.
QLayout* CheckoutView::makeHeader() {
    auto* header = new QHBoxLayout;
    header->addWidget(
        new PageHeader(QStringLiteral("Caja"), QStringLiteral("Una llamada. Un pedido. Todo a mano."), this),
        1);
    empty_ = makeButton(QStringLiteral("Vaciar borrador"), QStringLiteral("emptyDraft"), this);
    colours::makeDestructive(*empty_);
    header->addWidget(empty_, 0, Qt::AlignTop);
    connect(empty_, &QPushButton::clicked, this, &CheckoutView::askToEmptyDraft);
    return header;
}

// A draft left half-taken by the last run: said discreetly, with a way to start afresh.
QWidget* CheckoutView::makeLeftoverLine() {
    leftover_ = new QWidget(this);
    leftover_->setObjectName(QStringLiteral("leftoverDraft"));
    leftoverText_ = makeFootnote(QString(), QStringLiteral("leftoverDraftText"), leftover_);
    leftoverText_->setWordWrap(false);
    emptyLeftover_ = makeButton(QStringLiteral("Vaciar"), QStringLiteral("emptyLeftoverDraft"), leftover_);
    emptyLeftover_->setFlat(true);
    auto* layout = new QHBoxLayout(leftover_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(leftoverText_);
    layout->addWidget(emptyLeftover_);
    layout->addStretch();
    leftover_->hide();
    if (const pizzacore::Draft& draft = store_.draft();
        !draft.lines.empty() || !draft.phone.empty() || !draft.name.empty())
        leftoverDraft_ = draft.id;
    connect(emptyLeftover_, &QPushButton::clicked, this, &CheckoutView::askToEmptyDraft);
    return leftover_;
}

// A call that came in over a half-taken order: its number and the way to take it.
QWidget* CheckoutView::makeCallLine() {
    call_ = new QFrame(this);
    call_->setObjectName(QStringLiteral("incomingCall"));
    static_cast<QFrame*>(call_)->setFrameShape(QFrame::StyledPanel);
    callText_ = makeBoldLabel(QString(), QStringLiteral("incomingCallText"), call_, 1.1);
    answerCall_ = makeButton(QStringLiteral("Atender"), QStringLiteral("answerCall"), call_);
    auto* layout = new QHBoxLayout(call_);
    layout->setContentsMargins(10, 4, 10, 4);
    layout->addWidget(callText_);
    layout->addWidget(answerCall_);
    layout->addStretch();
    call_->hide();
    connect(answerCall_, &QPushButton::clicked, this, &CheckoutView::answerCall);

    // What keeps calls from arriving (the modem unplugged, the socket refused), said discreetly.
    callStatus_ = makeFootnote(QString(), QStringLiteral("callStatus"), this);
    callStatus_->setWordWrap(true);
    colours::paintText(*callStatus_, colours::attention);
    callStatus_->hide();
    return call_;
}

QWidget* CheckoutView::makeCustomerSection() {
    auto* box = new QGroupBox(QStringLiteral("1 · Cliente y entrega"));
    box->setObjectName(QStringLiteral("customerSection"));
    auto* form = new QFormLayout(box);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setLabelAlignment(Qt::AlignLeft);
    // On a narrow screen the labels go above their fields rather than squeezing them.
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);

    phone_ = makeField(QStringLiteral("Teléfono"), QStringLiteral("phone"), box);
    phone_->setInputMethodHints(Qt::ImhDialableCharactersOnly);
    find_ = makeButton(QStringLiteral("Buscar cliente"), QStringLiteral("findCustomer"), box);
    auto* phoneRow = new QHBoxLayout;
    phoneRow->addWidget(phone_, 1);
    phoneRow->addWidget(find_);
    form->addRow(QStringLiteral("Teléfono"), phoneRow);
    customerHint_ = makeFootnote(QString(), QStringLiteral("customerHint"), box);
    customerHint_->hide();
    form->addRow(QString(), customerHint_);

    name_ = makeField(QStringLiteral("Nombre"), QStringLiteral("name"), box);
    form->addRow(QStringLiteral("Nombre"), name_);

    modes_ = new QButtonGroup(box);
    modes_->setExclusive(true);
    auto* modeRow = new QHBoxLayout;
    modeRow->setSpacing(0);
    for (const ModeChoice& choice : modeChoices) {
        QPushButton* button =
            makeButton(QString::fromUtf8(choice.label), QString::fromLatin1(choice.objectName), box);
        button->setCheckable(true);
        modes_->addButton(button, static_cast<int>(choice.mode));
        modeButtons_.push_back(button);
        modeRow->addWidget(button);
    }
    modeRow->addStretch();
    form->addRow(QStringLiteral("Modalidad"), modeRow);

    address_ = makeField(QStringLiteral("Dirección (opcional)"), QStringLiteral("address"), box);
    address_->setAccessibleName(QStringLiteral("Dirección"));
    form->addRow(QStringLiteral("Dirección"), address_);
    customerNotes_ =
        makeField(QStringLiteral("Notas habituales del cliente"), QStringLiteral("customerNotes"), box);
    form->addRow(QStringLiteral("Notas habituales"), customerNotes_);

    // Its label, new card or update, is given by showDraft().
    saveCustomer_ = makeButton(QString(), QStringLiteral("saveCustomer"), box);
    form->addRow(QString(), saveCustomer_);

    recentCaption_ = makeFootnote(QString(), QStringLiteral("recentOrders"), box);
    recentCaption_->setWordWrap(true);
    form->addRow(recentCaption_);
    // One under another: three buttons side by side do not fit a small screen's column.
    auto* recentRow = new QVBoxLayout;
    recentRow->setSpacing(4);
    for (int index = 0; index < recentCount; ++index) {
        auto* button = new QPushButton(box);
        button->setObjectName(QStringLiteral("recentOrder%1").arg(index));
        button->setVisible(false);
        connect(button, &QPushButton::clicked, this, [this, index] {
            if (static_cast<std::size_t>(index) >= recentIDs_.size()) return;
            store_.showOrder(recentIDs_[static_cast<std::size_t>(index)]);
        });
        recentButtons_.push_back(button);
        recentRow->addWidget(button, 0, Qt::AlignLeft);
    }
    form->addRow(recentRow);

    // Every change of a field's text goes into the draft, whether typed, pasted, dictated or set
    // through the accessibility interface; only showDraft()'s refills are left out.
    connect(phone_, &QLineEdit::textChanged, this, [this](const QString& text) {
        editField([&](pizzacore::Draft& d) { d.phone = text.toStdString(); });
        // What the line said was about the number before.
        if (!refilling_) customerHint_->hide();
    });
    connect(phone_, &QLineEdit::returnPressed, this, &CheckoutView::lookUpCaller);
    connect(find_, &QPushButton::clicked, this, &CheckoutView::lookUpCaller);
    // Return goes on towards the products: through the address for a delivery still without one.
    connect(name_, &QLineEdit::returnPressed, this, [this] {
        if (store_.draft().mode == pizzacore::Mode::delivery && address_->text().trimmed().isEmpty())
            address_->setFocus(Qt::OtherFocusReason);
        else
            search_->setFocus(Qt::OtherFocusReason);
    });
    connect(address_, &QLineEdit::returnPressed, this, [this] { search_->setFocus(Qt::OtherFocusReason); });
    connect(customerNotes_, &QLineEdit::returnPressed, this,
            [this] { search_->setFocus(Qt::OtherFocusReason); });
    connect(name_, &QLineEdit::textChanged, this, [this](const QString& text) {
        editField([&](pizzacore::Draft& d) { d.name = text.toStdString(); });
    });
    connect(address_, &QLineEdit::textChanged, this, [this](const QString& text) {
        editField([&](pizzacore::Draft& d) { d.address = text.toStdString(); });
    });
    connect(customerNotes_, &QLineEdit::textChanged, this, [this](const QString& text) {
        editField([&](pizzacore::Draft& d) { d.customerNotes = text.toStdString(); });
    });
    connect(modes_, &QButtonGroup::idClicked, this, [this](int mode) {
        editDraft([&](pizzacore::Draft& d) { d.mode = static_cast<pizzacore::Mode>(mode); });
    });
    connect(saveCustomer_, &QPushButton::clicked, this, [this] {
        commitPendingEdits(*this);
        store_.saveDraftCustomer();
    });
    return box;
}

QWidget* CheckoutView::makeProductSection() {
    auto* section = new QWidget;
    section->setObjectName(QStringLiteral("productSection"));
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    auto* top = new QHBoxLayout;
    top->addWidget(makeBoldLabel(QStringLiteral("2 · Productos"), QString(), section, 1.2));
    top->addStretch();
    categories_ =
        nameControl(new QComboBox(section), QStringLiteral("categoryPicker"), QStringLiteral("Categoría"));
    categories_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    top->addWidget(categories_);
    layout->addLayout(top);

    auto* search = new SearchField(section);
    search_ = nameControl(search, QStringLiteral("productSearch"), QStringLiteral("Buscar producto"));
    search_->setPlaceholderText(QStringLiteral("Buscar producto"));
    search_->setToolTip(QStringLiteral("Buscar producto (Ctrl+F). Intro añade el primero; Esc vacía."));
    search_->setClearButtonEnabled(true);
    search->chooseFirst = [this] { addFirstMatch(); };
    search->enterGrid = [this] {
        if (grid_->model()->rowCount() == 0) return;
        grid_->setFocus(Qt::OtherFocusReason);
        if (!grid_->currentIndex().isValid()) grid_->setCurrentIndex(grid_->model()->index(0, 0));
    };
    layout->addWidget(search_);

    catalogue_ = new QStackedWidget(section);
    auto* prompt = new QWidget;
    auto* promptLayout = new QVBoxLayout(prompt);
    promptLayout->setContentsMargins(0, 12, 0, 12);
    auto* promptText = new QLabel(QStringLiteral("Crea tus primeros productos para empezar."), prompt);
    promptText->setObjectName(QStringLiteral("noProducts"));
    goToProducts_ = makeButton(QStringLiteral("Ir a Productos"), QStringLiteral("goToProducts"), prompt);
    promptLayout->addWidget(promptText);
    promptLayout->addWidget(goToProducts_, 0, Qt::AlignLeft);
    promptLayout->addStretch();
    grid_ = new ProductGrid(*products_, thumbnails_);
    catalogue_->addWidget(prompt);
    catalogue_->addWidget(grid_);
    layout->addWidget(catalogue_);

    connect(categories_, &QComboBox::currentIndexChanged, this, [this](int index) {
        const QString id = categories_->itemData(index).toString();
        category_ = id.isEmpty() ? std::nullopt : std::optional<std::string>(id.toStdString());
        showProducts();
    });
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        query_ = text.trimmed();
        showProducts();
    });
    connect(goToProducts_, &QPushButton::clicked, this,
            [this] { store_.setSelectedTab(QStringLiteral("Productos")); });
    connect(grid_, &ProductGrid::productChosen, this, [this](int row) {
        // While a confirmation is written the order on screen is the one being saved.
        if (confirming_ || row < 0 || row >= products_->rowCount()) return;
        store_.add(products_->product(row));
    });
    return section;
}

QWidget* CheckoutView::makeOrderSection() {
    auto* pane = new QFrame(this);
    pane->setObjectName(QStringLiteral("orderSection"));
    pane->setFrameShape(QFrame::StyledPanel);
    pane->setMinimumWidth(300);
    pane->setMaximumWidth(420);
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(10);

    auto* top = new QHBoxLayout;
    top->addWidget(makeBoldLabel(QStringLiteral("3 · Pedido actual"), QString(), pane, 1.35));
    top->addStretch();
    top->addWidget(makeFootnote(QStringLiteral("Borrador guardado"), QStringLiteral("draftSaved"), pane));
    layout->addLayout(top);

    lines_ = new QStackedWidget(pane);
    lines_->setObjectName(QStringLiteral("orderLines"));
    lines_->addWidget(new EmptyMessage(QStringLiteral("Tu pedido empieza aquí"),
                                       QStringLiteral("Pulsa un producto para añadirlo."),
                                       QStringLiteral("takeoutbag.and.cup.and.straw"), pane));
    auto* scroll = new QScrollArea(pane);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    cardsHolder_ = new QWidget;
    cardsLayout_ = new QVBoxLayout(cardsHolder_);
    cardsLayout_->setContentsMargins(0, 0, 0, 0);
    cardsLayout_->setSpacing(8);
    cardsLayout_->addStretch();
    scroll->setWidget(cardsHolder_);
    lines_->addWidget(scroll);
    layout->addWidget(lines_, 1);

    orderNotes_ =
        makeField(QStringLiteral("Notas solo para este pedido"), QStringLiteral("orderNotes"), pane);
    layout->addWidget(orderNotes_);

    layout->addWidget(makeDivider(pane));

    auto* totalRow = new QHBoxLayout;
    totalRow->addWidget(makeBoldLabel(QStringLiteral("TOTAL"), QString(), pane, 1.08));
    totalRow->addStretch();
    total_ = makeFigure(QString(), QStringLiteral("total"), pane, 24);
    totalRow->addWidget(total_);
    layout->addLayout(totalRow);

    confirm_ = makeButton(QStringLiteral("Confirmar pedido"), QStringLiteral("confirmOrder"), pane);
    confirm_->setIcon(symbolIcon(QStringLiteral("checkmark.circle.fill")));
    confirm_->setToolTip(QStringLiteral("Confirmar pedido (Ctrl+Intro)"));
    confirm_->setMinimumHeight(44);
    scaleFont(*confirm_, 1.1, true);
    paintProminent(*confirm_);
    layout->addWidget(confirm_);
    layout->addWidget(makeFootnote(QStringLiteral("Se guarda una vez. Después podrás cobrar e imprimir."),
                                   QStringLiteral("confirmCaption"), pane));

    connect(orderNotes_, &QLineEdit::textChanged, this, [this](const QString& text) {
        editField([&](pizzacore::Draft& d) { d.notes = text.toStdString(); });
    });
    connect(confirm_, &QPushButton::clicked, this, &CheckoutView::confirmOrder);
    return pane;
}

void CheckoutView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Each time the checkout comes up, the next call starts with the telephone.
    phone_->setFocus(Qt::OtherFocusReason);
    // Whatever it holds, a draft left from before included, the next number typed replaces it.
    phone_->selectAll();
}

void CheckoutView::editDraft(const std::function<void(pizzacore::Draft&)>& edit) {
    pizzacore::Draft draft = store_.draft();
    edit(draft);
    store_.setDraft(draft);
}

void CheckoutView::editField(const std::function<void(pizzacore::Draft&)>& edit) {
    if (!refilling_) editDraft(edit);
}

void CheckoutView::showDocument() {
    showRecentOrders();
    showLines();
    // A year of orders changes with every confirmation; the products only now and then.
    if (store_.catalogueRevision() == catalogueShown_) return;
    catalogueShown_ = store_.catalogueRevision();
    // The category picker: "Todos", then every category in stored order; the choice is kept by id.
    {
        const QSignalBlocker blocker(categories_);
        categories_->clear();
        categories_->addItem(QStringLiteral("Todos"), QString());
        int chosen = 0;
        for (const pizzacore::Category& category : store_.db().categories) {
            categories_->addItem(qtext(category.rawValue), qtext(category.id));
            if (category_ && *category_ == category.id) chosen = categories_->count() - 1;
        }
        if (chosen == 0) category_.reset();
        categories_->setCurrentIndex(chosen);
    }
    showProducts();
}

void CheckoutView::showProducts() {
    const pizzacore::RecordList<pizzacore::Product>& all = store_.db().products;
    const bool anyActive = std::any_of(all.begin(), all.end(), [](const auto& p) { return p.active; });
    catalogue_->setCurrentIndex(anyActive ? 1 : 0);
    // Nothing to search before the first product.
    search_->setVisible(anyActive);

    std::vector<std::pair<std::string, const pizzacore::Product*>> shown;
    const std::string locale = pizzacore::textLocale();
    const pizzacore::NaturalOrder order(locale);
    // The search ignores case and accents, as the customers screen's does.
    pizzacore::InsensitiveMatcher matcher(locale);
    const std::string query = query_.toStdString();
    for (const pizzacore::Product& product : all)
        if (product.active && (!category_ || product.category.id == *category_) &&
            (query.empty() || matcher.textContains(product.name, query)))
            shown.emplace_back(order.key(product.name), &product);
    std::stable_sort(shown.begin(), shown.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<pizzacore::Product> products;
    products.reserve(shown.size());
    for (const auto& [key, product] : shown)
        products.push_back(*product);
    products_->setProducts(std::move(products), store_.db().settings);
}

void CheckoutView::showDraft() {
    const pizzacore::Draft& draft = store_.draft();
    {
        const QScopedValueRollback refill(refilling_, true);
        showText(*phone_, draft.phone);
        showText(*name_, draft.name);
        showText(*address_, draft.address);
        showText(*customerNotes_, draft.customerNotes);
        showText(*orderNotes_, draft.notes);
    }
    if (QAbstractButton* button = modes_->button(static_cast<int>(draft.mode));
        button && !button->isChecked())
        button->setChecked(true);
    // The chosen segment in the selection colours, as a segmented control shows it.
    for (QPushButton* button : modeButtons_) {
        QPalette colours = palette();
        if (button->isChecked()) {
            colours.setColor(QPalette::Button, colours.color(QPalette::Highlight));
            colours.setColor(QPalette::ButtonText, colours.color(QPalette::HighlightedText));
        }
        button->setPalette(colours);
    }
    address_->setPlaceholderText(draft.mode == pizzacore::Mode::delivery
                                     ? QStringLiteral("Dirección de entrega (obligatoria)")
                                     : QStringLiteral("Dirección (opcional)"));
    const QString save = draft.customerID ? QStringLiteral("Actualizar ficha del cliente")
                                          : QStringLiteral("Guardar nuevo cliente");
    saveCustomer_->setText(save);
    saveCustomer_->setAccessibleName(save);
    if (draft.customerID) customerHint_->hide();
    showLeftover();
    showRecentOrders();
    showLines();
}

void CheckoutView::showLeftover() {
    if (leftoverDraft_ && store_.draft().id != *leftoverDraft_) leftoverDraft_.reset();
    if (!leftoverDraft_) {
        leftover_->hide();
        return;
    }
    const std::optional<QDateTime>& written = store_.lastWrittenBeforeStart();
    const QString text = written ? QStringLiteral("Pedido a medias de las ") +
                                       written->toLocalTime().toString(QStringLiteral("HH:mm"))
                                 : QStringLiteral("Pedido a medias");
    leftoverText_->setText(text);
    leftoverText_->setAccessibleName(text);
    leftover_->show();
}

void CheckoutView::lookUpCaller() {
    commitPendingEdits(*this);
    if (store_.findCustomer()) {
        customerHint_->hide();
        search_->setFocus(Qt::OtherFocusReason);
        search_->selectAll();
        return;
    }
    const QString hint =
        store_.db().settings.savesCardOnConfirm()
            ? QStringLiteral("Cliente nuevo. Escribe su nombre: la ficha se guarda al confirmar.")
            : QStringLiteral("Cliente nuevo. Completa su nombre y guarda la ficha para la próxima llamada.");
    customerHint_->setText(hint);
    customerHint_->setAccessibleName(hint);
    customerHint_->show();
    name_->setFocus(Qt::OtherFocusReason);
}

void CheckoutView::addFirstMatch() {
    if (confirming_ || products_->rowCount() == 0) return;
    store_.add(products_->product(0));
    // Return again adds another; typing starts the next search.
    search_->selectAll();
}

void CheckoutView::showRecentOrders() {
    const std::vector<pizzacore::Order> orders = store_.recentOrders(store_.draft().phone, recentCount);
    recentIDs_.clear();
    QStringList entries;
    for (std::size_t index = 0; index < recentButtons_.size(); ++index) {
        QPushButton* button = recentButtons_[index];
        if (index >= orders.size()) {
            button->setVisible(false);
            continue;
        }
        const pizzacore::Order& order = orders[index];
        recentIDs_.push_back(order.id);
        QString total;
        try {
            total = amountText(order.total(), store_.db().settings);
        } catch (const pizzacore::PCError&) {
            total = QStringLiteral("—");
        }
        const bool cancelled = order.preparation == pizzacore::Preparation::cancelled;
        entries << QStringLiteral("#") + QString::number(order.number) + QStringLiteral(" · ") + total +
                       (cancelled ? QStringLiteral(" (anulado)") : QString());
        QString text = QStringLiteral("Ver #") + QString::number(order.number) + QStringLiteral(" · ") +
                       dateTimeText(order.created);
        if (cancelled) text += QStringLiteral(" · Anulado");
        button->setText(text);
        button->setAccessibleName(text);
        button->setVisible(true);
    }
    recentCaption_->setText(QStringLiteral("Últimos pedidos: ") + entries.join(QStringLiteral("   ")));
    recentCaption_->setVisible(!orders.empty());
}

void CheckoutView::showLines() {
    const pizzacore::Draft& draft = store_.draft();
    lines_->setCurrentIndex(draft.lines.empty() ? 0 : 1);
    while (cards_.size() < draft.lines.size()) {
        auto* card = new LineCard(cardsHolder_);
        connect(card, &LineCard::quantityEdited, this, [this](const pizzacore::Uuid& id, int quantity) {
            editDraft([&](pizzacore::Draft& d) {
                for (pizzacore::Line& line : d.lines)
                    if (line.id == id) line.quantity = quantity;
            });
        });
        connect(card, &LineCard::removeRequested, this, [this](const pizzacore::Uuid& id) {
            editDraft([&](pizzacore::Draft& d) {
                std::erase_if(d.lines, [&](const pizzacore::Line& line) { return line.id == id; });
            });
        });
        connect(card, &LineCard::notesEdited, this, [this](const pizzacore::Uuid& id, const QString& notes) {
            editDraft([&](pizzacore::Draft& d) {
                for (pizzacore::Line& line : d.lines)
                    if (line.id == id) line.notes = notes.toStdString();
            });
        });
        cardsLayout_->insertWidget(static_cast<int>(cards_.size()), card);
        cards_.push_back(card);
    }
    for (std::size_t index = 0; index < cards_.size(); ++index) {
        if (index < draft.lines.size()) {
            cards_[index]->display(draft.lines[index], store_.db().settings,
                                   store_.db().lineProblem(draft.lines[index]));
            cards_[index]->setEnabled(!confirming_);
        } else {
            cards_[index]->setVisible(false);
        }
    }
    try {
        total_->setText(amountText(draft.total(), store_.db().settings));
    } catch (const pizzacore::PCError&) {
        total_->setText(QStringLiteral("—"));
    }
    confirm_->setEnabled(!draft.lines.empty() && !confirming_);
    updateTabOrder();
}

int CheckoutView::visibleLineCards() const {
    return static_cast<int>(
        std::count_if(cards_.begin(), cards_.end(), [](const LineCard* card) { return !card->isHidden(); }));
}

// Tab follows the sections: the caller, the products, then the order and its confirmation.
void CheckoutView::updateTabOrder() {
    // The caller's details, then straight to the products: the mode and the card buttons come
    // after them, so that the search is a few Tabs from the telephone.
    std::vector<QWidget*> chain{phone_, find_, name_, address_, customerNotes_, search_, grid_};
    for (QPushButton* button : modeButtons_)
        chain.push_back(button);
    chain.push_back(saveCustomer_);
    for (QPushButton* button : recentButtons_)
        chain.push_back(button);
    chain.insert(chain.end(), {categories_, goToProducts_});
    for (LineCard* card : cards_)
        chain.insert(chain.end(), {card->quantity(), card->remove(), card->notes()});
    chain.insert(chain.end(), {orderNotes_, confirm_, empty_, emptyLeftover_, answerCall_});
    for (std::size_t index = 1; index < chain.size(); ++index)
        QWidget::setTabOrder(chain[index - 1], chain[index]);
}

void CheckoutView::confirmOrder() {
    // Ctrl+Return reaches here while the focus is still in a field: what it shows goes into the
    // draft before the draft is read.
    if (!confirming_) commitPendingEdits(*this);
    if (confirming_ || store_.draft().lines.empty()) return;
    confirming_ = true;
    showLines();
    // On success the controller shows the order in "Pedidos"; a refusal is in its message.
    store_.confirm(this, [this](const Outcome&) {
        confirming_ = false;
        showLines();
    });
}

bool CheckoutView::askToEmptyDraft() {
    const QPointer<CheckoutView> alive(this);
    const std::optional<int> choice = store_.platform().confirm(
        Confirmation{QStringLiteral("¿Vaciar el borrador actual?"),
                     QString(),
                     {QStringLiteral("Vaciar borrador"), QStringLiteral("Cancelar")}},
        window());
    if (!alive || choice != 0) return false;
    store_.setDraft(pizzacore::Draft());
    phone_->setFocus(Qt::OtherFocusReason);
    return true;
}

bool CheckoutView::draftUntouched() const {
    const pizzacore::Draft& draft = store_.draft();
    return draft.lines.empty() && !draft.customerID && draft.phone.empty() && draft.name.empty() &&
           draft.address.empty() && draft.customerNotes.empty() && draft.notes.empty();
}

void CheckoutView::takeCall() {
    const std::optional<std::string> key = store_.takeIncomingCall();
    if (!key) return;
    // The caller already on screen (a modem repeats the number, the operator typed it first).
    if (pizzacore::phoneKey(store_.draft().phone) == *key) {
        if (offeredCall_ == key) {
            offeredCall_.reset();
            call_->hide();
        }
        return;
    }
    // While a confirmation is written, the draft on screen is the order being saved.
    if (draftUntouched() && !confirming_) {
        lookUpCall(*key);
        return;
    }
    offeredCall_ = key;
    const QString text =
        QStringLiteral("Llamada de ") + qtext(pizzacore::groupedPhone(*key)) + QStringLiteral(" ·");
    callText_->setText(text);
    callText_->setAccessibleName(text);
    call_->show();
}

void CheckoutView::answerCall() {
    if (!offeredCall_) return;
    const QPointer<CheckoutView> alive(this);
    if (!draftUntouched() && !askToEmptyDraft()) return;
    // The question waits for the operator: another call may have replaced the one offered.
    if (!alive || !offeredCall_) return;
    const std::string key = *std::exchange(offeredCall_, std::nullopt);
    call_->hide();
    lookUpCall(key);
}

void CheckoutView::lookUpCall(const std::string& key) {
    call_->hide();
    offeredCall_.reset();
    phone_->setFocus(Qt::OtherFocusReason);
    phone_->setText(qtext(pizzacore::groupedPhone(key)));
    lookUpCaller();
}

void CheckoutView::showCallStatus() {
    const QString& status = store_.callStatus();
    callStatus_->setText(status);
    callStatus_->setAccessibleName(status);
    callStatus_->setVisible(!status.isEmpty());
}

} // namespace velmora
