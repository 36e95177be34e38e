#include <Velmora/Views/Window/MainWindow.hpp>

#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Checkout/CheckoutView.hpp>
#include <Velmora/Views/Customers/CustomersView.hpp>
#include <Velmora/Views/Fiscal/FiscalView.hpp>
#include <Velmora/Views/Orders/OrdersView.hpp>
#include <Velmora/Views/Products/ProductsView.hpp>
#include <Velmora/Views/Sessions/SessionsView.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Window/FatalView.hpp>
#include <Velmora/Views/Window/Sidebar.hpp>

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QSettings>
#include <QShortcut>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

namespace velmora {

// The screen of each section, in the sidebar's order; each shows its own heading.
QWidget* MainWindow::makeSection(std::size_t position, QWidget* parent) {
    switch (position) {
    case 0: // Caja
        return new CheckoutView(store_, thumbnails_, parent);

    case 1: // Pedidos
        return new OrdersView(store_, parent);

    case 2: // Clientes
        return new CustomersView(store_, parent);

    case 3: // Productos
        return new ProductsView(store_, thumbnails_, parent);

    case 4: // Jornadas y caja
        return new SessionsView(store_, parent);

    case 5: // Facturación
        return new FiscalView(store_, parent);

    default:
        break;
    }
    return new QWidget(parent); // no section has this position
}

MainWindow::MainWindow(AppStore& store, QWidget* parent)
    : QMainWindow(parent)
    , store_(store)
    , clock_(new QTimer(this)) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Velmora"));
    // Small enough for a 1024×768 till with a panel; every screen scrolls what does not fit.
    setMinimumSize(900, 560);
    resize(1280, 820);

    if (store_.fatal())
        showFatal();
    else if (store_.opening())
        showOpening();
    else
        showContent();
    connect(&store_, &AppStore::fatalChanged, this, [this] {
        if (store_.fatal()) showFatal();
    });
    // The sections are built once the data is open, with the document they show.
    connect(&store_, &AppStore::openingChanged, this, [this] {
        if (!store_.opening() && !store_.fatal() && !detail_) showContent();
    });

    connect(&store_, &AppStore::draftChanged, this, &MainWindow::saveDraft);

    // A discreet "Guardando…" in the bottom corner while a save takes long enough to notice.
    savingShown_ = new QLabel(QStringLiteral("Guardando…"), this);
    savingShown_->setObjectName(QStringLiteral("savingIndicator"));
    savingShown_->setAccessibleName(QStringLiteral("Guardando…"));
    savingShown_->setContentsMargins(10, 4, 10, 4);
    savingShown_->setAutoFillBackground(true);
    makeSecondary(*savingShown_);
    savingShown_->hide();
    savingDelay_ = new QTimer(this);
    savingDelay_->setSingleShot(true);
    savingDelay_->setInterval(savingIndicatorDelay);
    connect(savingDelay_, &QTimer::timeout, this, [this] {
        if (!store_.saving()) return;
        placeSavingIndicator();
        savingShown_->show();
    });
    connect(&store_, &AppStore::savingChanged, this, &MainWindow::showSaving);
    connect(&store_, &AppStore::messageChanged, this, [this] {
        ++messageGeneration_;
        scheduleAlert();
    });
    scheduleAlert();

    // The tick does nothing until a session falls due, so it may run as often as it likes.
    clock_->setObjectName(QStringLiteral("clockTick"));
    clock_->setInterval(tickInterval);
    connect(clock_, &QTimer::timeout, &store_, &AppStore::tick);
    clock_->start();
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive) store_.tick();
    });
}

int MainWindow::visibleSection() const {
    return detail_ ? detail_->currentIndex() : -1;
}

void MainWindow::showContent() {
    auto* content = new QWidget(this);
    auto* layout = new QHBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* sidebar = new Sidebar(store_, content);
    connect(&sidebar->settingsAccess(), &QPushButton::clicked, this, &MainWindow::settingsRequested);

    detail_ = new QStackedWidget(content);
    detail_->setObjectName(QStringLiteral("detail"));
    for (std::size_t position = 0; position < sections.size(); ++position)
        detail_->addWidget(makeSection(position, detail_));

    layout->addWidget(sidebar);
    layout->addWidget(detail_, 1);
    setCentralWidget(content);

    connect(&store_, &AppStore::selectedTabChanged, this, &MainWindow::showSelectedTab);
    showSelectedTab();

    // Ctrl+1 … Ctrl+6 open the sections in the sidebar's order. They belong to the content, so
    // the fatal-state screen that replaces it takes them away too.
    for (std::size_t position = 0; position < sections.size(); ++position) {
        auto* shortcut =
            new QShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_1 + position)), content);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this,
                [this, position] { store_.setSelectedTab(QString::fromUtf8(sections[position].title)); });
    }
}

