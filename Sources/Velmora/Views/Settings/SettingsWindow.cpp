#include <Velmora/Views/Settings/SettingsWindow.hpp>

#include <Velmora/Platform/Pictures.hpp>
#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Orders/TicketPreview.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <PizzaCore/Models/Enumerations.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPromise>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

namespace velmora {

namespace {

struct TimeZoneChoice {
    const char* label;
    const char* identifier;
};

constexpr std::array<TimeZoneChoice, 2> timeZones{{
    {"Península · Europe/Madrid", "Europe/Madrid"},
    {"Canarias · Atlantic/Canary", "Atlantic/Canary"},
}};

QFormLayout* form(QWidget* page) {
    auto* layout = new QFormLayout(page);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setHorizontalSpacing(14);
    layout->setVerticalSpacing(10);
    layout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    return layout;
}

} // namespace

SettingsWindow::SettingsWindow(AppStore& store, QWidget* parent, PrinterSource printers)
    : QDialog(parent, Qt::Window)
    , store_(store)
    , printers_(std::move(printers)) {
    setObjectName(QStringLiteral("SettingsWindow"));
    setWindowTitle(QStringLiteral("Ajustes"));
    setModal(false);

    QLabel* title =
        makeBoldLabel(QStringLiteral("Ajustes de Velmora"), QStringLiteral("settingsTitle"), this, 1.35);

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("settingsTabs"));
    tabs_->setAccessibleName(QStringLiteral("Ajustes de Velmora"));
    tabs_->setDocumentMode(true);
    tabs_->addTab(makeBusinessTab(), QStringLiteral("Negocio"));
    tabs_->addTab(makeTicketsTab(), QStringLiteral("Tickets"));
    tabs_->addTab(makeClosingTab(), QStringLiteral("Cierre"));
    tabs_->addTab(makeDataTab(), QStringLiteral("Datos y alcance"));

    preview_ = new TicketPreview(this);
    preview_->setMinimumWidth(280);
    auto* middle = new QHBoxLayout;
    middle->setSpacing(18);
    middle->addWidget(tabs_, 3);
    middle->addWidget(preview_, 2);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 20, 22, 16);
    layout->setSpacing(12);
    layout->addWidget(title);
    layout->addLayout(middle, 1);
    layout->addWidget(makeBottomBar());
    resize(1020, 640);
    connect(&listed_, &QFutureWatcher<PrinterList>::finished, this, [this] {
        installed_ = listed_.future().resultCount() > 0 ? listed_.result() : PrinterList{};
        listing_ = false;
        showPrinters();
    });
    showSettings();
}

