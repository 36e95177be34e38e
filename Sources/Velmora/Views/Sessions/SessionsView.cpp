#include <Velmora/Views/Sessions/SessionsView.hpp>

#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Services/ClosingReports.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>
#include <Velmora/Views/Shared/RowActions.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <PizzaCore/Models/Money.hpp>

#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <unordered_map>

namespace velmora {

namespace {

// A shift's box: its business day, state, hours and the three figures, on a faint rounded square,
// with the buttons of its closing report and of its day's at the right.
class SessionBoxDelegate : public RowActionsDelegate {
public:
    explicit SessionBoxDelegate(QObject* parent)
        : RowActionsDelegate({{SessionsView::printReportLabel},
                              {SessionsView::previewReportLabel},
                              {SessionsView::printDayReportLabel}},
                             parent) {}

    static constexpr int padding = 12;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return RowActionsDelegate::sizeHint(option, index)
            .expandedTo(QSize(200, QFontMetrics(headlineFont(option.font)).height() +
                                       6 * QFontMetrics(option.font).height() + 2 * padding + 14));
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRect box = option.rect.adjusted(0, 4, 0, -4);
        QPainterPath rounded;
        rounded.addRoundedRect(QRectF(box), 8, 8);
        QColor faint = option.palette.color(QPalette::Text);
        faint.setAlphaF((option.state & QStyle::State_Selected) ? 0.12 : 0.05);
        painter->fillPath(rounded, faint);
        painter->restore();
        RowActionsDelegate::paint(painter, option, index);
    }

protected:
    int contentHeight(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return QFontMetrics(headlineFont(option.font)).height() + 6 * QFontMetrics(option.font).height() + 2;
    }

    void paintContent(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                      const QRect& content) const override {
        const QColor text = option.palette.color(QPalette::Text);
        const QColor secondary = secondaryColor(option.palette);
        const int x = option.rect.left() + padding;
        const int width = content.right() - x;
        int y = option.rect.top() + 4 + padding;
        y = drawLine(painter, index.data().toString(), headlineFont(option.font), text, x, y, width) + 2;
        y = drawLine(painter, index.data(SessionsModel::StateRole).toString(), option.font, secondary, x, y,
                     width);
        for (const int role :
             {SessionsModel::HoursRole, SessionsModel::SalesRole, SessionsModel::ReceiptsRole,
              SessionsModel::SplitRole, SessionsModel::UnpaidRole})
            y = drawLine(painter, index.data(role).toString(), option.font, text, x, y, width);
    }
};

// The sum over the shifts of one figure, or a dash when it cannot be added up.
template <class Figure>
QString dayTotal(const AppStore& store, const std::vector<const pizzacore::Session*>& sessions,
                 Figure figure) {
    try {
        pizzacore::Cents total = 0;
        for (const pizzacore::Session* session : sessions)
            if (__builtin_add_overflow(total, figure(*session), &total)) return QStringLiteral("—");
        return amountText(total, store.db().settings);
    } catch (...) {
        return QStringLiteral("—");
    }
}

QLabel* makeTile(const QString& title, QWidget* parent, QGridLayout& grid, int row, int column, int span) {
    auto* tile = new QFrame(parent);
    tile->setObjectName(QStringLiteral("tile"));
    tile->setAutoFillBackground(true);
    QPalette palette = tile->palette();
    QColor faint = palette.color(QPalette::Window).darker(106);
    palette.setColor(QPalette::Window, faint);
    tile->setPalette(palette);
    tile->setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(tile);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(4);
    layout->addWidget(makeCaption(title, QStringLiteral("tileTitle"), tile));
    QLabel* amount = makeFigure(QString(), QStringLiteral("tileAmount"), tile, 20);
    amount->setAccessibleName(title);
    layout->addWidget(amount);
    grid.addWidget(tile, row, column, 1, span);
    return amount;
}

} // namespace

SessionsModel::SessionsModel(const AppStore& store, QObject* parent)
    : QAbstractListModel(parent)
    , store_(store) {}

