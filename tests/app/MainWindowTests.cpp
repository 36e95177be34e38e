// The main window and the application around it, on real data directories in temporary folders:
// the sidebar and the section shown, the message alert, the fatal-state screen, the draft saved
// after each change, the clock tick, the shared components, the menu, the settings window, the
// guide, Qt's Spanish texts and the check for a display.

#include <Velmora/App/VelmoraApp.hpp>
#include <Velmora/Platform/QtPlatformServices.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Window/FatalView.hpp>
#include <Velmora/Views/Window/MainWindow.hpp>
#include <Velmora/Views/Window/Sidebar.hpp>
#include <support/TestFiles.hpp>

#include "ScreenTesting.hpp"
#include "TestImages.hpp"
#include "TestPlatformServices.hpp"

#include <PizzaCore/PizzaCore.hpp>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using pizzacore::Clock;
using pizzacore::Instant;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::writeFile;
using velmora::AppStore;
using velmora::MainWindow;
using velmora::testing::TestPlatformServices;
using namespace velmora::testing;

pizzacore::Bytes pngBytes(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(0x20, 0x80, 0xC0));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return pizzacore::Bytes(data.begin(), data.end());
}

QListWidget& sectionList(QWidget& window) {
    auto* list = window.findChild<QListWidget*>(QStringLiteral("sections"));
    if (!list) throw std::runtime_error("no section list");
    return *list;
}

QString visibleHeader(MainWindow& window) {
    auto* detail = window.findChild<QStackedWidget*>(QStringLiteral("detail"));
    if (!detail || !detail->currentWidget()) return {};
    auto* header = detail->currentWidget()->findChild<velmora::PageHeader*>();
    return header ? header->title() : QString();
}

// A controller opened on an empty data directory, as at the first start, with its window.
class MainWindowTest : public ScreenTest {
protected:
    MainWindowTest() { start_ = Start::emptyFolder; }
    void SetUp() override {
        ScreenTest::SetUp();
        if (HasFatalFailure()) return;
        window_ = std::make_unique<MainWindow>(*store_);
    }

    MainWindow& window() { return *window_; }
    fs::path file() const { return dataFolder() / "Velmora.json"; }

    // A controller opened afresh on the same directory, as at the next start of the program.
    pizzacore::Database reopened() {
        window_.reset();
        store_.reset();
        TestPlatformServices platform;
        AppStore again(dataFolder(), Clock::fixed(*now_), platform);
        again.start();
        EXPECT_FALSE(again.fatal());
        return again.db();
    }

    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, OpensAtItsSizesWithTheSidebarAndSavesAScreenshot) {
    EXPECT_EQ(window().windowTitle(), "Velmora");
    // Small enough for a 1024×768 till.
    EXPECT_EQ(window().minimumSize(), QSize(900, 560));
    EXPECT_EQ(window().size(), QSize(1280, 820));
    window().show();
    settle();

    auto* sidebar = window().findChild<velmora::Sidebar*>();
    ASSERT_NE(sidebar, nullptr);
    EXPECT_EQ(sidebar->width(), 190);
    QListWidget& list = sectionList(window());
    QStringList titles;
    for (int row = 0; row < list.count(); ++row) {
        titles << list.item(row)->text();
        EXPECT_FALSE(list.item(row)->icon().pixmap(20, 20).isNull()) << "row " << row << " has no icon";
    }
    EXPECT_EQ(titles, (QStringList{"Caja", "Pedidos", "Clientes", "Productos", "Jornadas", "Facturación"}));
    EXPECT_EQ(list.currentRow(), 0);
    EXPECT_EQ(visibleHeader(window()), "Caja");

    auto* caption = window().findChild<QLabel*>(QStringLiteral("caption"));
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->text(), "1.1.0 · Un solo puesto\nFacturación en preparación");
    auto* business = window().findChild<QLabel*>(QStringLiteral("businessName"));
    ASSERT_NE(business, nullptr);
    EXPECT_EQ(business->text(), "Mi restaurante");
    auto* logo = window().findChild<velmora::SidebarLogo*>();
    ASSERT_NE(logo, nullptr);
    EXPECT_FALSE(logo->showsRestaurantLogo());
    EXPECT_FALSE(logo->image().isNull()) << "Velmora's own logo is bundled";
    EXPECT_EQ(logo->accessibleName(), "Logotipo de Velmora");
    auto* settings = window().findChild<velmora::SettingsAccess*>();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->text(), "Ajustes…");

    const char* directory = std::getenv("VELMORA_SCREENSHOT_DIR");
    const fs::path shot = fs::path(directory && *directory ? directory : ".") / "Velmora-ventana.png";
    EXPECT_TRUE(window().grab().save(QString::fromStdString(shot.string()), "PNG")) << shot;
}