QWidget* SettingsWindow::makeBusinessTab() {
    auto* page = new QWidget(this);
    QFormLayout* layout = form(page);
    const auto field = [&](QLineEdit*& line, const char* name, const QString& label,
                           std::string pizzacore::Settings::*member) {
        line = nameControl(new QLineEdit(page), QString::fromLatin1(name), label);
        // Every change of the text is an edit, however it was made: typed, pasted, dictated or set
        // by a screen reader. Only the window's own refills are not (edit() skips them).
        connect(line, &QLineEdit::textChanged, this, [this, member](const QString& value) {
            edit([&] { settings_.*member = value.toStdString(); });
        });
        layout->addRow(label, line);
    };
    field(business_, "business", QStringLiteral("Nombre del negocio"), &pizzacore::Settings::business);
    field(taxID_, "taxID", QStringLiteral("NIF / CIF"), &pizzacore::Settings::taxID);
    field(phone_, "phone", QStringLiteral("Teléfono"), &pizzacore::Settings::phone);
    field(address_, "address", QStringLiteral("Dirección"), &pizzacore::Settings::address);
    field(footer_, "footer", QStringLiteral("Nota al pie"), &pizzacore::Settings::footer);

    auto* logoRow = new QWidget(page);
    auto* row = new QHBoxLayout(logoRow);
    row->setContentsMargins(0, 0, 0, 0);
    logo_ = nameControl(new QLabel(logoRow), QStringLiteral("logoPreview"),
                        QStringLiteral("Logotipo del restaurante"));
    logo_->setFixedSize(64, 48);
    logo_->setAlignment(Qt::AlignCenter);
    logoLoader_ = new PictureLoader(this);
    connect(logoLoader_, &PictureLoader::loaded, this, &SettingsWindow::showLoadedLogo);
    QPushButton* import =
        makeButton(QStringLiteral("Importar logotipo…"), QStringLiteral("importLogo"), logoRow);
    removeLogo_ = makeButton(QStringLiteral("Quitar"), QStringLiteral("removeLogo"), logoRow);
    connect(import, &QPushButton::clicked, this, &SettingsWindow::importLogo);
    connect(removeLogo_, &QPushButton::clicked, this, [this] {
        edit([this] { settings_.logo.reset(); });
        showLogo();
    });
    row->addWidget(logo_);
    row->addWidget(import);
    row->addWidget(removeLogo_);
    row->addStretch();
    layout->addRow(QStringLiteral("Logotipo"), logoRow);

    const QString saveCard = QStringLiteral("Guardar la ficha al confirmar");
    saveCardOnConfirm_ =
        nameControl(new QCheckBox(saveCard, page), QStringLiteral("saveCardOnConfirm"), saveCard);
    saveCardOnConfirm_->setToolTip(QStringLiteral(
        "Al confirmar un pedido con teléfono y nombre de alguien sin ficha, se crea su ficha; si "
        "cambia la dirección de un cliente conocido, se pregunta si guardarla."));
    connect(saveCardOnConfirm_, &QCheckBox::toggled, this,
            [this](bool on) { edit([&] { settings_.saveCardOnConfirm = on; }); });
    layout->addRow(saveCardOnConfirm_);

    // A caller-ID modem: each call opens the caller's card in Caja.
    callerIDDevice_ = nameControl(new QLineEdit(page), QStringLiteral("callerIDDevice"),
                                  QStringLiteral("Módem de llamadas"));
    callerIDDevice_->setPlaceholderText(QStringLiteral("Ninguno (por ejemplo /dev/ttyACM0)"));
    connect(callerIDDevice_, &QLineEdit::textChanged, this, [this](const QString& value) {
        const QString device = value.trimmed();
        edit([&] {
            settings_.callerIDDevice =
                device.isEmpty() ? std::nullopt : std::optional<std::string>(device.toStdString());
        });
    });
    layout->addRow(QStringLiteral("Módem de llamadas"), callerIDDevice_);
    layout->addRow(QString(),
                   makeCaption(QStringLiteral("Dispositivo serie de un módem con identificación de "
                                              "llamadas: al sonar el teléfono, Caja busca la ficha "
                                              "del número. Vacío, sin módem."),
                               QStringLiteral("callerIDCaption"), page));
    return page;
}

