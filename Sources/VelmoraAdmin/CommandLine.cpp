#include "CommandLine.hpp"

#include "BusinessDays.hpp"
#include "TextOutput.hpp"

#include <CLI/CLI.hpp>
#include <PizzaCore/Calls/CallerNumber.hpp>
#include <Velmora/Version.hpp>

#include <algorithm>
#include <string_view>
#include <vector>

namespace velmora::admin {

namespace {

constexpr std::string_view programName = "velmora-admin";

constexpr std::string_view description =
    "Comprobaciones e informes de los datos de Velmora desde la línea de órdenes.\n"
    "Lee los datos sin tomar el bloqueo de Velmora y sin escribir nada en la carpeta de datos,\n"
    "así que puede usarse con Velmora abierto. «llamada» avisa a Velmora de una llamada entrante.";

constexpr std::string_view footer =
    "RUTA y --datos: una carpeta de datos (se lee su Velmora.json) o un archivo de copia\n"
    "(.velmorabackup, Velmora.previous.json). Sin ellas, la carpeta que usa Velmora:\n"
    "$VELMORA_DATA_DIR o, si no está definida, ~/.local/share/Velmora.\n"
    "DIA: una jornada comercial como 2026-03-09, «hoy» o «ayer». La jornada va de un cierre\n"
    "al siguiente (04:00 salvo otro ajuste), así que lo vendido de madrugada es de la anterior.\n"
    "Estado de salida: 0 correcto, 1 rechazado (datos dañados, ausentes o ilegibles,\n"
    "pedido inexistente, salida imposible de escribir, Velmora no abierto para «llamada»),\n"
    "2 uso incorrecto.";

constexpr std::string_view formatsFooter =
    "Formatos: el texto es para leer (importes como 12,50 EUR, horas de la zona de la jornada).\n"
    "--csv sigue RFC 4180: UTF-8 sin BOM, comas, comillas dobles cuando hacen falta, fin de\n"
    "línea CRLF, cabecera en la primera fila; importes con punto decimal y sin moneda (12.50);\n"
    "horas ISO 8601 con la diferencia horaria de la zona (2026-03-09T21:15:03+01:00); los\n"
    "textos escritos por personas que empiezan por =, +, - o @ llevan delante un apóstrofo\n"
    "para que la hoja de cálculo no los tome por fórmulas.";

constexpr std::string_view jsonFooter =
    "\n--json da un objeto JSON en UTF-8 con importes en céntimos enteros (1250 son 12,50)\n"
    "y horas ISO 8601 como en CSV.";

// Spanish labels for everything CLI11 writes into the help.
void spanishLabels(CLI::App& app) {
    auto formatter = std::make_shared<CLI::Formatter>();
    formatter->label("Usage", "Uso");
    formatter->label("OPTIONS", "OPCIONES");
    formatter->label("SUBCOMMAND", "ORDEN");
    formatter->label("SUBCOMMANDS", "ÓRDENES");
    formatter->label("Positionals", "Argumentos");
    formatter->label("REQUIRED", "(obligatorio)");
    formatter->label("TEXT", "TEXTO");
    formatter->column_width(28);
    app.formatter(formatter);
}

CLI::App* command(CLI::App& app, const std::string& name, const std::string& summary) {
    CLI::App* sub = app.add_subcommand(name, summary);
    sub->group("Órdenes");
    // The help flag a subcommand inherits is made before the option defaults reach it.
    sub->set_help_flag("-h,--help", "Muestra esta ayuda y termina");
    return sub;
}

void addDataOption(CLI::App* sub, std::optional<std::filesystem::path>& data) {
    sub->add_option_function<std::string>(
           "--datos", [&data](const std::string& value) { data = std::filesystem::path(value); },
           "Carpeta de datos o copia de seguridad que leer (por defecto, la de Velmora)")
        ->type_name("RUTA");
}

// The option or argument named at the start of a CLI11 message ("--desde: 1 required ...").
std::string namedIn(const std::string& message) {
    const std::size_t end = message.find_first_of(": ");
    return message.substr(0, end);
}

// How many times the option is written on the command line, as "--datos RUTA" or "--datos=RUTA".
std::size_t occurrences(const std::string& option, int argc, const char* const* argv) {
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == option || (argument.starts_with(option) && argument.size() > option.size() &&
                                   argument[option.size()] == '='))
            ++count;
    }
    return count;
}