TEST_F(MainWindowTest, CtrlAndADigitOpenTheSectionsInTheSidebarsOrder) {
    window().show();
    QApplication::setActiveWindow(&window());
    settle();
    const QStringList titles{"Caja", "Pedidos", "Clientes", "Productos", "Jornadas", "Facturación"};
    for (int position = titles.size() - 1; position >= 0; --position) {
        QTest::keyClick(&window(), static_cast<Qt::Key>(Qt::Key_1 + position), Qt::ControlModifier);
        EXPECT_EQ(store().selectedTab(), titles[position]);
        EXPECT_EQ(window().visibleSection(), position);
    }
}

TEST_F(MainWindowTest, OpensMaximisedTheFirstTimeAndAfterwardsAsItWasClosed) {
    QFile::remove(MainWindow::layoutFile());
    window().showAsLastTime();
    settle();
    EXPECT_TRUE(window().windowState() & Qt::WindowMaximized);
    window().showNormal();
    window().setGeometry(40, 50, 1100, 700);
    settle();
    window().close();

    MainWindow again(store());
    again.showAsLastTime();
    settle();
    EXPECT_FALSE(again.windowState() & Qt::WindowMaximized);
    EXPECT_EQ(again.size(), QSize(1100, 700));
    again.close();
    QFile::remove(MainWindow::layoutFile());
}

TEST_F(MainWindowTest, TheSidebarDecodesEachLogoOnceUprightAtTheSizeItShowsAndAwayFromTheWindow) {
    auto* logo = window().findChild<velmora::SidebarLogo*>();
    ASSERT_TRUE(logo);
    using velmora::testing::encoded;
    using velmora::testing::twoColours;

    // Stored 400 × 200 with the left half red, taken with the camera turned a quarter: shown
    // upright, red on top, fitted into the sidebar's 190 × 65.
    const QByteArray turned = velmora::testing::withOrientation(encoded(twoColours(400, 200), "JPEG", 95), 6);
    ASSERT_TRUE(store().transact(
        [&](pizzacore::Database& db) { db.settings.logo = pizzacore::Bytes(turned.begin(), turned.end()); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !logo->loading(); }, 10000));
    ASSERT_TRUE(logo->showsRestaurantLogo());
    ASSERT_EQ(logo->image().size(), QSize(33, 65));
    EXPECT_GT(QColor(logo->image().pixel(16, 8)).red(), 200);
    EXPECT_GT(QColor(logo->image().pixel(16, 56)).blue(), 200);

    // A large logo is decoded at the size it is shown, while the window's timers keep running.
    const QByteArray large = encoded(twoColours(3000, 3000), "PNG");
    int ticks = 0;
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    ASSERT_TRUE(store().transact(
        [&](pizzacore::Database& db) { db.settings.logo = pizzacore::Bytes(large.begin(), large.end()); }));
    EXPECT_TRUE(logo->loading());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !logo->loading(); }, 20000));
    timer.stop();
    EXPECT_GT(ticks, 1);
    EXPECT_EQ(logo->image().size(), QSize(65, 65));

    // Other changes of the document keep the logo already decoded.
    const qint64 decoded = logo->image().cacheKey();
    for (const char* name : {"Pizzería Sol", "Pizzería Luna"}) {
        ASSERT_TRUE(store().transact([&](pizzacore::Database& db) { db.settings.business = name; }));
        EXPECT_FALSE(logo->loading()) << name;
        settle();
        EXPECT_EQ(logo->image().cacheKey(), decoded) << name;
    }
}