QWidget* SettingsWindow::makeTicketsTab() {
    auto* page = new QWidget(this);
    QFormLayout* layout = form(page);

    paper_ = nameControl(new QComboBox(page), QStringLiteral("paper"), QStringLiteral("Formato"));
    for (const pizzacore::Paper paper : pizzacore::allCases<pizzacore::Paper>())
        paper_->addItem(qtext(pizzacore::rawValue(paper)), static_cast<int>(paper));
    connect(paper_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) return;
        edit([&] { settings_.paper = static_cast<pizzacore::Paper>(paper_->itemData(index).toInt()); });
    });
    layout->addRow(QStringLiteral("Formato"), paper_);

    printer_ =
        nameControl(new QComboBox(page), QStringLiteral("printer"), QStringLiteral("Impresora preferida"));
    connect(printer_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) return;
        edit([&] { settings_.printer = printer_->itemData(index).toString().toStdString(); });
        // Until the operator decides, printing on confirming follows whether a printer is chosen.
        showPrintOnConfirm();
    });
    layout->addRow(QStringLiteral("Impresora preferida"), printer_);
    systemPrinter_ = makeCaption(QString(), QStringLiteral("systemPrinter"), page);
    layout->addRow(QString(), systemPrinter_);

    const QString printOnConfirm = QStringLiteral("Imprimir al confirmar");
    printOnConfirm_ =
        nameControl(new QCheckBox(printOnConfirm, page), QStringLiteral("printOnConfirm"), printOnConfirm);
    printOnConfirm_->setToolTip(QStringLiteral(
        "Al confirmar un pedido, sus tickets van directamente a la impresora preferida (o a la "
        "predeterminada del sistema), sin diálogo."));
    connect(printOnConfirm_, &QCheckBox::toggled, this,
            [this](bool on) { edit([&] { settings_.printOnConfirm = on; }); });
    layout->addRow(printOnConfirm_);

    const QString openDrawerOnCash = QStringLiteral("Abrir el cajón al cobrar en efectivo");
    openDrawerOnCash_ = nameControl(new QCheckBox(openDrawerOnCash, page), QStringLiteral("openDrawerOnCash"),
                                    openDrawerOnCash);
    openDrawerOnCash_->setToolTip(
        QStringLiteral("Al registrar un cobro en efectivo, la impresora preferida (o la predeterminada del "
                       "sistema) abre el cajón portamonedas conectado a ella."));
    connect(openDrawerOnCash_, &QCheckBox::toggled, this,
            [this](bool on) { edit([&] { settings_.openDrawerOnCash = on; }); });
    layout->addRow(openDrawerOnCash_);

    const QString printReport = QStringLiteral("Imprimir el informe al cerrar la jornada");
    printReportOnClose_ =
        nameControl(new QCheckBox(printReport, page), QStringLiteral("printReportOnClose"), printReport);
    printReportOnClose_->setToolTip(QStringLiteral(
        "Al cerrarse cada tramo de caja, a mano o automáticamente, su informe de cierre va directamente "
        "a la impresora preferida (o a la predeterminada del sistema), sin diálogo."));
    connect(printReportOnClose_, &QCheckBox::toggled, this,
            [this](bool on) { edit([&] { settings_.printReportOnClose = on; }); });
    layout->addRow(printReportOnClose_);

    const auto toggle = [&](QCheckBox*& box, const char* name, const QString& label,
                            bool pizzacore::Settings::*member) {
        box = nameControl(new QCheckBox(label, page), QString::fromLatin1(name), label);
        connect(box, &QCheckBox::toggled, this,
                [this, member](bool on) { edit([&] { settings_.*member = on; }); });
        layout->addRow(box);
    };
    toggle(kitchen_, "kitchen", QStringLiteral("Ticket de cocina (según categorías)"),
           &pizzacore::Settings::kitchen);
    toggle(bar_, "bar", QStringLiteral("Ticket de barra (según categorías)"), &pizzacore::Settings::bar);
    toggle(customer_, "customer", QStringLiteral("Ticket de cliente / reparto (completo)"),
           &pizzacore::Settings::customer);
    toggle(fullCopies_, "fullCopies", QStringLiteral("Hacer completos todos los tickets seleccionados"),
           &pizzacore::Settings::fullCopies);

    layout->addRow(makeCaption(
        QStringLiteral(
            "Uno, dos o tres tickets por pedido, en la misma impresora. Cada destino empieza en una "
            "página. «Imprimir…» siempre muestra el diálogo de impresión. Las térmicas requieren un "
            "controlador compatible y papel personalizado de 58/80 mm; valida márgenes y longitud "
            "con tu modelo."),
        QStringLiteral("ticketsCaption"), page));
    return page;
}