// CLI11 words its errors in English; the user reads Spanish. It reports an option given twice
// and an option without its value alike (a count of values that does not fit), so the command
// line itself tells them apart.
std::string spanishMessage(const CLI::ParseError& error, int argc, const char* const* argv) {
    const std::string name = error.get_name();
    const std::string what = error.what();
    if (name == "ArgumentMismatch") {
        const std::string option = namedIn(what);
        if (option.starts_with('-') && occurrences(option, argc, argv) > 1)
            return "Se ha escrito " + option + " más de una vez: indícalo una sola vez.";
        return "Falta el valor de " + option + ".";
    }
    if (name == "ConversionError") return namedIn(what) + " no admite ese valor.";
    return "Argumentos no válidos.";
}

void checkDay(const std::optional<std::string>& day, const std::string& what) {
    if (day && !isDaySpec(*day))
        throw CLI::ValidationError(what, "«" + *day + "» no es una jornada: escribe AAAA-MM-DD, hoy o ayer.");
}

class MisuseText : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An empty path would be read as the current folder or fail with a puzzling message; it is
// almost always a variable of a script that was not set.
void checkPath(const std::optional<std::filesystem::path>& path, std::string_view emptyText) {
    if (path && path->empty())
        throw MisuseText(std::string(emptyText) +
                         ": escribe la ruta de una carpeta de datos o de un archivo de copia.");
}

// A positive order number in decimal digits, as written on the screens ("27" or "#27").
std::int64_t orderNumber(const std::string& given) {
    const std::string text = given.starts_with('#') ? given.substr(1) : given;
    std::int64_t number = 0;
    const bool digits = !text.empty() && text.size() <= 18 &&
                        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits)
        for (const char c : text)
            number = number * 10 + (c - '0');
    if (!digits || number == 0) throw MisuseText("«" + given + "» no es un número de pedido.");
    return number;
}

} // namespace

