#include <Velmora/App/VelmoraApp.hpp>

#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Version.hpp>
#include <Velmora/Views/Shared/Components.hpp>

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QKeySequence>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QTranslator>

#include <cstdlib>
#include <system_error>

#ifndef VELMORA_GUIDE_FROM_PROGRAM
#define VELMORA_GUIDE_FROM_PROGRAM "../share/velmora"
#endif

namespace velmora {

namespace {

const char* const guideName = "Guia-Velmora.html";

bool isSet(const EnvironmentLookup& environment, const char* name) {
    const std::optional<std::string> value = environment(name);
    return value && !value->empty();
}

std::unique_ptr<AppStore> openStore(PlatformServices& platform,
                                    std::optional<std::filesystem::path> directory, pizzacore::Clock clock,
                                    VelmoraApp::Opening opening) {
    auto store = directory ? std::make_unique<AppStore>(std::move(*directory), std::move(clock), platform)
                           : std::make_unique<AppStore>(std::move(clock), platform);
    if (opening == VelmoraApp::Opening::inBackground)
        store->startInBackground();
    else
        store->start();
    return store;
}

} // namespace

std::optional<std::string> processEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

std::optional<QString> noDisplayMessage(const EnvironmentLookup& environment,
                                        const std::vector<std::string>& arguments) {
    if (isSet(environment, "DISPLAY") || isSet(environment, "WAYLAND_DISPLAY") ||
        isSet(environment, "QT_QPA_PLATFORM"))
        return std::nullopt;
    for (const std::string& argument : arguments)
        if (argument == "-platform" || argument == "--platform" || argument.starts_with("-platform=") ||
            argument.starts_with("--platform="))
            return std::nullopt;
    return QStringLiteral("Velmora necesita un escritorio gráfico y no encuentra ninguna pantalla: no están "
                          "definidas DISPLAY, WAYLAND_DISPLAY ni QT_QPA_PLATFORM.\n"
                          "Abre Velmora desde el escritorio o desde un terminal de la sesión gráfica.");
}

QTranslator* installQtSpanishTranslations(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qt_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

void prepareApplication(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(QString::fromLatin1(versionText));
    // Matches the installed org.example.Velmora.desktop, so that the desktop shows its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.Velmora"));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("velmora"), QIcon(QPixmap::fromImage(applicationLogo()))));
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
    installQtSpanishTranslations(app);
}

std::optional<std::filesystem::path> findGuide(const std::filesystem::path& programDirectory) {
    const std::filesystem::path candidates[] = {
        programDirectory / guideName,
        programDirectory / VELMORA_GUIDE_FROM_PROGRAM / guideName,
    };
    for (const std::filesystem::path& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) return candidate.lexically_normal();
    }
    return std::nullopt;
}

VelmoraApp::VelmoraApp(PlatformServices& platform, std::optional<std::filesystem::path> dataDirectory,
                       pizzacore::Clock clock, Opening opening, QObject* parent)
    : QObject(parent)
    , platform_(platform)
    , store_(openStore(platform, std::move(dataDirectory), std::move(clock), opening))
    , window_(*store_)
    , settings_(*store_) {
    // Only the main window keeps the application running: closing it quits even while the
    // settings window is open.
    window_.setAttribute(Qt::WA_QuitOnClose, true);
    settings_.setAttribute(Qt::WA_QuitOnClose, false);
    buildMenu();
    connect(&window_, &MainWindow::settingsRequested, this, &VelmoraApp::openSettings);
    window_.installEventFilter(this);
    // The phone rings: the checkout with the caller comes to the front.
    connect(store_.get(), &AppStore::callReceived, this, [this] {
        if (window_.isMinimized()) window_.setWindowState(window_.windowState() & ~Qt::WindowMinimized);
        window_.raise();
        window_.activateWindow();
        QApplication::alert(&window_);
    });
}

VelmoraApp::~VelmoraApp() = default;

void VelmoraApp::show() {
    window_.showAsLastTime();
    window_.raise();
    window_.activateWindow();
}

void VelmoraApp::openSettings() {
    if (store_->fatal() || store_->opening()) return;
    settings_.present();
}

bool VelmoraApp::eventFilter(QObject* watched, QEvent* event) {
    // Closing the main window ("Salir", its close button) closes the settings window first, which
    // asks about edits not saved; if the operator keeps them, nothing closes.
    if (watched == &window_ && event->type() == QEvent::Close && settings_.isVisible() &&
        !settings_.close()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void VelmoraApp::openGuide() {
    const std::optional<std::filesystem::path> guide =
        findGuide(QCoreApplication::applicationDirPath().toStdString());
    if (guide) platform_.openWithDefaultApplication(*guide);
}

void VelmoraApp::buildMenu() {
    // One menu for the application; there is no command that opens a second main window.
    QMenu* menu = window_.menuBar()->addMenu(QStringLiteral("&Velmora"));
    menu->setObjectName(QStringLiteral("applicationMenu"));

    QAction* about = menu->addAction(QStringLiteral("Acerca de Velmora"), this, &VelmoraApp::showAbout);
    about->setObjectName(QStringLiteral("aboutAction"));
    about->setMenuRole(QAction::AboutRole);

    QAction* guide = menu->addAction(QStringLiteral("Guía de Velmora"), this, &VelmoraApp::openGuide);
    guide->setObjectName(QStringLiteral("guideAction"));
    guide->setShortcut(QKeySequence::HelpContents);

    menu->addSeparator();
    settingsAction_ = menu->addAction(QStringLiteral("Ajustes…"), this, &VelmoraApp::openSettings);
    settingsAction_->setObjectName(QStringLiteral("settingsAction"));
    settingsAction_->setMenuRole(QAction::PreferencesRole);
    // The desktop's own shortcut for preferences where it has one, and Ctrl+, everywhere.
    QList<QKeySequence> shortcuts = QKeySequence::keyBindings(QKeySequence::Preferences);
    const QKeySequence comma(Qt::CTRL | Qt::Key_Comma);
    if (!shortcuts.contains(comma)) shortcuts.append(comma);
    settingsAction_->setShortcuts(shortcuts);
    const auto enableSettings = [this] {
        settingsAction_->setEnabled(!store_->fatal() && !store_->opening());
    };
    enableSettings();
    connect(store_.get(), &AppStore::fatalChanged, settingsAction_, enableSettings);
    connect(store_.get(), &AppStore::openingChanged, settingsAction_, enableSettings);

    menu->addSeparator();
    QAction* quit = menu->addAction(QStringLiteral("Salir"), &window_, &QWidget::close);
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
}

void VelmoraApp::showAbout() {
    QMessageBox::about(&window_, QStringLiteral("Acerca de Velmora"),
                       QStringLiteral("<b>Velmora %1</b><p>Caja y pedidos para restaurantes de comida "
                                      "para llevar. Un solo puesto; todos los datos en este ordenador.</p>")
                           .arg(QString::fromLatin1(versionText)));
}

} // namespace velmora
