#pragma once

// PNG and JPEG pictures from bytes that may come from anywhere (a file the operator picked, a
// data file or backup someone else made): decoded with bounded memory and time whatever their
// headers claim, turned upright by their EXIF orientation, and reduced to the size they are shown
// or printed at. The ticket's logo, the screens' logo and product pictures, and the product
// photo import all read pictures here, so that what one accepts the others can show.

#include "ImagePixels.hpp"
#include "JpegCodec.hpp"

#include <cstdint>
#include <span>

namespace pizzacore::documents {

enum class PictureStatus {
    decoded,
    // Not a PNG or JPEG file, or one whose header cannot be read.
    unreadable,
    // A PNG or JPEG that is damaged, cut short, or larger than decoding is allowed to cost.
    refused,
};

struct Picture {
    PictureStatus status = PictureStatus::unreadable;
    bool jpeg = false;
    // The upright size of the whole stored picture.
    int width = 0;
    int height = 0;
    // Upright pixels fitted into the box asked for.
    Pixels pixels;
    // Whether `pixels` are the stored picture exactly as decoded: full size, already upright.
    bool untouched = false;
    // What a JPEG's header says, for embedding the file as it is.
    JpegHeader jpegHeader;
};

// The picture in `bytes`, upright, fitted into `boxWidth` × `boxHeight` pixels keeping its
// proportions and never enlarged. At most `maximumPixels` stored pixels are decoded; a JPEG is
// decoded at the smallest scale that still fills the box. Safe to call from any thread.
Picture decodePicture(std::span<const std::uint8_t> bytes, int boxWidth, int boxHeight);

} // namespace pizzacore::documents
