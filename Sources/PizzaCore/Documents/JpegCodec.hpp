#pragma once

// JPEG files through libjpeg: decoded at the smallest scale that still gives the pixels asked
// for (a 2 MB photograph decodes at 1/8 of its size in a fraction of the time), and reduced
// pixels compressed again so that a PDF can embed them as they are.
//
// The bytes may come from anywhere, so decoding is bounded by what it really costs, whatever the
// file claims: a few hundred bytes can describe a picture of 40000 × 40000 pixels, and libjpeg
// sets aside the coefficients of the whole picture for a progressive file before it reads any of
// them, whatever scale the pixels are wanted at.

#include "ImagePixels.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace pizzacore::documents {

struct JpegHeader {
    int width = 0;
    int height = 0;
    int orientation = 1;
    // Whether a PDF reader can show the file's own bytes: 8-bit, Huffman-coded (baseline or
    // progressive), greyscale or YCbCr.
    bool embeddable = false;
    // Whether the pixels were decoded at the full size.
    bool decodedWhole = false;
};

enum class JpegResult {
    decoded,
    // Not a JPEG file, or one whose header cannot be read.
    unreadable,
    // A JPEG that is damaged, cut short, or would cost more than the limits below.
    refused,
};

// Decodes at 1/1, 1/2, 1/4 or 1/8 of the stored size, the smallest that still gives the pixels of
// an upright picture fitted into `boxWidth` × `boxHeight`, into RGB24 pixels (CMYK files are
// converted). Reads the EXIF orientation without applying it. A file that ends before its picture
// does, or whose data stops at a marker, is refused rather than shown with a grey remainder.
JpegResult decodeJpeg(std::span<const std::uint8_t> bytes, int boxWidth, int boxHeight, Pixels& pixels,
                      JpegHeader& header);

// The opaque pixels compressed as a JPEG of quality 90, for embedding in PDFs.
bool encodeJpeg(Pixels& pixels, std::vector<std::uint8_t>& out);

// Pictures whose header claims more pixels than this are refused before any memory is set
// aside for them.
inline constexpr std::uint64_t maximumPixels = 25'000'000;
// The most the coefficients of a progressive (or otherwise multi-scan) file may take: libjpeg
// holds all of them at once. Enough for a 25-megapixel photograph with the usual colour
// subsampling.
inline constexpr std::uint64_t maximumCoefficientBytes = 96ull * 1024 * 1024;
// Every scan of a progressive file passes over the whole picture again; real files have about
// ten, a crafted one can have thousands.
inline constexpr int maximumScans = 500;

} // namespace pizzacore::documents
