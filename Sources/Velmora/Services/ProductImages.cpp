#include <Velmora/Services/ProductImages.hpp>

#include <Velmora/Services/PlatformServices.hpp>

#include <PizzaCore/Foundation/PCError.hpp>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

namespace velmora::ProductImages {

namespace {

using pizzacore::PCError;

// Reads at most `limit` + 1 bytes, so that a file that grew after its size was asked is still
// recognised as too large without reading all of it.
QByteArray readFile(const std::filesystem::path& path, std::uintmax_t limit) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        throw std::filesystem::filesystem_error("open", path,
                                                std::error_code(errno, std::generic_category()));
    QByteArray bytes;
    bytes.resize(static_cast<qsizetype>(limit + 1));
    const std::size_t read = std::fread(bytes.data(), 1, static_cast<std::size_t>(bytes.size()), file.get());
    if (std::ferror(file.get()))
        throw std::filesystem::filesystem_error("read", path, std::error_code(EIO, std::generic_category()));
    bytes.resize(static_cast<qsizetype>(read));
    return bytes;
}

QImage decode(QByteArray& bytes) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // The orientation the camera recorded is applied, so a photo taken with the camera turned
    // comes out upright; the reader always decodes the main picture, never an embedded preview.
    reader.setAutoTransform(true);
    // Qt refuses a decoded picture above this many megabytes instead of allocating it.
    reader.setAllocationLimit(static_cast<int>(maximumPixels * 4 / (1024 * 1024)));
    if (!reader.canRead()) throw PCError::invalid("No se pudo abrir la imagen.");

    // The size in the header is checked before anything is decoded: one-bit or palette pictures
    // pass Qt's own limit and only grow to full colour when scaled.
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || std::int64_t{size.width()} * size.height() > maximumPixels)
        throw PCError::invalid("No se pudo preparar la imagen.");
    QImage image = reader.read();
    if (image.isNull()) throw PCError::invalid("No se pudo preparar la imagen.");
    return image;
}

QImage reduced(const QImage& image) {
    if (std::max(image.width(), image.height()) <= longerSide) return image;
    QSize target = image.size().scaled(longerSide, longerSide, Qt::KeepAspectRatio);
    // A very long and thin picture keeps at least one pixel across.
    target = target.expandedTo(QSize(1, 1));
    QImage scaled = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull()) throw PCError::invalid("No se pudo preparar la imagen.");
    return scaled;
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
    // The size is asked first so that a large file is refused without reading it.
    if (std::filesystem::file_size(path) > maximumBytes)
        throw PCError::invalid("Elige una imagen de hasta 2 MB.");
    QByteArray bytes = readFile(path, maximumBytes);
    if (static_cast<std::uintmax_t>(bytes.size()) > maximumBytes)
        throw PCError::invalid("Elige una imagen de hasta 2 MB.");
    return encodePNG(reduced(decode(bytes)));
}

std::optional<pizzacore::Bytes> choose(PlatformServices& platform, QWidget* parent) {
    const std::optional<std::filesystem::path> path =
        platform.chooseFileToOpen(QStringLiteral("Imagen del producto"), FileKind::image, parent);
    if (!path || path->empty()) return std::nullopt;
    return reduce(*path);
}

} // namespace velmora::ProductImages