QString MainWindow::layoutFile() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/ventana.ini");
}

void MainWindow::showAsLastTime() {
    const QSettings kept(layoutFile(), QSettings::IniFormat);
    if (restoreGeometry(kept.value(QStringLiteral("geometria")).toByteArray()))
        show();
    else
        showMaximized();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (!event->isAccepted()) return;
    QDir().mkpath(QFileInfo(layoutFile()).path());
    QSettings kept(layoutFile(), QSettings::IniFormat);
    kept.setValue(QStringLiteral("geometria"), saveGeometry());
}

void MainWindow::showFatal() {
    // Replacing the central widget destroys the sections, so nothing that could change the data
    // stays reachable.
    detail_ = nullptr;
    setCentralWidget(new FatalView(store_, this));
}

void MainWindow::showOpening() {
    auto* opening = new QWidget(this);
    opening->setObjectName(QStringLiteral("OpeningView"));
    QLabel* text =
        makeBoldLabel(QStringLiteral("Abriendo los datos…"), QStringLiteral("openingText"), opening, 1.3);
    auto* progress = new QProgressBar(opening);
    progress->setObjectName(QStringLiteral("openingProgress"));
    progress->setAccessibleName(QStringLiteral("Abriendo los datos…"));
    // How long a year of data takes to read is not known in advance: the bar only shows activity.
    progress->setRange(0, 0);
    progress->setTextVisible(false);
    progress->setFixedWidth(280);
    auto* layout = new QVBoxLayout(opening);
    layout->addStretch();
    layout->addWidget(text, 0, Qt::AlignHCenter);
    layout->addWidget(progress, 0, Qt::AlignHCenter);
    layout->addStretch();
    setCentralWidget(opening);
}

void MainWindow::showSelectedTab() {
    if (!detail_) return;
    const QString& tab = store_.selectedTab();
    int index = 0; // any other value, "Caja" included, shows the checkout
    for (std::size_t position = 0; position < sections.size(); ++position)
        if (tab == QString::fromUtf8(sections[position].title)) index = static_cast<int>(position);
    detail_->setCurrentIndex(index);
}

void MainWindow::saveDraft() {
    // A draft that the document already holds (loaded, or just stored by a transaction) has
    // nothing left to save. In the fatal state nothing is saved at all. The save itself runs in
    // the background, so typing never waits for the disk.
    if (store_.fatal() || store_.draft() == store_.db().draft) return;
    store_.saveDraftSoon();
}

void MainWindow::showSaving() {
    // Quick saves come and go unseen; only one the operator could notice is shown.
    if (store_.saving()) {
        if (!savingShown_->isVisible() && !savingDelay_->isActive()) savingDelay_->start();
    } else {
        savingDelay_->stop();
        savingShown_->hide();
    }
}

void MainWindow::placeSavingIndicator() {
    savingShown_->adjustSize();
    savingShown_->move(width() - savingShown_->width() - 14, height() - savingShown_->height() - 12);
    savingShown_->raise();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (savingShown_) placeSavingIndicator();
}

void MainWindow::scheduleAlert() {
    // The alert opens from the event loop, never inside the code that set the message.
    if (alertScheduled_ || alertOpen_ || !store_.message()) return;
    alertScheduled_ = true;
    QTimer::singleShot(0, this, &MainWindow::showAlerts);
}

void MainWindow::showAlerts() {
    alertScheduled_ = false;
    alertOpen_ = true;
    const QPointer<MainWindow> alive(this);
    while (store_.message() && !store_.fatal()) {
        const quint64 shown = messageGeneration_;
        // A message of another window (the settings window's backup, a refused save) opens over
        // that window, so that it stays in front; once that window is closed, over this one.
        QWidget* owner = store_.messageWindow();
        if (!owner || !owner->isVisible()) owner = this;
        store_.platform().confirm(
            Confirmation{*store_.message(), QString(), {QStringLiteral("Aceptar")}, store_.messageKind()},
            owner);
        if (!alive) return;
        // Dismissing the alert clears its message; a message that arrived while it was open is
        // shown next instead of being lost.
        if (messageGeneration_ == shown) store_.clearMessage();
    }
    alertOpen_ = false;
}

} // namespace velmora
