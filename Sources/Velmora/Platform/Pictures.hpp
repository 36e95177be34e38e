#pragma once

// Pictures for the screens: PNG and JPEG bytes decoded by the core's bounded decoder (the one
// that prints the logo), so that a picture the tickets refuse is not shown either and no picture
// can take more memory or time than the core allows; and the ways to keep that work off the
// window's thread.

#ifndef Q_MOC_RUN
#include <PizzaCore/Documents/Picture.hpp>
#include <PizzaCore/Foundation/Bytes.hpp>
#endif

#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QMetaObject>
#include <QObject>
#include <QSize>
#include <QThread>

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <type_traits>
#include <utility>

namespace velmora {

// The core's pixels as a QImage (opaque pixels as RGB32, others as premultiplied ARGB32); a null
// image when there are none.
QImage toImage(const pizzacore::documents::Pixels& pixels);

// The picture in `bytes` upright and fitted into `box` pixels, never enlarged; a null image when
// the bytes are no PNG or JPEG picture the core accepts. Safe on any thread.
QImage decodePicture(std::span<const std::uint8_t> bytes, QSize box);
QImage decodePicture(const std::optional<pizzacore::Bytes>& bytes, QSize box);

// Runs `work` on a thread of its own and gives its result, or throws what it threw. On the
// window's thread it waits in a nested event loop meanwhile: windows keep painting and timers
// run, while the operator's clicks and keys wait until the work is done, so that nothing starts
// the same flow twice or acts on a half-finished one. Elsewhere the work simply runs here.
template <class Work>
std::invoke_result_t<Work&> awayFromWindow(Work work) {
    using Result = std::invoke_result_t<Work&>;
    const QCoreApplication* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread()) return work();
    std::optional<Result> result;
    std::exception_ptr error;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            result.emplace(work());
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    // The loop also ends when the application quits; the work is still waited for, since it
    // uses this frame.
    worker.join();
    if (error) std::rethrow_exception(error);
    return std::move(*result);
}

// Decodes pictures for one widget on a thread of its own, one at a time, and hands each image
// back on the widget's thread. Asking again for the picture already shown, or already being
// decoded, decodes nothing: a widget can ask at every change of the document and a logo is still
// decoded once.
class PictureLoader : public QObject {
    Q_OBJECT
public:
    explicit PictureLoader(QObject* parent = nullptr);
    // Waits for a decoding under way, which reads only what it was given.
    ~PictureLoader() override;

    // Asks for `bytes` fitted into `box` pixels. Nothing or no bytes give a null image at once.
    void load(const std::optional<pizzacore::Bytes>& bytes, QSize box);

    // The image of the picture last asked for, once loaded() said so; a null image when it is no
    // picture.
    const QImage& image() const { return image_; }
    // Whether the picture last asked for is still being decoded.
    bool loading() const { return !(wanted_ == shown_); }

signals:
    void loaded();

private:
    struct Request {
        std::shared_ptr<const pizzacore::Bytes> bytes;
        QSize box;
        bool operator==(const Request& other) const;
    };
    void start();
    void finished(QImage image);

    Request wanted_;
    Request shown_;
    std::optional<Request> running_;
    std::thread worker_;
    QImage image_;
};

} // namespace velmora