void SessionsModel::refresh() {
    const pizzacore::Database& db = store_.db();
    const auto amount = [&](const std::optional<pizzacore::Cents>& stored, auto live) {
        if (stored) return amountText(*stored, db.settings);
        try {
            return amountText(live(), db.settings);
        } catch (...) {
            return QStringLiteral("—");
        }
    };
    // Each shift's receipts by method, in one pass over the payments; a sum that overflows shows
    // a dash.
    struct Split {
        pizzacore::Cents cash = 0, card = 0;
        bool overflow = false;
    };
    std::unordered_map<pizzacore::Uuid, Split> splits;
    splits.reserve(db.sessions.size());
    for (const pizzacore::Payment& payment : db.payments) {
        Split& split = splits[payment.sessionID];
        pizzacore::Cents& total = payment.method == pizzacore::PaymentMethod::cash ? split.cash : split.card;
        if (__builtin_add_overflow(total, payment.cents, &total)) split.overflow = true;
    }
    beginResetModel();
    rows_.clear();
    rows_.reserve(db.sessions.size());
    for (auto session = db.sessions.rbegin(); session != db.sessions.rend(); ++session) {
        Row row;
        row.id = session->id;
        row.businessDay = session->businessDay;
        row.day = qtext(session->businessDay);
        row.state = session->closed ? QStringLiteral("Cerrado · ") + qtext(session->reason.value_or(""))
                                    : QStringLiteral("Abierto");
        row.hours = timeText(session->opened) + QStringLiteral(" → ") +
                    (session->closed ? timeText(*session->closed) : QStringLiteral("ahora"));
        // Closed shifts show what was frozen at their close; the open one is counted live.
        row.sales =
            QStringLiteral("Ventas: ") + amount(session->salesAtClose, [&] { return db.sales(*session); });
        row.receipts = QStringLiteral("Cobros: ") +
                       amount(session->receiptsAtClose, [&] { return db.receipts(std::nullopt, *session); });
        const auto split = splits.find(session->id);
        if (split == splits.end())
            row.split = QStringLiteral("Efectivo: ") + amountText(0, db.settings) +
                        QStringLiteral(" · Tarjeta: ") + amountText(0, db.settings);
        else if (split->second.overflow)
            row.split = QStringLiteral("Efectivo: — · Tarjeta: —");
        else
            row.split = QStringLiteral("Efectivo: ") + amountText(split->second.cash, db.settings) +
                        QStringLiteral(" · Tarjeta: ") + amountText(split->second.card, db.settings);
        row.unpaid = QStringLiteral("Pendiente global al cierre: ") +
                     (session->unpaidAtClose ? qtext(pizzacore::Money::text(*session->unpaidAtClose))
                                             : QStringLiteral("—"));
        rows_.push_back(std::move(row));
    }
    endResetModel();
}

pizzacore::Uuid SessionsModel::session(int row) const {
    return rows_.at(static_cast<std::size_t>(row)).id;
}

std::string SessionsModel::businessDay(int row) const {
    return rows_.at(static_cast<std::size_t>(row)).businessDay;
}

int SessionsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant SessionsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return row.day;
    case Qt::AccessibleTextRole:
        return row.day + QStringLiteral(", ") + row.state;
    case StateRole:
        return row.state;
    case HoursRole:
        return row.hours;
    case SalesRole:
        return row.sales;
    case ReceiptsRole:
        return row.receipts;
    case UnpaidRole:
        return row.unpaid;
    case SplitRole:
        return row.split;
    default:
        return {};
    }
}

const QString SessionsView::printReportLabel = QStringLiteral("Imprimir informe…");
const QString SessionsView::previewReportLabel = QStringLiteral("Vista previa / PDF");
const QString SessionsView::printDayReportLabel = QStringLiteral("Informe de la jornada…");

SessionsView::SessionsView(AppStore& store, QWidget* parent)
    : QWidget(parent)
    , store_(store)
    , model_(new SessionsModel(store, this))
    , reports_(new ClosingReports(store, this)) {
    setObjectName(QStringLiteral("SessionsView"));

    // The whole screen scrolls; the history list scrolls its own boxes within the visible height.
    // The page is filled before the scroll area is made, so that the keyboard reaches the close
    // button and the history before the scroll area itself.
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->setSpacing(12);
    layout->addWidget(new PageHeader(
        QStringLiteral("Jornadas y caja"),
        QStringLiteral("Ventas y cobros son distintos: un pedido anterior puede cobrarse hoy."), page));
    layout->addWidget(makeCurrentDay(page));
    layout->addWidget(makeDivider(page));
    layout->addWidget(makeBoldLabel(QStringLiteral("Histórico de cierres y tramos"),
                                    QStringLiteral("historyTitle"), page, 1.35));
    layout->addWidget(makeHistory(page), 1);
    layout->addWidget(makeCaption(
        QStringLiteral(
            "Registro local de cobros; no es un arqueo del cajón. No incluye fondo inicial, retiradas, "
            "gastos, devoluciones ni facturación. Los pedidos pendientes permanecen después del cierre."),
        QStringLiteral("caption"), page));

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("sessionsScroll"));
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setWidget(page);
    scroll_->viewport()->installEventFilter(this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll_);

    connect(&store_, &AppStore::dbChanged, this, &SessionsView::documentChanged);
}