TEST_F(MainWindowTest, TheSelectedTabChoosesTheSectionAndTheHighlightedRow) {
    QListWidget& list = sectionList(window());

    // Choosing a row sets the controller's section.
    list.setCurrentRow(3);
    EXPECT_EQ(store().selectedTab(), "Productos");
    EXPECT_EQ(visibleHeader(window()), "Productos");

    // The controller's section chooses the row and the screen.
    store().setSelectedTab(QStringLiteral("Jornadas"));
    EXPECT_EQ(list.currentRow(), 4);
    EXPECT_EQ(visibleHeader(window()), "Jornadas y caja");
    store().setSelectedTab(QStringLiteral("Facturación"));
    EXPECT_EQ(visibleHeader(window()), "Facturación");

    // A value that names no section shows the checkout with no row highlighted, and stays as set.
    store().setSelectedTab(QStringLiteral("Cocina"));
    EXPECT_EQ(window().visibleSection(), 0);
    EXPECT_EQ(visibleHeader(window()), "Caja");
    EXPECT_EQ(list.currentRow(), -1);
    EXPECT_TRUE(list.selectedItems().isEmpty());
    EXPECT_EQ(store().selectedTab(), "Cocina");

    // Choosing a row from there works again.
    emit list.itemClicked(list.item(1));
    EXPECT_EQ(store().selectedTab(), "Pedidos");
    EXPECT_EQ(visibleHeader(window()), "Pedidos");
}

TEST_F(MainWindowTest, TheSidebarFollowsTheBusinessNameAndLogo) {
    auto* business = window().findChild<QLabel*>(QStringLiteral("businessName"));
    auto* logo = window().findChild<velmora::SidebarLogo*>();
    ASSERT_TRUE(business && logo);

    ASSERT_TRUE(store().transact([](pizzacore::Database& db) {
        db.settings.business = "Pizzería Sol";
        db.settings.logo = pngBytes(120, 40);
    }));
    EXPECT_EQ(business->text(), "Pizzería Sol");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !logo->loading(); }, 10000));
    EXPECT_TRUE(logo->showsRestaurantLogo());
    EXPECT_EQ(logo->image().size(), QSize(120, 40));
    EXPECT_EQ(logo->accessibleName(), "Logotipo del restaurante");

    // Bytes that are no picture fall back to Velmora's logo; an empty name keeps its line.
    ASSERT_TRUE(store().transact([](pizzacore::Database& db) {
        db.settings.business.clear();
        db.settings.logo = pizzacore::Bytes{0x89, 'P', 'N', 'G', 0, 1, 2};
    }));
    EXPECT_EQ(business->text(), "");
    EXPECT_GT(business->minimumHeight(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !logo->loading(); }, 10000));
    EXPECT_FALSE(logo->showsRestaurantLogo());
    EXPECT_FALSE(logo->image().isNull());
    EXPECT_EQ(logo->accessibleName(), "Logotipo de Velmora");
}

