#include <Velmora/Views/Fiscal/InvoiceEditor.hpp>

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>
#include <Velmora/Views/Shared/Palette.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <PizzaCore/Models/FiscalMoney.hpp>
#include <PizzaCore/Models/Money.hpp>

#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace velmora {

namespace {

constexpr std::array kinds{pizzacore::InvoiceKind::full, pizzacore::InvoiceKind::simplified,
                           pizzacore::InvoiceKind::correction, pizzacore::InvoiceKind::simplifiedCorrection};

QString rateLabel(std::int64_t rate) {
    return qtext(pizzacore::FiscalMoney::decimal(rate)) + QStringLiteral(" %");
}

} // namespace

InvoiceEditor::InvoiceEditor(AppStore& store, pizzacore::InvoiceProposal proposal, QWidget* parent)
    : EditorSheet(store, QStringLiteral("Propuesta de factura"), parent,
                  {QStringLiteral("Cancelar"), QStringLiteral("cancel"), QStringLiteral("Guardar propuesta"),
                   QStringLiteral("saveProposal")})
    , proposal_(std::move(proposal)) {
    setObjectName(QStringLiteral("InvoiceEditor"));
    resize(760, 760);
    // The sheet closes on success; the operator is told the proposal was kept.
    setSavedMessage(QStringLiteral("Propuesta guardada. No tiene validez fiscal ni consume numeración."));

    const pizzacore::FiscalState fiscal = this->store().db().fiscalState();
    configuredRates_ = fiscal.settings.rates;
    currency_ = this->store().db().settings.currency.value_or("EUR");

    form().addWidget(
        makeCaption(QStringLiteral("Documento preparatorio sin validez fiscal. La emisión definitiva está "
                                   "bloqueada hasta completar la validación del módulo."),
                    QStringLiteral("subtitle"), this));

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* body = new QWidget(scroll);
    auto* layout = new QVBoxLayout(body);
    scroll->setWidget(body);
    form().addWidget(scroll, 1);

    auto* fields = new QFormLayout;
    layout->addLayout(fields);
    makeKind(*fields, body, fiscal);
    makeRecipient(*fields, body);
    makeLines(*layout, body);
    layout->addStretch();

    kindChanged();
}

void InvoiceEditor::makeKind(QFormLayout& fields, QWidget* body, const pizzacore::FiscalState& fiscal) {
    kind_ = new QComboBox(body);
    kind_->setObjectName(QStringLiteral("kind"));
    kind_->setAccessibleName(QStringLiteral("Tipo"));
    for (const pizzacore::InvoiceKind kind : kinds) {
        kind_->addItem(qtext(pizzacore::title(kind)), static_cast<int>(kind));
        if (kind == proposal_.kind) kind_->setCurrentIndex(kind_->count() - 1);
    }
    fields.addRow(QStringLiteral("Tipo"), kind_);

    // What only a rectifying kind asks for: the invoice it corrects and why.
    correction_ = new QWidget(body);
    auto* correctionForm = new QFormLayout(correction_);
    correctionForm->setContentsMargins(0, 0, 0, 0);
    correctionOf_ = new QComboBox(correction_);
    correctionOf_->setObjectName(QStringLiteral("correctionOf"));
    correctionOf_->setAccessibleName(QStringLiteral("Factura rectificada"));
    correctionOf_->addItem(QStringLiteral("Selecciona una factura emitida"));
    for (const pizzacore::FiscalInvoice& invoice : fiscal.invoices) {
        correctionOf_->addItem(qtext(invoice.number), qtext(invoice.id.text()));
        if (proposal_.correctionOf == invoice.id) correctionOf_->setCurrentIndex(correctionOf_->count() - 1);
    }
    correctionForm->addRow(QStringLiteral("Factura rectificada"), correctionOf_);
    reason_ = addFormField(*correctionForm, QStringLiteral("Motivo de rectificación"),
                           QStringLiteral("reason"), correction_);
    reason_->setText(qtext(proposal_.reason));
    correctionForm->addRow(makeCaption(
        QStringLiteral(
            "Las rectificaciones se guardan como documentos nuevos y conservan la factura original."),
        QStringLiteral("correctionCaption"), correction_));
    fields.addRow(correction_);

    connect(kind_, &QComboBox::currentIndexChanged, this, &InvoiceEditor::kindChanged);
    connect(correctionOf_, &QComboBox::currentIndexChanged, this, [this](int index) {
        const QVariant id = correctionOf_->itemData(index);
        proposal_.correctionOf =
            id.isValid() ? pizzacore::Uuid::parse(utf8(id.toString())) : std::optional<pizzacore::Uuid>();
    });
    connect(reason_, &QLineEdit::textChanged, this,
            [this](const QString& text) { proposal_.reason = utf8(text); });
}

