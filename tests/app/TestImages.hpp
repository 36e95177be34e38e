#pragma once

// Pictures for the photo tests, made with Qt's own encoders: PNGs and JPEGs of any size, and a
// JPEG carrying the EXIF orientation a camera writes when it was held turned.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QPainter>

#include <string>

namespace velmora::testing {

inline QByteArray encoded(const QImage& image, const char* format, int quality = -1) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return data;
}

// A picture whose left half is red and right half blue, so that a rotation shows.
inline QImage twoColours(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height, Qt::red);
    return image;
}

// `jpeg` with an APP1 EXIF segment right after its start marker, holding only the orientation
// tag (1 upright … 6 turned a quarter clockwise … 8).
inline QByteArray withOrientation(const QByteArray& jpeg, quint16 orientation) {
    // clang-format off
    const char tiff[] = {'M', 'M', 0, 0x2A, 0, 0, 0, 8,                                 // big-endian header, IFD at 8
                         0, 1,                                                          // one entry
                         0x01, 0x12, 0, 3, 0, 0, 0, 1,                                  // Orientation, SHORT, 1 value
                         char(orientation >> 8), char(orientation & 0xFF), 0, 0,       // its value
                         0, 0, 0, 0};                                                   // no next IFD
    // clang-format on
    QByteArray segment("Exif\0\0", 6);
    segment.append(tiff, sizeof tiff);
    const int length = static_cast<int>(segment.size()) + 2;
    QByteArray app1;
    app1.append(char(0xFF)).append(char(0xE1)).append(char(length >> 8)).append(char(length & 0xFF));
    app1.append(segment);
    QByteArray result = jpeg;
    result.insert(2, app1);
    return result;
}

inline std::string toString(const QByteArray& bytes) {
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace velmora::testing