TEST_F(MainWindowTest, TextTheOperatorTypedIsShownAsWrittenNeverAsMarkup) {
    auto* business = window().findChild<QLabel*>(QStringLiteral("businessName"));
    ASSERT_NE(business, nullptr);
    ASSERT_TRUE(store().transact([](pizzacore::Database& db) { db.settings.business = "<b>Casa</b> Pepe"; }));
    EXPECT_EQ(business->text(), "<b>Casa</b> Pepe");
    EXPECT_EQ(business->textFormat(), Qt::PlainText);
    const char* directory = std::getenv("VELMORA_SCREENSHOT_DIR");
    const fs::path shot = fs::path(directory && *directory ? directory : ".") / "Velmora-nombre-literal.png";
    auto* sidebar = window().findChild<velmora::Sidebar*>();
    ASSERT_NE(sidebar, nullptr);
    EXPECT_TRUE(sidebar->grab().save(QString::fromStdString(shot.string()), "PNG")) << shot;

    // The alert of the real platform services, which can quote names and notes, too.
    velmora::QtPlatformServices services(&window());
    std::optional<Qt::TextFormat> text, informative;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
            text = label->textFormat();
        if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
            informative = label->textFormat();
        box->buttons().front()->click();
    });
    services.confirm(velmora::Confirmation{QStringLiteral("No se pudo guardar «<i>Pepe</i>»."),
                                           QStringLiteral("<b>nota</b>"),
                                           {QStringLiteral("Aceptar")}},
                     nullptr);
    EXPECT_EQ(text, Qt::PlainText);
    EXPECT_EQ(informative, Qt::PlainText);
}

TEST_F(MainWindowTest, TheMessageAlertShowsTheTextAndDismissingItClearsTheMessage) {
    // Answered with its button.
    platform_.answerNextAlert(QStringLiteral("Aceptar"));
    store().setMessage(QStringLiteral("La copia no es válida o su integridad no coincide."));
    EXPECT_TRUE(platform_.alerts().empty()) << "the alert opens from the event loop";
    settle();
    ASSERT_EQ(platform_.alerts().size(), 1u);
    EXPECT_EQ(platform_.alerts()[0].message, "La copia no es válida o su integridad no coincide.");
    EXPECT_EQ(platform_.alerts()[0].buttons, QStringList{"Aceptar"});
    EXPECT_FALSE(store().message());

    // Dismissed without its button (Escape, closing it): the same.
    store().setMessage(QStringLiteral("Ajustes guardados"));
    settle();
    ASSERT_EQ(platform_.alerts().size(), 2u);
    EXPECT_FALSE(store().message());

    settle();
    EXPECT_EQ(platform_.alerts().size(), 2u) << "a cleared message shows nothing more";
}

TEST(MainWindowAlert, AMessageThatArrivesWhileTheAlertIsOpenIsShownNextNotLost) {
    TemporaryDirectory directory;
    HookedPlatformServices platform;
    AppStore store(directory.path(), Clock::fixed(friday), platform);
    store.start();
    MainWindow window(store);

    platform.beforeNextAlert = [&store] { store.setMessage(QStringLiteral("Segundo aviso")); };
    store.setMessage(QStringLiteral("Primer aviso"));
    settle();
    ASSERT_EQ(platform.alerts().size(), 2u);
    EXPECT_EQ(platform.alerts()[0].message, "Primer aviso");
    EXPECT_EQ(platform.alerts()[1].message, "Segundo aviso");
    EXPECT_FALSE(store.message());
}

TEST_F(MainWindowTest, EveryChangeOfTheDraftIsSavedAndASaveFailureIsShown) {
    pizzacore::Draft draft = store().draft();
    draft.phone = "612 345 678";
    draft.notes = "Sin cebolla";
    store().setDraft(draft);
    // Saved in the background, without being asked again.
    store().flush();
    settle();
    EXPECT_FALSE(store().message());
    EXPECT_EQ(store().db().draft, draft);
    EXPECT_EQ(reloaded().draft, draft);

    // The stored file damaged behind the program's back: the save is refused and said so, and
    // the draft in memory stays.
    writeFile(file(), "dañado");
    pizzacore::Draft later = draft;
    later.notes = "Sin cebolla, con extra de queso";
    store().setDraft(later);
    store().flush();
    settle();
    ASSERT_FALSE(platform_.alerts().empty());
    EXPECT_FALSE(platform_.alerts().back().message.isEmpty());
    EXPECT_EQ(store().draft(), later);
    EXPECT_EQ(store().db().draft, draft);
}