QWidget* SettingsWindow::makeClosingTab() {
    auto* page = new QWidget(this);
    QFormLayout* layout = form(page);

    timeZone_ = nameControl(new QComboBox(page), QStringLiteral("timeZone"), QStringLiteral("Zona horaria"));
    connect(timeZone_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) return;
        edit([&] { settings_.timeZone = timeZone_->itemData(index).toString().toStdString(); });
    });
    layout->addRow(QStringLiteral("Zona horaria"), timeZone_);

    // One field for the time, typed as a till operator reads it: "04:00".
    closingTime_ =
        nameControl(new QTimeEdit(page), QStringLiteral("closingTime"), QStringLiteral("Cierre diario"));
    closingTime_->setDisplayFormat(QStringLiteral("HH:mm"));
    closingTime_->setWrapping(true);
    connect(closingTime_, &QTimeEdit::timeChanged, this, [this](QTime time) {
        edit([&] {
            settings_.closingHour = time.hour();
            settings_.closingMinute = time.minute();
        });
    });
    auto* time = new QWidget(page);
    auto* row = new QHBoxLayout(time);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(closingTime_);
    row->addStretch();
    layout->addRow(QStringLiteral("Cierre diario"), time);

    layout->addRow(makeCaption(
        QStringLiteral(
            "Cambiar la hora afecta a los tramos que se abran después de guardar. El tramo abierto "
            "mantiene el corte ya previsto. El cierre automático se resuelve al abrir si el "
            "ordenador estaba apagado. No borra pendientes ni pedidos."),
        QStringLiteral("closingCaption"), page));
    return page;
}

QWidget* SettingsWindow::makeDataTab() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(12);

    QLabel* heading = makeBoldLabel(QStringLiteral("Copias completas y restaurables"),
                                    QStringLiteral("dataHeading"), page, 1.1);
    heading->setWordWrap(true);

    auto* buttons = new QHBoxLayout;
    QPushButton* exportBackup =
        makeButton(QStringLiteral("Guardar copia…"), QStringLiteral("exportBackup"), page);
    QPushButton* restoreBackup =
        makeButton(QStringLiteral("Restaurar copia…"), QStringLiteral("restoreBackup"), page);
    QPushButton* openFolder =
        makeButton(QStringLiteral("Abrir carpeta de datos"), QStringLiteral("openDataFolder"), page);
    // The controller outlives the window; the panels and alerts of the copy belong to this window.
    connect(exportBackup, &QPushButton::clicked, this, [this] {
        AppStore& store = store_;
        store.exportBackup(this);
    });
    connect(restoreBackup, &QPushButton::clicked, this, &SettingsWindow::restore);
    connect(openFolder, &QPushButton::clicked, this, &SettingsWindow::openDataFolder);
    buttons->addWidget(exportBackup);
    buttons->addWidget(restoreBackup);
    buttons->addWidget(openFolder);
    buttons->addStretch();

    layout->addWidget(heading);
    layout->addLayout(buttons);
    layout->addWidget(makeCaption(
        QStringLiteral(
            "Las copias incluyen teléfonos, direcciones y notas. Guárdalas en un lugar protegido. "
            "Antes de restaurar se conserva otra copia local. La restauración sustituye el conjunto "
            "de datos y no combina pedidos."),
        QStringLiteral("dataNotice"), page));
    layout->addWidget(makeCaption(
        QStringLiteral("Al cerrar cada jornada se guarda además una copia automática en la carpeta Copias, "
                       "dentro de la carpeta de datos; se conservan las de las 30 últimas jornadas."),
        QStringLiteral("dailyBackupsNotice"), page));
    QLabel* scope = makeCaption(
        QStringLiteral("Velmora 1.1.0 registra pedidos y cobros locales. Facturación permite configurar "
                       "impuestos y preparar propuestas; la emisión fiscal definitiva está bloqueada hasta "
                       "completar la validación NO VERI*FACTU. No integra una pasarela de pagos."),
        QStringLiteral("scopeCaption"), page);
    scaleFont(*scope, 0.9, false);
    layout->addWidget(scope);
    layout->addStretch();
    return page;
}

QWidget* SettingsWindow::makeBottomBar() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    status_ = makePlainLabel(QString(), QStringLiteral("saveStatus"), bar);
    // Return belongs to "Guardar ajustes", whichever control has the focus: the window's other
    // buttons (made by makeButton) are never the default.
    save_ = makeButton(QStringLiteral("Guardar ajustes"), QStringLiteral("saveSettings"), bar);
    save_->setDefault(true);
    save_->setAutoDefault(true);
    connect(save_, &QPushButton::clicked, this, &SettingsWindow::save);
    row->addWidget(status_, 1);
    row->addWidget(save_);
    return bar;
}