// The business day of the open shift: its title, the five tiles, the next automatic closing and
// the manual close.
QWidget* SessionsView::makeCurrentDay(QWidget* page) {
    currentDay_ = new QWidget(page);
    dayTitle_ = makeBoldLabel(QString(), QStringLiteral("dayTitle"), currentDay_, 1.35);
    nextClosing_ = makeCaption(QString(), QStringLiteral("nextClosing"), currentDay_);
    // Prominent but not the default: Return never closes a shift.
    close_ = makeProminentButton(QStringLiteral("Cerrar tramo de caja ahora"), QStringLiteral("closeShift"),
                                 currentDay_);
    close_->setDefault(false);
    close_->setMinimumHeight(close_->sizeHint().height() + 10);

    auto* grid = new QGridLayout;
    grid->setSpacing(10);
    // Three tiles on the first row and two on the second, each row's tiles of equal width.
    const std::array<QString, 5> titles{QStringLiteral("Ventas de la jornada"),
                                        QStringLiteral("Cobros de la jornada"),
                                        QStringLiteral("Pendiente total"), QStringLiteral("Efectivo cobrado"),
                                        QStringLiteral("Tarjeta cobrada")};
    for (int i = 0; i < 3; ++i)
        tiles_.push_back(makeTile(titles[static_cast<std::size_t>(i)], currentDay_, *grid, 0, 2 * i, 2));
    for (int i = 0; i < 2; ++i)
        tiles_.push_back(makeTile(titles[static_cast<std::size_t>(3 + i)], currentDay_, *grid, 1, 3 * i, 3));
    for (int column = 0; column < 6; ++column)
        grid->setColumnStretch(column, 1);

    QLabel* explanation = makeCaption(
        QStringLiteral(
            "El cierre manual abre otro tramo de la misma jornada. El total diario sigue sumando todos sus "
            "tramos. Si el ordenador está apagado, el cierre pendiente se registra al abrir."),
        QStringLiteral("closeExplanation"), currentDay_);

    auto* day = new QVBoxLayout(currentDay_);
    day->setContentsMargins(0, 0, 0, 0);
    day->setSpacing(10);
    day->addWidget(dayTitle_);
    day->addLayout(grid);
    day->addWidget(nextClosing_);
    // The close and, beside it, the reports of the open shift and of its day.
    QHBoxLayout* actions = makeReportRow(currentDay_);
    actions->insertWidget(0, close_);
    actions->insertSpacing(1, 16);
    day->addLayout(actions);
    day->addWidget(explanation);

    connect(close_, &QPushButton::clicked, this, &SessionsView::closeShift);
    return currentDay_;
}

// The closing reports of the open shift and of its business day.
QHBoxLayout* SessionsView::makeReportRow(QWidget* parent) {
    QPushButton* shift =
        makeButton(QStringLiteral("Imprimir informe del tramo…"), QStringLiteral("printShiftReport"), parent);
    QPushButton* day = makeButton(QStringLiteral("Imprimir informe de la jornada…"),
                                  QStringLiteral("printDayReport"), parent);
    QPushButton* preview = makeButton(QStringLiteral("Vista previa / PDF de la jornada"),
                                      QStringLiteral("previewDayReport"), parent);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addWidget(shift);
    row->addWidget(day);
    row->addWidget(preview);
    row->addStretch();
    connect(shift, &QPushButton::clicked, this, [this] {
        if (const pizzacore::Session* open = openSession()) reports_->printShift(open->id);
    });
    connect(day, &QPushButton::clicked, this, [this] {
        if (const pizzacore::Session* open = openSession()) reports_->printDay(open->businessDay);
    });
    connect(preview, &QPushButton::clicked, this, [this] {
        if (const pizzacore::Session* open = openSession()) reports_->previewDay(open->businessDay);
    });
    return row;
}

const pizzacore::Session* SessionsView::openSession() const {
    const pizzacore::Database& db = store_.db();
    for (auto session = db.sessions.rbegin(); session != db.sessions.rend(); ++session)
        if (!session->closed) return &*session;
    return nullptr;
}

