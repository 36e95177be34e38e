#include <Velmora/Views/Fiscal/FiscalSettingsView.hpp>

#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>
#include <Velmora/Views/Shared/LocalFiles.hpp>
#include <Velmora/Views/Shared/Palette.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Models/FiscalMoney.hpp>
#include <PizzaCore/Models/Money.hpp>

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStringList>
#include <QVBoxLayout>

namespace velmora {

namespace {

constexpr std::size_t declarationLimit = 10'000'000;

QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    makeSecondary(*label);
    return label;
}

QLineEdit* field(QFormLayout& form, const QString& label, const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setAccessibleName(label);
    form.addRow(label, edit);
    return edit;
}

// Country and currency codes: upper case, without surrounding spaces or line breaks.
QString code(const QString& text) {
    return text.trimmed().toUpper();
}

} // namespace

QString ratesText(const std::vector<std::int64_t>& rates) {
    QStringList pieces;
    for (const std::int64_t rate : rates)
        pieces << qtext(pizzacore::FiscalMoney::decimal(rate)).replace(QLatin1Char('.'), QLatin1Char(','));
    return pieces.join(QStringLiteral("; "));
}

FiscalSettingsView::FiscalSettingsView(AppStore& store, QWidget* parent)
    : QDialog(parent)
    , store_(store) {
    setObjectName(QStringLiteral("FiscalSettingsView"));
    setWindowTitle(QStringLiteral("Configuración fiscal"));
    setModal(true);
    resize(620, 720);

    auto* outer = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("Configuración fiscal"), this);
    scaleFont(*title, 1.3, true);
    outer->addWidget(title);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* body = new QWidget(scroll);
    auto* layout = new QVBoxLayout(body);
    scroll->setWidget(body);
    outer->addWidget(scroll, 1);

    auto* taxes = new QGroupBox(QStringLiteral("País e impuestos"), body);
    auto* taxForm = new QFormLayout(taxes);
    country_ = field(*taxForm, QStringLiteral("País (ISO, ej. ES)"), "country", taxes);
    territory_ = field(*taxForm, QStringLiteral("Territorio y régimen fiscal"), "territory", taxes);
    currency_ = field(*taxForm, QStringLiteral("Moneda (ISO, dos decimales)"), "currency", taxes);
    taxName_ = field(*taxForm, QStringLiteral("Nombre del impuesto"), "taxName", taxes);
    rates_ = field(*taxForm, QStringLiteral("Tipos en %, separados por ;"), "rates", taxes);
    taxForm->addRow(
        caption(QStringLiteral("Ejemplo: 4; 10; 21. Configurar otro país o moneda no acredita "
                               "cumplimiento de su normativa. Los productos no reciben un impuesto "
                               "automáticamente."),
                taxes));
    layout->addWidget(taxes);

    auto* issuer = new QGroupBox(QStringLiteral("Emisor y series"), body);
    auto* issuerForm = new QFormLayout(issuer);
    issuerName_ = field(*issuerForm, QStringLiteral("Nombre / razón social"), "issuerName", issuer);
    issuerTaxID_ = field(*issuerForm, QStringLiteral("NIF / identificación fiscal"), "issuerTaxID", issuer);
    issuerAddress_ = field(*issuerForm, QStringLiteral("Domicilio fiscal"), "issuerAddress", issuer);
    fullSeries_ = field(*issuerForm, QStringLiteral("Serie de facturas completas"), "fullSeries", issuer);
    simpleSeries_ = field(*issuerForm, QStringLiteral("Serie de simplificadas"), "simpleSeries", issuer);
    correctionSeries_ =
        field(*issuerForm, QStringLiteral("Serie de rectificativas"), "correctionSeries", issuer);
    issuerForm->addRow(
        caption(QStringLiteral("Las propuestas no consumen numeración. No se puede retroceder la "
                               "numeración de un archivo fiscal emitido."),
                issuer));
    layout->addWidget(issuer);

    auto* producer = new QGroupBox(QStringLiteral("Firma y productor"), body);
    auto* producerForm = new QFormLayout(producer);
    auto* modality = new QLabel(QStringLiteral("Modalidad local NO VERI*FACTU"), producer);
    scaleFont(*modality, 1.0, true);
    producerForm->addRow(modality);
    producerName_ =
        field(*producerForm, QStringLiteral("Productor: nombre / razón social"), "producerName", producer);
    producerTaxID_ = field(*producerForm, QStringLiteral("Productor: NIF"), "producerTaxID", producer);
    auto* attach = new QPushButton(QStringLiteral("Adjuntar declaración responsable…"), producer);
    attach->setObjectName(QStringLiteral("attachDeclaration"));
    attach->setAccessibleName(attach->text());
    attach->setAutoDefault(false);
    connect(attach, &QPushButton::clicked, this, &FiscalSettingsView::attachDeclaration);
    declaration_ = caption(QStringLiteral("Documento adjunto"), producer);
    declaration_->setObjectName(QStringLiteral("declarationAttached"));
    auto* attachRow = new QHBoxLayout;
    attachRow->addWidget(attach);
    attachRow->addWidget(declaration_);
    attachRow->addStretch();
    producerForm->addRow(attachRow);
    auto* explanation = new QLabel(
        QStringLiteral("Adjuntar un documento no valida el software ni activa la emisión. La declaración "
                       "debe corresponder a Velmora 1.1.0 y ser emitida por su productor después de "
                       "verificar los requisitos."),
        producer);
    explanation->setWordWrap(true);
    producerForm->addRow(explanation);
    producerForm->addRow(new QLabel(
        QStringLiteral("Certificado cualificado: configuración y validación pendientes."), producer));
    installation_ = new QLabel(producer);
    installation_->setObjectName(QStringLiteral("installation"));
    installation_->setTextFormat(Qt::PlainText);
    installation_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    producerForm->addRow(installation_);
    layout->addWidget(producer);
    layout->addStretch();

    error_ = new QLabel(this);
    error_->setObjectName(QStringLiteral("error"));
    error_->setTextFormat(Qt::PlainText);
    error_->setWordWrap(true);
    colours::paintText(*error_, colours::destructive);
    error_->hide();
    outer->addWidget(error_);

    // As on every sheet: "Cerrar", then the prominent save at the right.
    QPushButton* close = makeButton(QStringLiteral("Cerrar"), QStringLiteral("close"), this);
    QPushButton* saveButton =
        makeProminentButton(QStringLiteral("Guardar configuración"), QStringLiteral("saveSettings"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(saveButton, &QPushButton::clicked, this, &FiscalSettingsView::save);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    buttons->addWidget(saveButton);
    outer->addLayout(buttons);

    reload();
}

void FiscalSettingsView::reload() {
    settings_ = store_.db().fiscalState().settings;
    country_->setText(qtext(settings_.country));
    territory_->setText(qtext(settings_.territory));
    currency_->setText(qtext(settings_.currency));
    taxName_->setText(qtext(settings_.taxName));
    rates_->setText(ratesText(settings_.rates));
    // The issuer is the business itself: until the fiscal settings name it, the business data
    // of Ajustes is proposed, to be checked and saved here.
    const pizzacore::Settings& business = store_.db().settings;
    const auto proposed = [](const std::string& fiscal, const std::string& stored) {
        return qtext(fiscal.empty() ? stored : fiscal);
    };
    issuerName_->setText(proposed(settings_.issuerName, business.business));
    issuerTaxID_->setText(proposed(settings_.issuerTaxID, business.taxID));
    issuerAddress_->setText(proposed(settings_.issuerAddress, business.address));
    fullSeries_->setText(qtext(settings_.fullSeries));
    simpleSeries_->setText(qtext(settings_.simpleSeries));
    correctionSeries_->setText(qtext(settings_.correctionSeries));
    producerName_->setText(qtext(settings_.producerName));
    producerTaxID_->setText(qtext(settings_.producerTaxID));
    installation_->setText(QStringLiteral("Instalación: ") + qtext(settings_.installation));
    showDeclaration();
    setError(QString());
}

pizzacore::FiscalSettings FiscalSettingsView::editedSettings() const {
    pizzacore::FiscalSettings settings = settings_;
    settings.country = utf8(code(country_->text()));
    settings.territory = utf8(territory_->text());
    settings.currency = utf8(code(currency_->text()));
    settings.taxName = utf8(taxName_->text());
    settings.issuerName = utf8(issuerName_->text());
    settings.issuerTaxID = utf8(issuerTaxID_->text());
    settings.issuerAddress = utf8(issuerAddress_->text());
    settings.fullSeries = utf8(fullSeries_->text());
    settings.simpleSeries = utf8(simpleSeries_->text());
    settings.correctionSeries = utf8(correctionSeries_->text());
    settings.producerName = utf8(producerName_->text());
    settings.producerTaxID = utf8(producerTaxID_->text());
    return settings;
}

QString FiscalSettingsView::error() const {
    return error_->text();
}

void FiscalSettingsView::setError(const QString& text) {
    error_->setText(text);
    error_->setVisible(!text.isEmpty());
}

void FiscalSettingsView::showDeclaration() {
    declaration_->setVisible(settings_.declaration.has_value());
}

void FiscalSettingsView::attachDeclaration() {
    const auto path = store_.platform().chooseFileToOpen(QStringLiteral("Adjuntar declaración responsable"),
                                                         FileKind::pdf, this);
    if (!path) return;
    const QString refused = QStringLiteral("Elige un PDF de hasta 10 MB.");
    try {
        std::optional<pizzacore::Bytes> bytes = readLimitedFile(*path, declarationLimit);
        static constexpr std::uint8_t magic[] = {'%', 'P', 'D', 'F'};
        if (!bytes || bytes->size() < 4 || !std::equal(std::begin(magic), std::end(magic), bytes->begin())) {
            setError(refused);
            return;
        }
        settings_.declaration = std::move(*bytes);
    } catch (...) {
        setError(refused);
        return;
    }
    showDeclaration();
    setError(QString());
}

void FiscalSettingsView::save() {
    // One save at a time: a second press while the first is written would record it twice.
    if (saving_) return;
    commitPendingEdits(*this);
    pizzacore::FiscalSettings settings = editedSettings();
    settings.rates.clear();
    for (const QString& piece : rates_->text().split(QLatin1Char(';'))) {
        if (piece.trimmed().isEmpty()) continue;
        try {
            settings.rates.push_back(pizzacore::Money::parse(utf8(piece)));
        } catch (...) {
            setError(describeFailure(std::current_exception()));
            return;
        }
    }
    saving_ = true;
    // A refusal shows in this sheet; a failure to write is in the main alert. The sheet may be
    // closed while the settings are written: it is then never called back.
    store_.saveFiscalSettings(settings, this, [this](const Outcome& outcome) {
        saving_ = false;
        if (outcome.refused) {
            setError(outcome.failure);
        } else if (outcome) {
            setError(QString());
            accept();
        }
    });
}

} // namespace velmora