void InvoiceEditor::makeRecipient(QFormLayout& fields, QWidget* body) {
    // Each field writes into the proposal as it is typed.
    const auto recipientField = [&](const QString& label, const QString& name, std::string& value) {
        QLineEdit* edit = addFormField(fields, label, name, body);
        edit->setText(qtext(value));
        connect(edit, &QLineEdit::textChanged, this, [&value](const QString& text) { value = utf8(text); });
        return edit;
    };
    recipientName_ = recipientField(QStringLiteral("Nombre / razón social"), QStringLiteral("recipientName"),
                                    proposal_.recipientName);
    recipientTaxID_ = recipientField(QStringLiteral("NIF / identificación fiscal"),
                                     QStringLiteral("recipientTaxID"), proposal_.recipientTaxID);
    recipientAddress_ = recipientField(QStringLiteral("Domicilio fiscal del destinatario"),
                                       QStringLiteral("recipientAddress"), proposal_.recipientAddress);
    recipientCountry_ = recipientField(QStringLiteral("País del destinatario (ISO)"),
                                       QStringLiteral("recipientCountry"), proposal_.recipientCountry);

    operationDate_ = new QDateEdit(localDateTime(proposal_.operationDate).date(), body);
    operationDate_->setObjectName(QStringLiteral("operationDate"));
    operationDate_->setAccessibleName(QStringLiteral("Fecha de operación"));
    operationDate_->setCalendarPopup(true);
    fields.addRow(QStringLiteral("Fecha de operación"), operationDate_);
    connect(operationDate_, &QDateEdit::dateChanged, this, [this](const QDate& date) {
        // Only the day changes; the time of day the proposal carried stays.
        QDateTime moment = localDateTime(proposal_.operationDate);
        moment.setDate(date);
        proposal_.operationDate =
            pizzacore::Instant::fromUnix(static_cast<double>(moment.toMSecsSinceEpoch()) / 1000.0);
    });
}

void InvoiceEditor::makeLines(QVBoxLayout& layout, QWidget* body) {
    auto* heading = new QHBoxLayout;
    QLabel* title = makePlainLabel(QStringLiteral("Conceptos · precios con impuesto incluido"),
                                   QStringLiteral("linesTitle"), body);
    scaleFont(*title, 1.0, true);
    QPushButton* add = makeButton(QStringLiteral("Añadir concepto"), QStringLiteral("addLine"), body);
    heading->addWidget(title, 1);
    heading->addWidget(add);
    layout.addLayout(heading);
    lines_ = new QVBoxLayout;
    layout.addLayout(lines_);
    totals_ = new QLabel(body);
    totals_->setObjectName(QStringLiteral("totals"));
    totals_->setWordWrap(true);
    totals_->setAlignment(Qt::AlignRight);
    layout.addWidget(totals_);
    for (const pizzacore::FiscalLine& line : proposal_.lines)
        addRow(line);

    connect(add, &QPushButton::clicked, this, &InvoiceEditor::addLine);
}

QString InvoiceEditor::money(std::int64_t cents) const {
    return qtext(pizzacore::FiscalMoney::text(cents, currency_));
}

pizzacore::FiscalLine* InvoiceEditor::line(const pizzacore::Uuid& id) {
    const auto found = std::find_if(proposal_.lines.begin(), proposal_.lines.end(),
                                    [&](const pizzacore::FiscalLine& line) { return line.id == id; });
    return found == proposal_.lines.end() ? nullptr : &*found;
}

void InvoiceEditor::addLine() {
    proposal_.lines.emplace_back();
    addRow(proposal_.lines.back());
    kindChanged(); // the new stepper takes the kind's range
    rows_.back().description->setFocus();
}