TEST_F(MainWindowTest, SaysItIsSavingOnlyWhileASaveTakesLongEnoughToNotice) {
    auto* indicator = window().findChild<QLabel*>(QStringLiteral("savingIndicator"));
    ASSERT_NE(indicator, nullptr);
    window().show();
    EXPECT_EQ(indicator->text(), "Guardando…");
    bool shownDuring = false;
    QTimer::singleShot(MainWindow::savingIndicatorDelay + 200, &window(),
                       [&] { shownDuring = indicator->isVisible(); });
    ASSERT_TRUE(store().transact([](pizzacore::Database& db) {
        std::this_thread::sleep_for(std::chrono::milliseconds(MainWindow::savingIndicatorDelay + 500));
        db.record("Prueba", "", friday);
    }));
    EXPECT_TRUE(shownDuring);
    EXPECT_FALSE(indicator->isVisible());

    // A quick save is never announced.
    ASSERT_TRUE(store().transact([](pizzacore::Database& db) { db.record("Prueba", "", friday); }));
    settle();
    EXPECT_FALSE(indicator->isVisible());
}

TEST_F(MainWindowTest, TheDraftSurvivesARestart) {
    pizzacore::Draft draft = store().draft();
    draft.name = "Lucía";
    draft.address = "Calle Mayor 3";
    draft.mode = pizzacore::Mode::delivery;
    store().setDraft(draft);
    EXPECT_EQ(reopened().draft, draft);
}

TEST_F(MainWindowTest, TheClockTicksEveryThirtySecondsAndWhenTheApplicationBecomesActive) {
    auto* timer = window().findChild<QTimer*>(QStringLiteral("clockTick"));
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 30'000);
    EXPECT_TRUE(timer->isActive());

    // Back from sleep after the closing hour: becoming active closes the day at once.
    ASSERT_EQ(store().db().sessions.size(), 1u);
    *now_ = Instant{store().db().sessions.back().scheduledEnd.seconds + 3600};
    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_EQ(store().db().sessions.size(), 1u);
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    ASSERT_EQ(store().db().sessions.size(), 2u);
    EXPECT_TRUE(store().db().sessions.front().closed);
}

TEST(MainWindowFatal, ShowsOnlyTheFailureAndTheDataFolderAndReachesNothingElse) {
    TemporaryDirectory directory;
    TestPlatformServices firstPlatform;
    AppStore first(directory.path(), Clock::fixed(friday), firstPlatform);
    first.start();
    ASSERT_FALSE(first.fatal());

    // A second instance on the same data.
    TestPlatformServices platform;
    AppStore second(directory.path(), Clock::fixed(friday), platform);
    second.start();
    ASSERT_TRUE(second.fatal());
    MainWindow window(second);
    window.show();

    EXPECT_NE(window.findChild<velmora::FatalView*>(), nullptr);
    EXPECT_EQ(window.findChild<velmora::Sidebar*>(), nullptr) << "no section is reachable";
    EXPECT_EQ(window.findChild<QStackedWidget*>(QStringLiteral("detail")), nullptr);

    auto* title = window.findChild<QLabel*>(QStringLiteral("fatalTitle"));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), "No se puede abrir Velmora");
    auto* text = window.findChild<QLabel*>(QStringLiteral("fatalText"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text(), *second.fatal());
    EXPECT_TRUE(text->text().contains(QString::fromStdString(directory.path().string())));
    EXPECT_TRUE(text->textInteractionFlags() & Qt::TextSelectableByMouse);
    auto* advice = window.findChild<QLabel*>(QStringLiteral("fatalAdvice"));
    ASSERT_NE(advice, nullptr);
    EXPECT_EQ(advice->text(), "Cierra otras instancias. Si el archivo está dañado, conserva la carpeta y "
                              "recupera una copia válida; consulta la guía.");

    auto* open = window.findChild<QPushButton*>(QStringLiteral("openDataFolder"));
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->text(), "Abrir carpeta de datos");
    open->click();
    ASSERT_EQ(platform.opened().size(), 1u);
    EXPECT_EQ(platform.opened()[0], directory.path());

    const char* shots = std::getenv("VELMORA_SCREENSHOT_DIR");
    window.grab().save(
        QString::fromStdString((fs::path(shots && *shots ? shots : ".") / "Velmora-sin-datos.png").string()));

    // No alert either.
    second.setMessage(QStringLiteral("Aviso"));
    settle();
    EXPECT_TRUE(platform.alerts().empty());
}