bool SettingsWindow::hasUnsavedEdits() const {
    return settings_ != store_.db().settings;
}

void SettingsWindow::reject() {
    // Escape, the window's close button and quitting all come here: edits are discarded only
    // when the operator says so.
    if (isVisible() && hasUnsavedEdits()) {
        const QPointer<SettingsWindow> alive(this);
        const std::optional<int> choice = store_.platform().confirm(
            Confirmation{QStringLiteral("¿Descartar los cambios de Ajustes?"),
                         QStringLiteral("Los cambios que no has guardado se perderán."),
                         {QStringLiteral("Descartar cambios"), QStringLiteral("Cancelar")}},
            this);
        if (!alive || choice != 0) return;
    }
    QDialog::reject();
}

void SettingsWindow::present() {
    show();
    raise();
    activateWindow();
}

void SettingsWindow::showEvent(QShowEvent* event) {
    // Un-minimising is a spontaneous show and keeps the edits; opening the window starts afresh.
    if (!event->spontaneous()) load();
    QDialog::showEvent(event);
}

void SettingsWindow::load() {
    settings_ = store_.db().settings;
    saved_ = false;
    listPrinters();
    showSettings();
    preview_->preview(settings_, store_.now(), true);
}

template <class F>
void SettingsWindow::edit(F&& apply) {
    if (filling_) return;
    std::forward<F>(apply)();
    saved_ = false;
    showStatus();
    preview_->preview(settings_, store_.now());
}

void SettingsWindow::showSettings() {
    filling_ = true;
    business_->setText(qtext(settings_.business));
    taxID_->setText(qtext(settings_.taxID));
    phone_->setText(qtext(settings_.phone));
    address_->setText(qtext(settings_.address));
    footer_->setText(qtext(settings_.footer));
    paper_->setCurrentIndex(paper_->findData(static_cast<int>(settings_.paper)));
    kitchen_->setChecked(settings_.kitchen);
    bar_->setChecked(settings_.bar);
    customer_->setChecked(settings_.customer);
    fullCopies_->setChecked(settings_.fullCopies);
    printReportOnClose_->setChecked(settings_.printReportOnClose.value_or(false));
    // Stored values out of range (only a hand-edited document holds them) show as the nearest.
    closingTime_->setTime(QTime(static_cast<int>(std::clamp<std::int64_t>(settings_.closingHour, 0, 23)),
                                static_cast<int>(std::clamp<std::int64_t>(settings_.closingMinute, 0, 59))));
    showPrinters();
    showPrintOnConfirm();
    saveCardOnConfirm_->setChecked(settings_.savesCardOnConfirm());
    openDrawerOnCash_->setChecked(settings_.opensDrawerOnCash());
    callerIDDevice_->setText(qtext(settings_.callerIDDevice.value_or(std::string())));
    showTimeZones();
    filling_ = false;
    showLogo();
    showStatus();
}

void SettingsWindow::showLogo() {
    removeLogo_->setVisible(settings_.logo.has_value());
    // Decoded once per logo at the preview's size, upright; the preview follows when it is ready.
    logoLoader_->load(settings_.logo, logo_->size() * logo_->devicePixelRatioF());
}

void SettingsWindow::showLoadedLogo() {
    const QImage& image = logoLoader_->image();
    if (image.isNull()) {
        logo_->clear();
    } else {
        QPixmap pixmap = QPixmap::fromImage(image);
        pixmap.setDevicePixelRatio(logo_->devicePixelRatioF());
        logo_->setPixmap(pixmap);
    }
    logo_->setVisible(!image.isNull());
}

