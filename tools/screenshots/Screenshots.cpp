// Pictures of Velmora on Qt's offscreen platform, with no display:
//
//   VelmoraScreenshots --screen caja|pedidos|clientes|productos|jornadas|facturas|ticket
//                      [--size ANCHOxALTO] [--data CARPETA | --busy-year] --out ARCHIVO.png
//
// A screen is the main window at the given size (1366x768 unless told) showing that section.
// "caja" shows an order being taken: a caller's card found by telephone and a few lines in the
// draft. "ticket" is the customer ticket of a paid order on 80 mm paper, as the printer gets it.
// The data is a generated restaurant's, or a copy of CARPETA: the folder given is never opened
// itself, so neither its lock nor its files are touched.

#include <Velmora/App/VelmoraApp.hpp>
#include <Velmora/Platform/PlatformServices.hpp>

#include <PizzaCore/Documents/TicketRenderer.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <support/SyntheticDocument.hpp>

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QPixmap>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* const usage =
    "Uso: VelmoraScreenshots --screen caja|pedidos|clientes|productos|jornadas|facturas|ticket\n"
    "                        [--size ANCHOxALTO] [--data CARPETA | --busy-year] --out ARCHIVO.png\n";

// The sections by the names given on the command line.
const std::map<std::string, QString> sectionTitles = {
    {"caja", QStringLiteral("Caja")},         {"pedidos", QStringLiteral("Pedidos")},
    {"clientes", QStringLiteral("Clientes")}, {"productos", QStringLiteral("Productos")},
    {"jornadas", QStringLiteral("Jornadas")}, {"facturas", QStringLiteral("Facturación")},
};

struct Options {
    std::string screen;
    int width = 1366;
    int height = 768;
    std::optional<fs::path> data;
    // A year of a busy restaurant (50,000 orders) instead of a small one's few days.
    bool busyYear = false;
    fs::path out;
};

std::optional<Options> parse(int argc, char* argv[]) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--busy-year") {
            options.busyYear = true;
            continue;
        }
        if (i + 1 >= argc) return std::nullopt;
        const std::string value = argv[++i];
        if (option == "--screen") {
            options.screen = value;
        } else if (option == "--size") {
            char separator = 0;
            int consumed = 0;
            if (std::sscanf(value.c_str(), "%d%c%d%n", &options.width, &separator, &options.height,
                            &consumed) != 3 ||
                separator != 'x' || consumed != static_cast<int>(value.size()) || options.width < 320 ||
                options.height < 240 || options.width > 7680 || options.height > 4320)
                return std::nullopt;
        } else if (option == "--data") {
            options.data = fs::path(value);
        } else if (option == "--out") {
            options.out = value;
        } else {
            return std::nullopt;
        }
    }
    if (options.out.empty() || (options.screen != "ticket" && !sectionTitles.contains(options.screen)))
        return std::nullopt;
    return options;
}

// Every panel is cancelled and every question left unanswered: a picture never waits for anyone.
class NoPanels : public velmora::PlatformServices {
public:
    std::optional<fs::path> chooseSaveLocation(const QString&, const QString&, velmora::FileKind,
                                               QWidget*) override {
        return std::nullopt;
    }
    std::optional<fs::path> chooseFileToOpen(const QString&, velmora::FileKind, QWidget*) override {
        return std::nullopt;
    }
    std::optional<int> confirm(const velmora::Confirmation&, QWidget*) override { return std::nullopt; }
    std::optional<velmora::PrintChoice> choosePrinter(const velmora::PrintRequest&, QWidget*) override {
        return std::nullopt;
    }
    bool openWithDefaultApplication(const fs::path&) override { return false; }
};

// A small restaurant's few days (or a busy one's year), the last one still open, written as a data
// folder.
pizzacore::Database generatedRestaurant(const fs::path& folder, bool busyYear) {
    pizzacore::testing::DocumentShape shape =
        busyYear ? pizzacore::testing::DocumentShape::busyYear() : pizzacore::testing::DocumentShape::small();
    shape.awkwardText = false;
    pizzacore::Database db = pizzacore::testing::makeDocument(shape, 2026);
    db.settings.business = "Pizzería La Vela";
    db.draft = pizzacore::Draft{};
    pizzacore::Repository(folder, false).save(db);
    return db;
}

// A moment inside the generated document's open shift, shortly after its last order, so that the
// screens show a till in use and nothing closes on its own.
pizzacore::Instant momentOfService(const pizzacore::Database& db) {
    pizzacore::Instant latest{};
    for (const pizzacore::Order& order : db.orders)
        latest.seconds = std::max(latest.seconds, order.created.seconds);
    for (const pizzacore::Session& session : db.sessions)
        if (!session.closed)
            latest.seconds = std::min(latest.seconds + 600, session.scheduledEnd.seconds - 60);
    return latest;
}

