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
    : EditorSheet(store, QStringLiteral("Configuración fiscal"), parent,
                  {QStringLiteral("Cerrar"), QStringLiteral("close"), QStringLiteral("Guardar configuración"),
                   QStringLiteral("saveSettings")}) {
    setObjectName(QStringLiteral("FiscalSettingsView"));
    resize(620, 720);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* body = new QWidget(scroll);
    auto* layout = new QVBoxLayout(body);
    scroll->setWidget(body);
    form().addWidget(scroll, 1);

    layout->addWidget(makeTaxes(body));
    layout->addWidget(makeIssuer(body));
    layout->addWidget(makeProducer(body));
    layout->addStretch();

    reload();
}

QWidget* FiscalSettingsView::makeTaxes(QWidget* body) {
    auto* taxes = new QGroupBox(QStringLiteral("País e impuestos"), body);
    auto* fields = new QFormLayout(taxes);
    country_ = addFormField(*fields, QStringLiteral("País (ISO, ej. ES)"), QStringLiteral("country"), taxes);
    territory_ = addFormField(*fields, QStringLiteral("Territorio y régimen fiscal"),
                              QStringLiteral("territory"), taxes);
    currency_ = addFormField(*fields, QStringLiteral("Moneda (ISO, dos decimales)"),
                             QStringLiteral("currency"), taxes);
    taxName_ = addFormField(*fields, QStringLiteral("Nombre del impuesto"), QStringLiteral("taxName"), taxes);
    rates_ =
        addFormField(*fields, QStringLiteral("Tipos en %, separados por ;"), QStringLiteral("rates"), taxes);
    fields->addRow(makeCaption(QStringLiteral("Ejemplo: 4; 10; 21. Configurar otro país o moneda no acredita "
                                              "cumplimiento de su normativa. Los productos no reciben un "
                                              "impuesto automáticamente."),
                               QStringLiteral("taxesCaption"), taxes));
    return taxes;
}

QWidget* FiscalSettingsView::makeIssuer(QWidget* body) {
    auto* issuer = new QGroupBox(QStringLiteral("Emisor y series"), body);
    auto* fields = new QFormLayout(issuer);
    issuerName_ =
        addFormField(*fields, QStringLiteral("Nombre / razón social"), QStringLiteral("issuerName"), issuer);
    issuerTaxID_ = addFormField(*fields, QStringLiteral("NIF / identificación fiscal"),
                                QStringLiteral("issuerTaxID"), issuer);
    issuerAddress_ =
        addFormField(*fields, QStringLiteral("Domicilio fiscal"), QStringLiteral("issuerAddress"), issuer);
    fullSeries_ = addFormField(*fields, QStringLiteral("Serie de facturas completas"),
                               QStringLiteral("fullSeries"), issuer);
    simpleSeries_ = addFormField(*fields, QStringLiteral("Serie de simplificadas"),
                                 QStringLiteral("simpleSeries"), issuer);
    correctionSeries_ = addFormField(*fields, QStringLiteral("Serie de rectificativas"),
                                     QStringLiteral("correctionSeries"), issuer);
    fields->addRow(makeCaption(QStringLiteral("Las propuestas no consumen numeración. No se puede retroceder "
                                              "la numeración de un archivo fiscal emitido."),
                               QStringLiteral("issuerCaption"), issuer));
    return issuer;
}

QWidget* FiscalSettingsView::makeProducer(QWidget* body) {
    auto* producer = new QGroupBox(QStringLiteral("Firma y productor"), body);
    auto* fields = new QFormLayout(producer);
    QLabel* modality =
        makePlainLabel(QStringLiteral("Modalidad local NO VERI*FACTU"), QStringLiteral("modality"), producer);
    scaleFont(*modality, 1.0, true);
    fields->addRow(modality);
    producerName_ = addFormField(*fields, QStringLiteral("Productor: nombre / razón social"),
                                 QStringLiteral("producerName"), producer);
    producerTaxID_ =
        addFormField(*fields, QStringLiteral("Productor: NIF"), QStringLiteral("producerTaxID"), producer);

    QPushButton* attach = makeButton(QStringLiteral("Adjuntar declaración responsable…"),
                                     QStringLiteral("attachDeclaration"), producer);
    declaration_ =
        makeCaption(QStringLiteral("Documento adjunto"), QStringLiteral("declarationAttached"), producer);
    auto* attachRow = new QHBoxLayout;
    attachRow->addWidget(attach);
    attachRow->addWidget(declaration_);
    attachRow->addStretch();
    fields->addRow(attachRow);

    QLabel* explanation = makePlainLabel(
        QStringLiteral("Adjuntar un documento no valida el software ni activa la emisión. La declaración "
                       "debe corresponder a Velmora 1.1.0 y ser emitida por su productor después de "
                       "verificar los requisitos."),
        QStringLiteral("declarationExplanation"), producer);
    explanation->setWordWrap(true);
    fields->addRow(explanation);
    fields->addRow(
        makePlainLabel(QStringLiteral("Certificado cualificado: configuración y validación pendientes."),
                       QStringLiteral("certificate"), producer));
    installation_ = makePlainLabel(QString(), QStringLiteral("installation"), producer);
    installation_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    fields->addRow(installation_);

    connect(attach, &QPushButton::clicked, this, &FiscalSettingsView::attachDeclaration);
    return producer;
}

void FiscalSettingsView::reload() {
    settings_ = store().db().fiscalState().settings;
    country_->setText(qtext(settings_.country));
    territory_->setText(qtext(settings_.territory));
    currency_->setText(qtext(settings_.currency));
    taxName_->setText(qtext(settings_.taxName));
    rates_->setText(ratesText(settings_.rates));
    // The issuer is the business itself: until the fiscal settings name it, the business data
    // of Ajustes is proposed, to be checked and saved here.
    const pizzacore::Settings& business = store().db().settings;
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

void FiscalSettingsView::showDeclaration() {
    declaration_->setVisible(settings_.declaration.has_value());
}

void FiscalSettingsView::attachDeclaration() {
    const auto path = store().platform().chooseFileToOpen(QStringLiteral("Adjuntar declaración responsable"),
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

std::optional<QString> FiscalSettingsView::check() {
    checked_ = editedSettings();
    checked_.rates.clear();
    for (const QString& piece : rates_->text().split(QLatin1Char(';'))) {
        if (piece.trimmed().isEmpty()) continue;
        try {
            checked_.rates.push_back(pizzacore::Money::parse(utf8(piece)));
        } catch (...) {
            return describeFailure(std::current_exception());
        }
    }
    return std::nullopt;
}

void FiscalSettingsView::transact(AppStore::Then then) {
    store().saveFiscalSettings(checked_, this, std::move(then));
}

} // namespace velmora