void SettingsWindow::listPrinters() {
    auto promise = std::make_shared<QPromise<PrinterList>>();
    // A list that comes after the window opened again belongs to the older opening.
    listed_.setFuture(promise->future());
    listing_ = true;
    promise->start();
    // The thread owns the source and the promise; if the print system answers after the window
    // is gone, the list is dropped. Nothing waits for the thread, not even quitting.
    const auto list = [promise, source = printers_] {
        PrinterList result;
        try {
            if (source) result = source();
        } catch (...) {
            // No list is the same as no printers: the stored choice stays, marked unavailable.
        }
        promise->addResult(std::move(result));
        promise->finish();
    };
    try {
        std::thread(list).detach();
    } catch (const std::system_error&) {
        list();
    }
}

void SettingsWindow::showPrinters() {
    const bool filling = std::exchange(filling_, true);
    printer_->clear();
    printer_->addItem(QStringLiteral("Predeterminada del sistema"), QString());
    for (const QString& name : installed_.names)
        printer_->addItem(name, name);
    const QString stored = qtext(settings_.printer);
    // A printer that is no longer installed stays chosen, marked, until another is chosen; while
    // the list is on its way nothing is known about it yet.
    if (!stored.isEmpty() && !installed_.names.contains(stored))
        printer_->addItem(listing_ ? stored : stored + QStringLiteral(" (no disponible)"), stored);
    printer_->setCurrentIndex(std::max(0, printer_->findData(stored)));
    filling_ = filling;
    if (listing_)
        systemPrinter_->setText(QStringLiteral("Buscando impresoras…"));
    else if (installed_.names.isEmpty())
        systemPrinter_->setText(QStringLiteral("No hay impresoras instaladas en el sistema."));
    else if (installed_.defaultName.isEmpty())
        systemPrinter_->setText(QStringLiteral("El sistema no tiene impresora predeterminada."));
    else
        systemPrinter_->setText(QStringLiteral("Predeterminada ahora: ") + installed_.defaultName);
}

void SettingsWindow::showPrintOnConfirm() {
    const bool filling = std::exchange(filling_, true);
    printOnConfirm_->setChecked(settings_.printsOnConfirm());
    filling_ = filling;
}

void SettingsWindow::showTimeZones() {
    const bool filling = std::exchange(filling_, true);
    timeZone_->clear();
    for (const TimeZoneChoice& choice : timeZones)
        timeZone_->addItem(QString::fromUtf8(choice.label), QString::fromLatin1(choice.identifier));
    const QString stored = qtext(settings_.timeZone);
    // Another stored zone is offered as it is, so that saving keeps it.
    if (timeZone_->findData(stored) < 0) timeZone_->addItem(stored, stored);
    timeZone_->setCurrentIndex(timeZone_->findData(stored));
    filling_ = filling;
}

void SettingsWindow::showStatus() {
    if (saved_) {
        status_->setText(QStringLiteral("Ajustes guardados"));
        status_->setPalette(palette());
    } else {
        status_->setText(QStringLiteral("Los cambios se aplican al guardar."));
        makeSecondary(*status_);
    }
}

void SettingsWindow::save() {
    const pizzacore::Settings settings = settings_;
    store_.saveSettings(settings, this, this, [this, settings](const Outcome& outcome) {
        // An edit made while the save was under way keeps the bar saying that changes are pending.
        if (outcome && settings_ == settings) saved_ = true;
        showStatus();
    });
}

void SettingsWindow::importLogo() {
    const QPointer<SettingsWindow> alive(this);
    pizzacore::Settings settings = settings_;
    if (!store_.importLogo(settings, this) || !alive) return;
    edit([&] { settings_.logo = std::move(settings.logo); });
    showLogo();
}

void SettingsWindow::restore() {
    const QPointer<SettingsWindow> alive(this);
    // Without edits the window follows the restored settings; edits in progress are kept.
    const bool edited = settings_ != store_.db().settings;
    if (!store_.restoreBackup(this) || !alive) return;
    if (!edited) load();
}

void SettingsWindow::openDataFolder() {
    const std::filesystem::path folder = store_.location();
    if (!store_.platform().openWithDefaultApplication(folder))
        store_.setMessage(QStringLiteral("No se pudo abrir la carpeta de datos: ") +
                              QString::fromStdString(folder.string()),
                          AlertKind::warning, this);
}

} // namespace velmora