TEST(SharedComponents, ShowThePictureWhenTheBytesDecodeAndASymbolOtherwise) {
    velmora::ProductThumbnail thumbnail(64);
    EXPECT_EQ(thumbnail.size(), QSize(64, 64));
    EXPECT_FALSE(thumbnail.hasImage());
    EXPECT_EQ(thumbnail.accessibleName(), "Sin imagen");
    thumbnail.setData(pngBytes(300, 200));
    EXPECT_TRUE(thumbnail.hasImage());
    EXPECT_EQ(thumbnail.accessibleName(), "Imagen del producto");
    thumbnail.setData(pizzacore::Bytes{'n', 'o', ' ', 'e', 's'});
    EXPECT_FALSE(thumbnail.hasImage());
    EXPECT_EQ(thumbnail.accessibleName(), "Sin imagen");
    thumbnail.setData(pizzacore::Bytes{});
    EXPECT_FALSE(thumbnail.hasImage());
    EXPECT_FALSE(thumbnail.grab().isNull()) << "painting the placeholder must not fail";

    velmora::PageHeader header(QStringLiteral("Clientes"), QStringLiteral("Teléfonos, direcciones"));
    EXPECT_EQ(header.title(), "Clientes");
    EXPECT_EQ(header.subtitle(), "Teléfonos, direcciones");

    velmora::EmptyMessage empty(QStringLiteral("Selecciona un pedido"),
                                QStringLiteral("Consulta el detalle."),
                                QStringLiteral("list.bullet.rectangle"));
    auto* icon = empty.findChild<QLabel*>(QStringLiteral("emptyIcon"));
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull());
    auto* title = empty.findChild<QLabel*>(QStringLiteral("emptyTitle"));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), "Selecciona un pedido");

    for (const char* symbol :
         {"cart.fill", "list.bullet.rectangle", "person.2.fill", "square.grid.2x2.fill", "chart.bar.fill",
          "doc.text.fill", "photo", "externaldrive.badge.exclamationmark"})
        EXPECT_FALSE(velmora::symbolIcon(QString::fromLatin1(symbol)).pixmap(24, 24).isNull()) << symbol;
}

