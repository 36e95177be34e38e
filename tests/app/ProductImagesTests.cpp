// The product photo import on real files: reduction to a 512-pixel PNG, the camera's orientation,
// the size limits and every refusal, pictures that would need gigabytes once decoded or are cut
// short, a FIFO in place of the photo, the work kept off the window's thread, and the thumbnails
// decoded once and shared.

#include <Velmora/Services/ProductImages.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Shared/ThumbnailCache.hpp>
#include <support/TestFiles.hpp>
#include <support/TestImages.hpp>

#include "TestImages.hpp"
#include "TestPlatformServices.hpp"

#include <QImage>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace velmora::testing;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::writeFile;

QImage decoded(const pizzacore::Bytes& bytes) {
    return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()), "PNG");
}

// The failure's description, or "" when the reduction succeeded.
QString failureOf(const fs::path& path) {
    try {
        velmora::ProductImages::reduce(path);
        return {};
    } catch (...) {
        return velmora::describeFailure(std::current_exception());
    }
}

long peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

class ProductImagesTest : public ::testing::Test {
protected:
    fs::path file(const std::string& name, const QByteArray& bytes) {
        const fs::path path = directory_.path() / name;
        writeFile(path, toString(bytes));
        return path;
    }

    TemporaryDirectory directory_;
    TestPlatformServices platform_;
};

TEST_F(ProductImagesTest, APhotoComesBackAsA512PixelPNG) {
    platform_.answerNextOpenPanel(file("foto.png", encoded(twoColours(4000, 3000), "PNG")));
    const auto png = velmora::ProductImages::choose(platform_);
    ASSERT_EQ(platform_.openPanels().size(), 1u);
    EXPECT_EQ(platform_.openPanels().back().title, "Imagen del producto");
    EXPECT_EQ(platform_.openPanels().back().kind, velmora::FileKind::image);
    ASSERT_TRUE(png);
    ASSERT_GE(png->size(), 8u);
    EXPECT_EQ(png->at(1), 'P');
    const QImage image = decoded(*png);
    EXPECT_EQ(image.size(), QSize(512, 384));
    EXPECT_EQ(QColor(image.pixel(10, 190)), QColor(Qt::red));
    EXPECT_EQ(QColor(image.pixel(500, 190)), QColor(Qt::blue));

    // A small picture keeps its size; a cancelled panel gives nothing.
    platform_.answerNextOpenPanel(file("icono.jpg", encoded(twoColours(120, 50), "JPEG", 95)));
    const auto small = velmora::ProductImages::choose(platform_);
    ASSERT_TRUE(small);
    EXPECT_EQ(decoded(*small).size(), QSize(120, 50));
    EXPECT_FALSE(velmora::ProductImages::choose(platform_));
}

TEST_F(ProductImagesTest, APhotoTakenWithTheCameraTurnedComesBackUpright) {
    // Stored 400 × 200 with the left half red; turned a quarter clockwise, red is at the top.
    const QByteArray jpeg = encoded(twoColours(400, 200), "JPEG", 95);
    const QImage upright =
        decoded(velmora::ProductImages::reduce(file("girada.jpg", withOrientation(jpeg, 6))));
    ASSERT_EQ(upright.size(), QSize(200, 400));
    EXPECT_GT(QColor(upright.pixel(100, 40)).red(), 200);
    EXPECT_GT(QColor(upright.pixel(100, 360)).blue(), 200);

    // Turned the other way, red is at the bottom; a camera photo of 4000 × 3000 comes back 384 × 512.
    const QImage other = decoded(velmora::ProductImages::reduce(file("otra.jpg", withOrientation(jpeg, 8))));
    ASSERT_EQ(other.size(), QSize(200, 400));
    EXPECT_GT(QColor(other.pixel(100, 360)).red(), 200);
    const QByteArray camera = withOrientation(encoded(twoColours(4000, 3000), "JPEG", 60), 6);
    ASSERT_LE(camera.size(), 2'000'000);
    EXPECT_EQ(decoded(velmora::ProductImages::reduce(file("camara.jpg", camera))).size(), QSize(384, 512));
}