// Lets the window lay itself out and paint, and the opening of the data finish.
void settle(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A caller whose card is found by telephone, and three lines of two products.
void orderBeingTaken(velmora::AppStore& store) {
    const pizzacore::Database& db = store.db();
    const auto card =
        std::find_if(db.customers.begin(), db.customers.end(),
                     [](const pizzacore::Customer& c) { return !c.phone.empty() && !c.address.empty(); });
    pizzacore::Draft draft;
    draft.mode = pizzacore::Mode::delivery;
    if (card != db.customers.end()) draft.phone = card->phone;
    store.setDraft(draft);
    store.findCustomer();
    std::vector<pizzacore::Product> products;
    for (const pizzacore::Product& product : db.products)
        if (product.active && products.size() < 3) products.push_back(product);
    for (std::size_t i = 0; i < products.size(); ++i)
        for (std::size_t unit = 0; unit <= (i == 0 ? 1 : 0); ++unit)
            store.add(products[i]);
}

int screen(const Options& options, const fs::path& folder, pizzacore::Clock clock) {
    NoPanels panels;
    velmora::VelmoraApp velmora(panels, folder, std::move(clock));
    if (velmora.store().fatal()) {
        std::cerr << "No se pudieron abrir los datos: " << velmora.store().fatal()->toStdString() << '\n';
        return 1;
    }
    velmora.show();
    // The window opens maximised; the picture is of the size asked for.
    velmora.window().showNormal();
    velmora.window().resize(options.width, options.height);
    settle(300);
    if (options.screen == "caja")
        orderBeingTaken(velmora.store());
    else
        velmora.store().setSelectedTab(sectionTitles.at(options.screen));
    if (options.screen == "pedidos" && !velmora.store().db().orders.empty())
        velmora.store().setSelectedOrder(velmora.store().db().orders.back().id);
    settle(700);
    if (velmora.window().size() != QSize(options.width, options.height))
        std::cerr << "La ventana no cabe en " << options.width << "x" << options.height << ": mide "
                  << velmora.window().width() << "x" << velmora.window().height() << ".\n";
    if (!velmora.window().grab().save(QString::fromStdString(options.out.string()), "PNG")) {
        std::cerr << "No se pudo escribir " << options.out << ".\n";
        return 1;
    }
    velmora.store().flush();
    return 0;
}

// The customer ticket of the latest paid order, on 80 mm paper, drawn at 203 dots per inch like a
// thermal printer's.
int ticket(const Options& options, const fs::path& folder) {
    pizzacore::Repository repository(folder, false);
    const pizzacore::Database db = repository.load();
    std::optional<pizzacore::Order> chosen;
    for (const pizzacore::Order& order : db.orders)
        if (!order.cancellationReason && db.paymentFor(order)) chosen = order;
    if (!chosen) {
        std::cerr << "Los datos no tienen ningún pedido cobrado.\n";
        return 1;
    }
    pizzacore::Settings settings = db.settings;
    settings.paper = pizzacore::Paper::mm80;
    settings.kitchen = false;
    settings.bar = false;
    settings.customer = true;
    const pizzacore::Bytes pdf =
        pizzacore::TicketRenderer::render(*chosen, settings, db.paymentFor(*chosen), false);

    QByteArray bytes(reinterpret_cast<const char*>(pdf.data()), static_cast<qsizetype>(pdf.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QPdfDocument document;
    document.load(&buffer);
    if (document.status() != QPdfDocument::Status::Ready || document.pageCount() < 1) {
        std::cerr << "No se pudo leer el PDF del ticket.\n";
        return 1;
    }
    const QSizeF points = document.pagePointSize(0);
    const QSize pixels = (points * 203.0 / 72.0).toSize();
    QImage page = document.render(0, pixels);
    QImage picture(pixels, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter(&picture).drawImage(0, 0, page);
    if (!picture.save(QString::fromStdString(options.out.string()), "PNG")) {
        std::cerr << "No se pudo escribir " << options.out << ".\n";
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::optional<Options> options = parse(argc, argv);
    if (!options) {
        std::cerr << usage;
        return 2;
    }
    QTemporaryDir temporary;
    if (!temporary.isValid()) {
        std::cerr << "No se pudo crear una carpeta temporal.\n";
        return 1;
    }
    // The offscreen platform's screen is 800x800 unless its configuration names another size; it
    // is made larger than the window so that the window is never shrunk to fit.
    const QString screens = temporary.filePath(QStringLiteral("screens.json"));
    {
        QFile file(screens);
        if (!file.open(QIODevice::WriteOnly)) {
            std::cerr << "No se pudo crear una carpeta temporal.\n";
            return 1;
        }
        file.write(
            QStringLiteral("{\"screens\": [{\"name\": \"pantalla\", \"x\": 0, \"y\": 0, \"width\": %1, "
                           "\"height\": %2, \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}")
                .arg(options->width + 200)
                .arg(options->height + 200)
                .toUtf8());
    }
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.toUtf8());
    // The window's remembered size and the desktop's runtime files stay in the temporary folder,
    // away from the user's own.
    qputenv("XDG_CONFIG_HOME", temporary.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", temporary.path().toUtf8());
    QApplication app(argc, argv);
    velmora::prepareApplication(app);

    const fs::path folder = fs::path(temporary.path().toStdString()) / "Velmora";
    try {
        pizzacore::Clock clock = pizzacore::Clock::system();
        if (options->data) {
            fs::copy(*options->data, folder, fs::copy_options::recursive);
            fs::remove(folder / ".lock");
        } else {
            fs::create_directories(folder);
            clock = pizzacore::Clock::fixed(momentOfService(generatedRestaurant(folder, options->busyYear)));
        }
        return options->screen == "ticket" ? ticket(*options, folder) : screen(*options, folder, clock);
    } catch (const pizzacore::PCError& error) {
        std::cerr << error.message() << '\n';
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
    }
    return 1;
}