TEST(NoDisplay, IsReportedOnlyWhenNeitherADisplayNorAQtPlatformIsGiven) {
    const auto lookup = [](std::map<std::string, std::string> variables) {
        return [variables](const char* name) -> std::optional<std::string> {
            const auto found = variables.find(name);
            if (found == variables.end()) return std::nullopt;
            return found->second;
        };
    };
    const std::vector<std::string> plain{"Velmora"};

    const std::optional<QString> message = velmora::noDisplayMessage(lookup({}), plain);
    ASSERT_TRUE(message);
    EXPECT_TRUE(message->contains("DISPLAY"));
    EXPECT_TRUE(velmora::noDisplayMessage(lookup({{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}), plain))
        << "empty variables name no display";

    EXPECT_FALSE(velmora::noDisplayMessage(lookup({{"DISPLAY", ":0"}}), plain));
    EXPECT_FALSE(velmora::noDisplayMessage(lookup({{"WAYLAND_DISPLAY", "wayland-0"}}), plain));
    EXPECT_FALSE(velmora::noDisplayMessage(lookup({{"QT_QPA_PLATFORM", "offscreen"}}), plain));
    EXPECT_FALSE(velmora::noDisplayMessage(lookup({}), {"Velmora", "-platform", "offscreen"}));
    EXPECT_FALSE(velmora::noDisplayMessage(lookup({}), {"Velmora", "-platform=vnc"}));
}

TEST(QtTexts, AreSpanish) {
    QTranslator* translator = velmora::installQtSpanishTranslations(*qApp);
    ASSERT_NE(translator, nullptr) << "Qt's Spanish translations are not installed";
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancelar");
    QCoreApplication::removeTranslator(translator);
    delete translator;
}

TEST(Guide, IsFoundNextToTheProgramOrInItsInstalledDataFolder) {
    TemporaryDirectory root;
    const fs::path bin = root.path() / "bin";
    fs::create_directories(bin);
    EXPECT_FALSE(velmora::findGuide(bin));

    const fs::path installed = root.path() / "share" / "velmora" / "Guia-Velmora.html";
    fs::create_directories(installed.parent_path());
    writeFile(installed, "<html></html>");
    EXPECT_EQ(velmora::findGuide(bin), installed);

    writeFile(bin / "Guia-Velmora.html", "<html></html>");
    EXPECT_EQ(velmora::findGuide(bin), bin / "Guia-Velmora.html");
}

class VelmoraAppTest : public ::testing::Test {
protected:
    TemporaryDirectory directory_;
    TestPlatformServices platform_;
};

TEST_F(VelmoraAppTest, OffersTheGuideAndSettingsAndNoSecondWindow) {
    velmora::VelmoraApp app(platform_, directory_.path(), Clock::fixed(friday));
    ASSERT_FALSE(app.store().fatal());
    EXPECT_EQ(app.window().windowTitle(), "Velmora");

    QStringList texts;
    for (QAction* action : app.window().menuBar()->findChildren<QAction*>())
        texts << action->text();
    EXPECT_TRUE(texts.contains("Guía de Velmora"));
    EXPECT_TRUE(texts.contains("Ajustes…"));
    for (const QString& text : texts)
        EXPECT_FALSE(text.contains("Nueva") || text.contains("Nuevo")) << text.toStdString();

    // The guide ships next to the test program, as next to Velmora in the build tree.
    auto* guide = app.window().findChild<QAction*>(QStringLiteral("guideAction"));
    ASSERT_NE(guide, nullptr);
    guide->trigger();
    ASSERT_EQ(platform_.opened().size(), 1u);
    EXPECT_EQ(platform_.opened()[0].filename(), "Guia-Velmora.html");
    EXPECT_TRUE(fs::is_regular_file(platform_.opened()[0]));

    // "Ajustes…" in the sidebar opens the one settings window.
    auto* access = app.window().findChild<velmora::SettingsAccess*>();
    ASSERT_NE(access, nullptr);
    access->click();
    EXPECT_TRUE(app.settingsWindow().isVisible());
    app.settingsWindow().close();
    auto* settings = app.window().findChild<QAction*>(QStringLiteral("settingsAction"));
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Comma)));
    settings->trigger();
    EXPECT_TRUE(app.settingsWindow().isVisible());
    app.settingsWindow().close();
}

TEST_F(VelmoraAppTest, ClosingTheMainWindowQuitsEvenWithTheSettingsWindowOpen) {
    velmora::VelmoraApp app(platform_, directory_.path(), Clock::fixed(friday));
    app.show();
    app.openSettings();
    ASSERT_TRUE(app.settingsWindow().isVisible());

    QTimer::singleShot(0, &app.window(), &QWidget::close);
    // Should closing not quit, this ends the loop with another code instead of hanging.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    guard.start(10'000);
    EXPECT_EQ(QApplication::exec(), 0);
}