void InvoiceEditor::addRow(const pizzacore::FiscalLine& source) {
    const pizzacore::Uuid id = source.id;
    auto* frame = new QFrame(lines_->parentWidget());
    frame->setObjectName(QStringLiteral("line"));
    frame->setAutoFillBackground(true);
    QPalette faint = frame->palette();
    faint.setColor(QPalette::Window, faint.color(QPalette::AlternateBase));
    frame->setPalette(faint);
    auto* grid = new QVBoxLayout(frame);

    auto* top = new QHBoxLayout;
    QLineEdit* description = makeField(QStringLiteral("Descripción"), QStringLiteral("description"), frame);
    description->setText(qtext(source.description));
    auto* remove = new QToolButton(frame);
    remove->setObjectName(QStringLiteral("removeLine"));
    remove->setAccessibleName(QStringLiteral("Eliminar concepto"));
    remove->setToolTip(QStringLiteral("Eliminar concepto"));
    remove->setIcon(
        QIcon::fromTheme(QStringLiteral("user-trash"), QIcon::fromTheme(QStringLiteral("edit-delete"))));
    if (remove->icon().isNull()) remove->setText(QStringLiteral("Eliminar"));
    top->addWidget(description, 1);
    top->addWidget(remove);
    grid->addLayout(top);

    auto* bottom = new QHBoxLayout;
    auto* quantity = new QSpinBox(frame);
    quantity->setObjectName(QStringLiteral("quantity"));
    quantity->setAccessibleName(QStringLiteral("Cantidad"));
    quantity->setPrefix(QStringLiteral("Cantidad: "));
    quantity->setRange(-999, 999);
    quantity->setValue(static_cast<int>(std::clamp<std::int64_t>(source.quantity, -999, 999)));
    QLineEdit* price = makeField(QStringLiteral("Precio"), QStringLiteral("price"), frame);
    price->setText(qtext(pizzacore::Money::input(std::max<std::int64_t>(source.unitGross, 0))));
    auto* rate = new QComboBox(frame);
    rate->setObjectName(QStringLiteral("rate"));
    rate->setAccessibleName(QStringLiteral("Impuesto"));
    rate->addItem(QStringLiteral("Sin configurar"), qlonglong{-1});
    std::vector<std::int64_t> choices = configuredRates_;
    // A rate the line already carries stays choosable even when the settings no longer list it.
    if (source.rate >= 0 && std::find(choices.begin(), choices.end(), source.rate) == choices.end())
        choices.push_back(source.rate);
    for (const std::int64_t value : choices) {
        rate->addItem(rateLabel(value), qlonglong{value});
        if (value == source.rate) rate->setCurrentIndex(rate->count() - 1);
    }
    QLabel* gross = makePlainLabel(QString(), QStringLiteral("lineGross"), frame);
    gross->setFont(QFont(QStringLiteral("monospace")));
    gross->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    bottom->addWidget(quantity);
    bottom->addWidget(makePlainLabel(QStringLiteral("Precio"), QStringLiteral("priceLabel"), frame));
    bottom->addWidget(price);
    bottom->addWidget(rate);
    bottom->addStretch();
    bottom->addWidget(gross);
    grid->addLayout(bottom);
    lines_->addWidget(frame);

    rows_.push_back({id, frame, description, quantity, price, rate, gross});

    connect(description, &QLineEdit::textChanged, this, [this, id](const QString& text) {
        if (auto* edited = line(id)) edited->description = utf8(text);
    });
    connect(quantity, &QSpinBox::valueChanged, this, [this, id](int value) {
        if (auto* edited = line(id)) edited->quantity = value;
        refreshTotals();
    });
    connect(price, &QLineEdit::textChanged, this, [this, id](const QString& text) {
        // A price that reads as an amount takes effect at once; anything else waits for saving,
        // which reports it.
        try {
            const pizzacore::Cents cents = pizzacore::Money::parse(utf8(text));
            if (auto* edited = line(id)) edited->unitGross = cents;
        } catch (...) {
            return;
        }
        refreshTotals();
    });
    connect(rate, &QComboBox::currentIndexChanged, this, [this, id, rate](int index) {
        if (auto* edited = line(id)) edited->rate = rate->itemData(index).toLongLong();
        refreshTotals();
    });
    connect(remove, &QToolButton::clicked, this, [this, id] { removeLine(id); });
    refreshTotals();
}

void InvoiceEditor::removeLine(const pizzacore::Uuid& id) {
    std::erase_if(proposal_.lines, [&](const pizzacore::FiscalLine& line) { return line.id == id; });
    const auto row =
        std::find_if(rows_.begin(), rows_.end(), [&](const LineRow& row) { return row.id == id; });
    if (row != rows_.end()) {
        row->frame->deleteLater();
        row->frame->hide();
        rows_.erase(row);
    }
    refreshTotals();
}

void InvoiceEditor::kindChanged() {
    proposal_.kind = static_cast<pizzacore::InvoiceKind>(kind_->currentData().toInt());
    const bool rectifying = pizzacore::rectifies(proposal_.kind);
    correction_->setVisible(rectifying);
    for (const LineRow& row : rows_)
        row.quantity->setMinimum(rectifying ? -999 : 1);
}

void InvoiceEditor::refreshTotals() {
    if (!totals_) return; // rows made while the sheet is being built
    for (const LineRow& row : rows_)
        if (const auto* shown = line(row.id)) row.gross->setText(money(shown->gross()));
    const bool everyRate = std::all_of(proposal_.lines.begin(), proposal_.lines.end(),
                                       [](const pizzacore::FiscalLine& line) { return line.rate >= 0; });
    if (!everyRate) {
        totals_->setTextFormat(Qt::PlainText);
        totals_->setText(
            QStringLiteral("Selecciona el impuesto de todos los conceptos para calcular el desglose."));
        return;
    }
    totals_->setTextFormat(Qt::RichText);
    totals_->setText(QStringLiteral("Base: %1<br>Impuesto: %2<br><b>Total: %3</b>")
                         .arg(money(proposal_.net()).toHtmlEscaped(), money(proposal_.tax()).toHtmlEscaped(),
                              money(proposal_.gross()).toHtmlEscaped()));
}

std::optional<QString> InvoiceEditor::check() {
    for (const LineRow& row : rows_) {
        try {
            const pizzacore::Cents cents = pizzacore::Money::parse(utf8(row.price->text()));
            if (auto* edited = line(row.id)) edited->unitGross = cents;
        } catch (...) {
            return describeFailure(std::current_exception());
        }
    }
    return std::nullopt;
}

void InvoiceEditor::transact(AppStore::Then then) {
    store().saveInvoiceProposal(proposal_, this, std::move(then));
}

} // namespace velmora
