// The settings window's own controller flows: saving the edited settings and importing the logo.

#include <Velmora/Stores/AppStore.hpp>

#include <Velmora/Platform/ChosenFile.hpp>
#include <Velmora/Platform/Pictures.hpp>
#include <Velmora/Platform/PlatformServices.hpp>

#include <PizzaCore/Documents/LogoImage.hpp>
#include <PizzaCore/Foundation/PCError.hpp>

#include <cstdint>

namespace velmora {

namespace {

// The largest logo accepted, in bytes.
constexpr std::size_t logoLimit = 2'000'000;

const char* const logoMessage = "Elige una imagen PNG o JPEG de hasta 2 MB.";

// Whether the bytes are a PNG or JPEG picture that the tickets can print: the decoder is the
// ticket renderer's own, so a logo accepted here is never left out of a ticket, and the logo is
// then already decoded for the first ticket. The file's name plays no part.
bool decodesAsPicture(const std::string& bytes) {
    return pizzacore::documents::LogoImage::from(
               {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}) != nullptr;
}

// The bytes of the logo file at `path`, or the refusal. Safe on any thread.
pizzacore::Bytes readLogo(const std::filesystem::path& path) {
    ChosenFile file(path);
    // A folder, FIFO or device is no picture; a file known to be too large is not read at all.
    if (!file.isRegular() || file.size() > logoLimit) throw pizzacore::PCError::invalid(logoMessage);
    file.readUpTo(logoLimit + 1);
    if (file.bytes().size() > logoLimit || !decodesAsPicture(file.bytes()))
        throw pizzacore::PCError::invalid(logoMessage);
    return pizzacore::Bytes(file.bytes().begin(), file.bytes().end());
}

} // namespace

bool AppStore::saveSettings(const pizzacore::Settings& settings, QWidget* window) {
    const FlowWindow flow(*this, window);
    const bool named = !QString::fromStdString(settings.business).trimmed().isEmpty();
    if (!named || settings.recipients().empty()) {
        setMessage(QStringLiteral("Indica el nombre del negocio y activa al menos un destinatario."));
        return false;
    }
    const pizzacore::Instant now = clock_.now();
    // The business name is stored exactly as typed.
    const Outcome outcome = transact([&settings, now](pizzacore::Database& db) {
        db.settings = settings;
        db.record("Guardar ajustes", "", now);
    });
    if (!outcome) setMessage(outcome.failure);
    return outcome.ok;
}

bool AppStore::importLogo(pizzacore::Settings& settings, QWidget* window) {
    const FlowWindow flow(*this, window);
    const std::optional<std::filesystem::path> path =
        platform_.chooseFileToOpen(QStringLiteral("Elegir logotipo"), FileKind::image, window);
    if (!path || path->empty()) return false;
    try {
        // Reading and decoding a large picture takes a while: it runs off the window's thread.
        settings.logo = awayFromWindow([chosen = *path] { return readLogo(chosen); });
    } catch (...) {
        setMessage(describeFailure(std::current_exception()));
        return false;
    }
    return true;
}

} // namespace velmora