TEST_F(VelmoraAppTest, WithDataThatCannotBeOpenedTheSettingsStayClosed) {
    TestPlatformServices otherPlatform;
    AppStore holder(directory_.path(), Clock::fixed(friday), otherPlatform);
    holder.start();

    velmora::VelmoraApp app(platform_, directory_.path(), Clock::fixed(friday));
    ASSERT_TRUE(app.store().fatal());
    EXPECT_NE(app.window().findChild<velmora::FatalView*>(), nullptr);
    auto* settings = app.window().findChild<QAction*>(QStringLiteral("settingsAction"));
    ASSERT_NE(settings, nullptr);
    EXPECT_FALSE(settings->isEnabled());
    app.openSettings();
    EXPECT_FALSE(app.settingsWindow().isVisible());
}

// Handles events until `done` holds, for at most ten seconds.
bool spinUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 10'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST_F(VelmoraAppTest, OpeningInTheBackgroundShowsTheWindowFirstAndTheSectionsOnceRead) {
    {
        AppStore earlier(directory_.path(), Clock::fixed(friday), platform_);
        earlier.start();
        ASSERT_TRUE(earlier.transact([](pizzacore::Database& db) { db.settings.business = "Pizzería Sol"; }));
    }
    velmora::VelmoraApp app(platform_, directory_.path(), Clock::fixed(friday),
                            velmora::VelmoraApp::Opening::inBackground);
    // The constructor did not wait for the document: the window says it is opening, and nothing
    // that could change the data is reachable yet.
    EXPECT_TRUE(app.store().opening());
    auto* opening = app.window().findChild<QWidget*>(QStringLiteral("OpeningView"));
    ASSERT_NE(opening, nullptr);
    auto* text = opening->findChild<QLabel*>(QStringLiteral("openingText"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text(), "Abriendo los datos…");
    EXPECT_EQ(app.window().findChild<velmora::SettingsAccess*>(), nullptr);
    auto* settings = app.window().findChild<QAction*>(QStringLiteral("settingsAction"));
    ASSERT_NE(settings, nullptr);
    EXPECT_FALSE(settings->isEnabled());
    app.openSettings();
    EXPECT_FALSE(app.settingsWindow().isVisible());

    ASSERT_TRUE(spinUntil([&] { return !app.store().opening(); }));
    // The window deletes the screen it replaced from the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(app.store().fatal());
    EXPECT_EQ(app.store().db().settings.business, "Pizzería Sol");
    EXPECT_EQ(app.window().findChild<QWidget*>(QStringLiteral("OpeningView")), nullptr);
    EXPECT_NE(app.window().findChild<velmora::SettingsAccess*>(), nullptr);
    EXPECT_TRUE(settings->isEnabled());
    // The session due at the clock's time was opened once the document was read.
    EXPECT_FALSE(app.store().db().sessions.empty());
}

TEST_F(VelmoraAppTest, DataThatCannotBeOpenedInTheBackgroundEndsOnTheFatalScreen) {
    TestPlatformServices otherPlatform;
    AppStore holder(directory_.path(), Clock::fixed(friday), otherPlatform);
    holder.start();

    velmora::VelmoraApp app(platform_, directory_.path(), Clock::fixed(friday),
                            velmora::VelmoraApp::Opening::inBackground);
    ASSERT_TRUE(spinUntil([&] { return !app.store().opening(); }));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(app.store().fatal());
    EXPECT_NE(app.window().findChild<velmora::FatalView*>(), nullptr);
    EXPECT_EQ(app.window().findChild<QWidget*>(QStringLiteral("OpeningView")), nullptr);
    auto* settings = app.window().findChild<QAction*>(QStringLiteral("settingsAction"));
    ASSERT_NE(settings, nullptr);
    EXPECT_FALSE(settings->isEnabled());
}

} // namespace
