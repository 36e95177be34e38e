#include <Velmora/Services/ProductImages.hpp>

#include <Velmora/Platform/ChosenFile.hpp>
#include <Velmora/Platform/Pictures.hpp>
#include <Velmora/Platform/PlatformServices.hpp>

#include <PizzaCore/Documents/Picture.hpp>
#include <PizzaCore/Foundation/PCError.hpp>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

#include <span>

namespace velmora::ProductImages {

namespace {

using pizzacore::PCError;
namespace documents = pizzacore::documents;

// The picture upright, its longer side at most 512 pixels, made from the whole stored picture (a
// JPEG is reduced while it is decoded, never through an embedded preview).
QImage reduced(std::span<const std::uint8_t> bytes) {
    const documents::Picture picture = documents::decodePicture(bytes, longerSide, longerSide);
    switch (picture.status) {
    case documents::PictureStatus::decoded:
        break;
    case documents::PictureStatus::unreadable:
        throw PCError::invalid("No se pudo abrir la imagen.");
    case documents::PictureStatus::refused:
        throw PCError::invalid("No se pudo preparar la imagen.");
    }
    QImage image = toImage(picture.pixels);
    if (image.isNull()) throw PCError::invalid("No se pudo preparar la imagen.");
    return image;
}

pizzacore::Bytes encodePNG(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.canWrite()) throw PCError::invalid("No se pudo guardar la imagen.");
    if (!writer.write(image) || png.isEmpty() || static_cast<std::uintmax_t>(png.size()) > maximumBytes)
        throw PCError::invalid("No se pudo optimizar la imagen.");
    return pizzacore::Bytes(png.begin(), png.end());
}

} // namespace

pizzacore::Bytes reduce(const std::filesystem::path& path) {
    // One descriptor from the size check to the last byte read: a file swapped for a FIFO after
    // its size was asked would otherwise hang the read.
    ChosenFile file(path);
    // A FIFO, device or socket holds no picture; a folder gives the system's own error when read.
    if (!file.isRegular() && !file.isFolder()) throw PCError::invalid("No se pudo abrir la imagen.");
    // A file known to be too large is not read at all.
    if (file.size() > maximumBytes) throw PCError::invalid("Elige una imagen de hasta 2 MB.");
    file.readUpTo(maximumBytes + 1);
    const std::string& bytes = file.bytes();
    if (bytes.size() > maximumBytes) throw PCError::invalid("Elige una imagen de hasta 2 MB.");
    return encodePNG(reduced({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}));
}

std::optional<pizzacore::Bytes> choose(PlatformServices& platform, QWidget* parent) {
    const std::optional<std::filesystem::path> path =
        platform.chooseFileToOpen(QStringLiteral("Imagen del producto"), FileKind::image, parent);
    if (!path || path->empty()) return std::nullopt;
    return awayFromWindow([chosen = *path] { return reduce(chosen); });
}

} // namespace velmora::ProductImages