// Every shift, newest first, one box each.
QListView* SessionsView::makeHistory(QWidget* page) {
    history_ = nameControl(new QListView(page), QStringLiteral("sessions"),
                           QStringLiteral("Histórico de cierres y tramos"));
    history_->setModel(model_);
    delegate_ = new SessionBoxDelegate(history_);
    delegate_->attach(*history_, -1, -1);
    connect(delegate_, &RowActionsDelegate::triggered, this, [this](const QModelIndex& index, int action) {
        if (!index.isValid() || index.row() >= model_->rowCount()) return;
        switch (action) {
        case 0:
            reports_->printShift(model_->session(index.row()));
            break;
        case 1:
            reports_->previewShift(model_->session(index.row()));
            break;
        default:
            reports_->printDay(model_->businessDay(index.row()));
            break;
        }
    });
    history_->setUniformItemSizes(true);
    history_->setFrameShape(QFrame::NoFrame);
    // The boxes stand on the window's own background, not on a white list.
    QPalette historyPalette = history_->palette();
    historyPalette.setColor(QPalette::Base, palette().color(QPalette::Window));
    history_->setPalette(historyPalette);
    history_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    history_->setSelectionMode(QAbstractItemView::NoSelection);
    return history_;
}

void SessionsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale_) refresh();
}

bool SessionsView::eventFilter(QObject* watched, QEvent* event) {
    // The visible height is known once the scroll area has laid out its viewport.
    if (watched == scroll_->viewport() && event->type() == QEvent::Resize) fitHistory();
    return QWidget::eventFilter(watched, event);
}

void SessionsView::fitHistory() {
    // At least a few boxes even on a small screen; otherwise the visible height, less the margins.
    // An empty history has no row to measure (its hint is -1) and a scroll area not yet laid out
    // no height: never below zero.
    const int visible = scroll_->viewport()->height() - 48;
    history_->setMinimumHeight(std::max({0, history_->sizeHintForRow(0) * 2, visible}));
}

void SessionsView::documentChanged() {
    // A hidden screen counts nothing; it catches up when shown.
    if (isVisible())
        refresh();
    else
        stale_ = true;
}

void SessionsView::refresh() {
    stale_ = false;
    model_->refresh();
    const pizzacore::Database& db = store_.db();
    const pizzacore::Session* active = nullptr;
    for (auto session = db.sessions.rbegin(); session != db.sessions.rend() && !active; ++session)
        if (!session->closed) active = &*session;
    currentDay_->setVisible(active != nullptr);
    if (!active) return;

    std::vector<const pizzacore::Session*> day;
    for (const pizzacore::Session& session : db.sessions)
        if (session.businessDay == active->businessDay) day.push_back(&session);
    dayTitle_->setText(QStringLiteral("Jornada comercial ") + qtext(active->businessDay));
    tiles_[0]->setText(dayTotal(store_, day, [&](const auto& s) { return db.sales(s); }));
    tiles_[1]->setText(dayTotal(store_, day, [&](const auto& s) { return db.receipts(std::nullopt, s); }));
    try {
        tiles_[2]->setText(amountText(db.unpaid(), db.settings));
    } catch (...) {
        tiles_[2]->setText(QStringLiteral("—"));
    }
    tiles_[3]->setText(
        dayTotal(store_, day, [&](const auto& s) { return db.receipts(pizzacore::PaymentMethod::cash, s); }));
    tiles_[4]->setText(
        dayTotal(store_, day, [&](const auto& s) { return db.receipts(pizzacore::PaymentMethod::card, s); }));
    nextClosing_->setText(QStringLiteral("Próximo cierre automático: ") + dateTimeText(active->scheduledEnd) +
                          QStringLiteral(" · ") + qtext(db.settings.timeZone));
}

QStringList SessionsView::tiles() const {
    QStringList amounts;
    for (const QLabel* tile : tiles_)
        amounts << tile->text();
    return amounts;
}

QString SessionsView::dayTitle() const {
    return dayTitle_->text();
}

QString SessionsView::nextClosing() const {
    return nextClosing_->text();
}

bool SessionsView::showsCurrentDay() const {
    return !currentDay_->isHidden();
}

void SessionsView::closeShift() {
    // The shift open now is the one closed, even if the clock closes it while the operator reads
    // the question: the core then leaves the automatic close as it is.
    const pizzacore::Database& db = store_.db();
    closing_.reset();
    for (auto session = db.sessions.rbegin(); session != db.sessions.rend() && !closing_; ++session)
        if (!session->closed) closing_ = session->id;
    if (!closing_) return;
    const QPointer<SessionsView> alive(this);
    AppStore& store = store_;
    const pizzacore::Uuid expected = *closing_;
    const std::optional<int> chosen = store.platform().confirm(
        Confirmation{QStringLiteral("¿Cerrar el tramo actual? Los pedidos pendientes se conservan."),
                     QString(),
                     {QStringLiteral("Cerrar tramo"), QStringLiteral("Cancelar")}},
        window());
    if (alive) closing_.reset();
    if (chosen == 0) store.closeShift(expected);
}

} // namespace velmora
