#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Bytes.hpp>
#endif

#include <cstdint>
#include <filesystem>
#include <optional>

class QWidget;

namespace velmora {

class PlatformServices;

// The product editor's photo import: the operator picks a PNG or JPEG file, which comes back as a
// PNG whose longer side is at most 512 pixels, upright, made from the full picture. Failures are
// PCErrors with the message the editor shows, or the file system's own error.
namespace ProductImages {

// The largest photo file accepted, and the largest PNG kept.
inline constexpr std::uintmax_t maximumBytes = 2'000'000;
// The longer side of a reduced photo.
inline constexpr int longerSide = 512;
// Decoded pixels allowed for one photo: a file of 2 MB can describe a picture far larger than
// memory (a 20000 × 20000 PNG of one colour), so pictures beyond this are refused before decoding.
inline constexpr std::int64_t maximumPixels = std::int64_t{64} * 1024 * 1024;

// Opens the panel "Imagen del producto" for one PNG or JPEG file and reduces the chosen file;
// nothing when the operator cancels. The panel belongs to the window of `parent`.
std::optional<pizzacore::Bytes> choose(PlatformServices& platform, QWidget* parent = nullptr);

// The reduced PNG of the picture in the file at `path`.
pizzacore::Bytes reduce(const std::filesystem::path& path);

} // namespace ProductImages
} // namespace velmora