TEST_F(ProductImagesTest, RefusalsGiveTheirMessages) {
    const QByteArray png = encoded(twoColours(300, 200), "PNG");
    QByteArray exactly = png;
    exactly.append(QByteArray(2'000'000 - png.size(), '\0'));
    QByteArray tooLarge = exactly;
    tooLarge.append('\0');

    struct Case {
        const char* name;
        QByteArray bytes;
        QString failure;
    };
    const std::vector<Case> cases{
        {"justo.png", exactly, ""},
        {"grande.png", tooLarge, "Elige una imagen de hasta 2 MB."},
        {"texto.png", "esto no es una imagen", "No se pudo abrir la imagen."},
        {"vacia.png", "", "No se pudo abrir la imagen."},
        {"cortada.png", png.left(png.size() / 2), "No se pudo preparar la imagen."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(failureOf(file(c.name, c.bytes)), c.failure) << c.name;

    // A missing file passes the file system's own error on.
    const QString missing = failureOf(directory_.path() / "no-existe.png");
    EXPECT_TRUE(missing.contains("no-existe.png")) << missing.toStdString();
    EXPECT_FALSE(missing.contains("imagen")) << missing.toStdString();
}

TEST_F(ProductImagesTest, AHugePictureIsRefusedWithoutDecodingIt) {
    // 20000 × 20000 pixels of one colour: a small file, 1.6 GB once decoded in colour.
    fs::path path;
    {
        QImage huge(20000, 20000, QImage::Format_Mono);
        huge.fill(0);
        path = file("enorme.png", encoded(huge, "PNG"));
    }
    ASSERT_LT(fs::file_size(path), 2'000'000u);
    const long before = peakMegabytes();
    EXPECT_EQ(failureOf(path), "No se pudo preparar la imagen.");
    velmora::ThumbnailCache cache;
    const std::string bytes = pizzacore::testing::readFile(path);
    EXPECT_TRUE(cache.thumbnail(pizzacore::Bytes(bytes.begin(), bytes.end()), 44).isNull());
    EXPECT_LT(peakMegabytes() - before, 200) << "the picture was decoded";
}

TEST_F(ProductImagesTest, PhotosCutShortOrClaimingHugeSizesAreRefused) {
    using pizzacore::testing::claimingSize;
    using pizzacore::testing::jpegImage;
    const auto colours = [](int x, int y) { return std::uint32_t(x * 0x010203 + y * 0x030201); };
    const auto asText = [](const pizzacore::Bytes& bytes) {
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    };
    const pizzacore::Bytes photo = jpegImage(300, 200, colours);
    const pizzacore::Bytes small = jpegImage(8, 8, colours);
    const pizzacore::Bytes progressive = jpegImage(8, 8, colours, {.progressive = true});
    const QByteArray end("\xFF\xD9", 2);
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    const std::vector<Case> cases{
        {"cortada.jpg", asText(photo).left(static_cast<qsizetype>(photo.size() / 2))},
        {"remendada.jpg", asText(photo).left(static_cast<qsizetype>(photo.size() / 2)) + end},
        // A couple of hundred bytes claiming 8000 × 8000 pixels.
        {"enorme.jpg", asText(claimingSize(small, 8000, 8000))},
        // Progressive: libjpeg would set aside the coefficients of 40000 × 40000 pixels.
        {"progresiva.jpg", asText(claimingSize(progressive, 40000, 40000))},
    };
    for (const Case& c : cases)
        EXPECT_EQ(failureOf(file(c.name, c.bytes)), "No se pudo preparar la imagen.") << c.name;
}

TEST_F(ProductImagesTest, AFifoInPlaceOfThePhotoIsRefusedWithoutWaiting) {
    const fs::path fifo = directory_.path() / "tuberia.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(failureOf(fifo), "No se pudo abrir la imagen.");

    // The chosen name is switched between a photo and the FIFO while photos are prepared, so
    // that the FIFO takes the photo's place after its size was asked: no preparation may wait
    // for a writer.
    const fs::path photo = file("foto.png", encoded(twoColours(40, 30), "PNG"));
    const fs::path chosen = directory_.path() / "elegida.png";
    fs::create_symlink(photo, chosen);
    std::atomic<bool> stop = false;
    std::thread switcher([&] {
        const fs::path next = directory_.path() / "siguiente";
        for (bool toFifo = true; !stop; toFifo = !toFifo) {
            std::error_code ignored;
            fs::remove(next, ignored);
            fs::create_symlink(toFifo ? fifo : photo, next, ignored);
            fs::rename(next, chosen, ignored);
        }
    });
    std::atomic<bool> done = false;
    std::atomic<int> unexpected = 0;
    std::thread preparer([&] {
        for (int round = 0; round < 400; ++round) {
            const QString failure = failureOf(chosen);
            if (!failure.isEmpty() && failure != "No se pudo abrir la imagen.") ++unexpected;
        }
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool finished = done;
    stop = true;
    switcher.join();
    // A preparation stuck on the FIFO is let go by opening its other end.
    while (!done) {
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    preparer.join();
    EXPECT_TRUE(finished) << "a preparation waited for a writer on the FIFO";
    EXPECT_EQ(unexpected, 0);
}

TEST_F(ProductImagesTest, ThePhotoIsPreparedAwayFromTheWindow) {
    // While a large photo is decoded, the window's thread keeps running its timers.
    platform_.answerNextOpenPanel(file("grande.png", encoded(twoColours(2400, 1800), "PNG")));
    int ticks = 0;
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    const auto png = velmora::ProductImages::choose(platform_);
    timer.stop();
    ASSERT_TRUE(png);
    EXPECT_EQ(decoded(*png).size(), QSize(512, 384));
    EXPECT_GT(ticks, 1);
}

TEST(ThumbnailCacheTest, DecodesEachPictureOnceAndNeverEnlargesIt) {
    velmora::ThumbnailCache cache;
    const QByteArray png = encoded(twoColours(400, 200), "PNG");
    const pizzacore::Bytes bytes(png.begin(), png.end());
    const QImage first = cache.thumbnail(bytes, 88);
    EXPECT_EQ(first.size(), QSize(88, 44));
    // The same picture, even from another copy of the document, is the image already decoded.
    const pizzacore::Bytes copy = bytes;
    EXPECT_EQ(cache.thumbnail(copy, 88).cacheKey(), first.cacheKey());
    EXPECT_NE(cache.thumbnail(bytes, 44).cacheKey(), first.cacheKey());
    EXPECT_EQ(cache.thumbnail(bytes, 1000).size(), QSize(400, 200));

    // Turned by the camera, drawn upright; nothing, empty or broken bytes give no picture.
    const QByteArray turned = withOrientation(encoded(twoColours(400, 200), "JPEG", 95), 6);
    EXPECT_EQ(cache.thumbnail(pizzacore::Bytes(turned.begin(), turned.end()), 88).size(), QSize(44, 88));
    EXPECT_TRUE(cache.thumbnail(std::nullopt, 88).isNull());
    EXPECT_TRUE(cache.thumbnail(pizzacore::Bytes{}, 88).isNull());
    EXPECT_TRUE(cache.thumbnail(pizzacore::Bytes{0x89, 'P', 'N', 'G'}, 88).isNull());
    EXPECT_TRUE(cache.thumbnail(bytes, 0).isNull());
}

} // namespace