Parsed parseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{std::string(description), std::string(programName)};
    spanishLabels(app);
    app.option_defaults()->group("Opciones");
    app.set_help_flag("-h,--help", "Muestra esta ayuda y termina");
    app.set_version_flag("--version", std::string(programName) + " " + velmora::versionText,
                         "Muestra la versión y termina");
    app.footer(std::string(footer));
    // Unknown commands and stray arguments are collected and refused below, in Spanish.
    app.allow_extras();

    VerifyRequest verify;
    CLI::App* verifySub =
        command(app, "verificar", "Comprueba una carpeta de datos o una copia y dice lo que contiene");
    verifySub
        ->add_option_function<std::string>(
            "RUTA", [&verify](const std::string& value) { verify.path = std::filesystem::path(value); },
            "Carpeta de datos o archivo de copia (por defecto, la carpeta de Velmora)")
        ->type_name("");
    verifySub->footer("Comprueba el sobre, la huella SHA-256, las versiones y las reglas de integridad,\n"
                      "como al abrir Velmora, y muestra pedidos, clientes, tramos, primera y última\n"
                      "jornada y tamaño del archivo, o el motivo exacto del rechazo. No escribe nada.");

    ReportRequest report;
    bool reportCsv = false, reportJson = false;
    CLI::App* reportSub =
        command(app, "informe", "Tramos de caja de una jornada: ventas, cobros, pendiente, anulados");
    reportSub
        ->add_option_function<std::string>(
            "DIA", [&report](const std::string& value) { report.day = value; },
            "Jornada comercial (por defecto, hoy)")
        ->type_name("");
    addDataOption(reportSub, report.data);
    reportSub->add_flag("--csv", reportCsv, "Salida CSV para una hoja de cálculo");
    reportSub->add_flag("--json", reportJson, "Salida JSON para otro programa");
    bool reportPdfGiven = false;
    reportSub
        ->add_option_function<std::string>(
            "--pdf",
            [&report, &reportPdfGiven](const std::string& value) {
                report.pdf = std::filesystem::path(value);
                reportPdfGiven = true;
            },
            "Guarda el informe de cierre en PDF, como lo imprime Velmora; «-» para la salida estándar")
        ->type_name("FICHERO.pdf");
    reportSub->footer(
        std::string(formatsFooter) + std::string(jsonFooter) +
        "\nEn CSV cada fila lleva su tipo: «tramo», «jornada» (los totales) o «anulado».\n"
        "--pdf escribe el informe de cierre de la jornada en el papel configurado, con las mismas\n"
        "cifras, las ventas por categoría y por modo y la hora de la zona de la jornada. Un archivo\n"
        "con ese nombre se sustituye solo por un PDF completo, que solo puede leer su dueño; nunca\n"
        "se escribe dentro de una carpeta de datos ni sobre la copia que se lee.");

    OrdersRequest orders;
    bool ordersCsv = false;
    CLI::App* ordersSub =
        command(app, "pedidos", "Un pedido por fila entre dos jornadas, para la contabilidad");
    ordersSub
        ->add_option_function<std::string>(
            "--desde", [&orders](const std::string& value) { orders.from = value; },
            "Primera jornada (por defecto, hoy)")
        ->type_name("DIA");
    ordersSub
        ->add_option_function<std::string>(
            "--hasta", [&orders](const std::string& value) { orders.to = value; },
            "Última jornada, incluida (por defecto, la de --desde)")
        ->type_name("DIA");
    addDataOption(ordersSub, orders.data);
    ordersSub->add_flag("--csv", ordersCsv, "Salida CSV (RFC 4180) en lugar de texto");
    ordersSub->footer(std::string(formatsFooter) +
                      "\nEn texto, cada pedido lleva la fecha y hora en que se hizo y después su jornada.\n"
                      "Columnas: numero, jornada, creado, cliente, modo, lineas, total, forma_pago,\n"
                      "cobrado, preparacion, motivo_anulacion. La jornada de un pedido es la de su\n"
                      "tramo de caja; lineas dice «2 × Margarita; 1 × Agua»; sin cobro, forma_pago y\n"
                      "cobrado quedan vacíos.");

    TicketRequest ticket;
    std::string ticketNumber;
    bool outputGiven = false;
    CLI::App* ticketSub =
        command(app, "ticket", "Guarda en PDF los tickets de un pedido con los ajustes actuales");
    ticketSub->add_option("NUMERO", ticketNumber, "Número del pedido")->type_name("");
    ticketSub
        ->add_option_function<std::string>(
            "--salida",
            [&ticket, &outputGiven](const std::string& value) {
                ticket.output = value;
                outputGiven = true;
            },
            "Archivo PDF que escribir; «-» para la salida estándar")
        ->type_name("FICHERO.pdf");
    addDataOption(ticketSub, ticket.data);
    ticketSub->footer(
        "Un ticket por destinatario activo en Ajustes (cocina, barra, cliente), en el papel\n"
        "configurado y con la hora de la zona de la jornada; un pedido ya impreso lleva la\n"
        "marca de copia. Un archivo con ese nombre se sustituye solo por un PDF completo, que\n"
        "solo puede leer su dueño; nunca se escribe dentro de una carpeta de datos ni sobre la\n"
        "copia que se lee. No cuenta como impresión ni cambia los datos.");

    CallRequest call;
    CLI::App* callSub =
        command(app, "llamada", "Avisa a Velmora de una llamada entrante: abre la Caja con ese número");
    callSub->add_option("NUMERO", call.number, "Número de quien llama, como 612345678 o +34 612 345 678")
        ->type_name("");
    callSub->footer(
        "Para la centralita o el teléfono de software: ejecuta esta orden al entrar una llamada.\n"
        "Velmora, abierto en este mismo ordenador y con el mismo usuario, muestra la Caja y busca\n"
        "la ficha del número; si hay un pedido a medias, muestra «Llamada de … · Atender» sin\n"
        "tocarlo. El aviso va por un socket local en $XDG_RUNTIME_DIR (o /tmp/velmora-UID, solo\n"
        "de su dueño); Velmora rechaza los avisos de otros usuarios. No lee ni escribe los datos.\n"
        "Estado de salida: 0 avisado, 1 Velmora no está abierto o no ha tomado el aviso,\n"
        "2 el número no es un teléfono (de 7 a 15 cifras).");

    try {
        app.parse(argc, argv);
        std::vector<std::string> extras = app.remaining(true);
        if (!extras.empty()) {
            const bool asCommand = app.get_subcommands().empty() && !extras.front().starts_with('-');
            throw MisuseText(asCommand ? "Orden desconocida: " + extras.front() + "."
                                       : "Argumento no esperado: " + extras.front() + ".");
        }
        if (verifySub->parsed()) {
            checkPath(verify.path, "La RUTA está vacía");
            return Request{verify};
        }
        if (reportSub->parsed()) {
            checkPath(report.data, "--datos está vacío");
            checkDay(report.day, "DIA");
            if (reportCsv && reportJson) throw MisuseText("Elige solo uno de --csv y --json.");
            if (reportPdfGiven && (reportCsv || reportJson))
                throw MisuseText("--pdf no se combina con --csv ni con --json.");
            if (reportPdfGiven && report.pdf->empty())
                throw MisuseText(
                    "--pdf está vacío: escribe el nombre del archivo PDF, o «-» para la salida estándar.");
            report.format = reportCsv ? Format::csv : reportJson ? Format::json : Format::text;
            return Request{report};
        }
        if (ordersSub->parsed()) {
            checkPath(orders.data, "--datos está vacío");
            checkDay(orders.from, "--desde");
            checkDay(orders.to, "--hasta");
            if (!orders.to) orders.to = orders.from;
            orders.format = ordersCsv ? Format::csv : Format::text;
            return Request{orders};
        }
        if (ticketSub->parsed()) {
            checkPath(ticket.data, "--datos está vacío");
            if (ticketNumber.empty()) throw MisuseText("Falta el número del pedido.");
            ticket.number = orderNumber(ticketNumber);
            if (!outputGiven) throw MisuseText("Falta --salida FICHERO.pdf.");
            if (ticket.output.empty())
                throw MisuseText("--salida está vacío: escribe el nombre del archivo PDF, o «-» para la "
                                 "salida estándar.");
            return Request{ticket};
        }
        if (callSub->parsed()) {
            if (callSub->count("NUMERO") == 0) throw MisuseText("Falta el número de quien llama.");
            if (!pizzacore::callerNumberKey(call.number))
                throw MisuseText(
                    "«" + call.number +
                    "» no es un número de teléfono: escribe de 7 a 15 cifras, como 612 345 678.");
            return Request{call};
        }
        err << app.help();
        return 2;
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help, out, err);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version, out, err);
    } catch (const CLI::ValidationError& error) {
        // Raised by checkDay with the Spanish text after the name.
        const std::string what = error.what();
        const std::size_t colon = what.find(": ");
        err << programName << ": " << printable(colon == std::string::npos ? what : what.substr(colon + 2))
            << '\n';
    } catch (const CLI::ParseError& error) {
        err << programName << ": " << printable(spanishMessage(error, argc, argv)) << '\n';
    } catch (const MisuseText& error) {
        // The messages quote what was typed, which a script may have taken from anywhere.
        err << programName << ": " << printable(error.what()) << '\n';
    }
    err << "Usa «" << programName << " --help» para ver cómo se usa.\n";
    return 2;
}

} // namespace velmora::admin
