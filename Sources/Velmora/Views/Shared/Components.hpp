#pragma once

#include <PizzaCore/Foundation/Bytes.hpp>

#include <QIcon>
#include <QImage>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <optional>

class QFrame;
class QLabel;

namespace velmora {

class PictureLoader;

// The icon for one of the application's symbol names ("cart.fill", "photo", …): the desktop
// theme's nearest freedesktop icon when the theme has one that renders, otherwise the picture
// bundled with the application, so that every desktop shows an icon.
QIcon symbolIcon(const QString& symbol);

// The application's own logo picture.
QImage applicationLogo();

// Scales the widget's font by `factor` and makes it bold or regular.
void scaleFont(QWidget& widget, double factor, bool bold);

// The colour for secondary texts: the window text faded towards the window background.
QColor secondaryTextColor(const QWidget& widget);
// Paints `label` in the secondary text colour.
void makeSecondary(QLabel& label);

// The heading every screen begins with: the title large and bold, the subtitle under it in the
// secondary colour, left-aligned across the full width.
class PageHeader : public QWidget {
    Q_OBJECT
public:
    PageHeader(const QString& title, const QString& subtitle, QWidget* parent = nullptr);

    QString title() const;
    QString subtitle() const;

private:
    QLabel* title_;
    QLabel* subtitle_;
};

// What an empty list shows: an orange icon, a bold title and a detail in the secondary colour,
// centred.
class EmptyMessage : public QWidget {
    Q_OBJECT
public:
    EmptyMessage(const QString& title, const QString& detail, const QString& icon, QWidget* parent = nullptr);
};

// The "Ajustes…" button; the window that holds it opens the settings window when it is pressed.
class SettingsAccess : public QPushButton {
    Q_OBJECT
public:
    explicit SettingsAccess(QWidget* parent = nullptr);
};

// A picture scaled to fit its rectangle, keeping its proportions and centred.
class FittedImage : public QWidget {
    Q_OBJECT
public:
    explicit FittedImage(QWidget* parent = nullptr);

    const QImage& image() const { return image_; }

protected:
    void setImage(QImage image);
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

// The restaurant's logo when `data` decodes as an image, otherwise Velmora's own logo; full width,
// 65 points high. The logo is decoded off the window's thread, once per logo and at the size it
// is shown at; until it is ready the previous picture stays.
class SidebarLogo : public FittedImage {
    Q_OBJECT
public:
    explicit SidebarLogo(QWidget* parent = nullptr);

    void setData(const std::optional<pizzacore::Bytes>& data);
    // Whether the restaurant's own logo is shown (rather than Velmora's).
    bool showsRestaurantLogo() const { return restaurantLogo_; }
    // Whether the logo last given is still being decoded.
    bool loading() const;

    // The largest the logo is shown: the sidebar's width by the logo's height, in points.
    static constexpr QSize displayBox{190, 65};

private:
    void showLoaded();

    PictureLoader* loader_;
    bool restaurantLogo_ = false;
};

// A product's photo in a square of side `size` with rounded corners on a faint background, or the
// "photo" symbol when there is no decodable image.
class ProductThumbnail : public QWidget {
    Q_OBJECT
public:
    explicit ProductThumbnail(int size, QWidget* parent = nullptr);

    void setData(const std::optional<pizzacore::Bytes>& data);
    bool hasImage() const { return !image_.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

// Gives `widget` its object name and the name a screen reader says (its visible label), for the
// controls the builders of Sheet.hpp do not make (combo boxes, check boxes, spin boxes…).
template <class W>
W* nameControl(W* widget, const QString& objectName, const QString& accessibleName) {
    widget->setObjectName(objectName);
    widget->setAccessibleName(accessibleName);
    return widget;
}

// A plain-text label in a bold font `scale` times the usual size: a screen's or a section's
// heading, or a name or amount that must stand out.
QLabel* makeBoldLabel(const QString& text, const QString& objectName, QWidget* parent, double scale = 1.0);
// A caption (see makeCaption) in a slightly smaller font: the note under a control or a pane.
QLabel* makeFootnote(const QString& text, const QString& objectName, QWidget* parent);
// A figure read from across the counter (a total, a tile's amount): plain text, bold, at
// `pointSize` points whatever the usual size.
QLabel* makeFigure(const QString& text, const QString& objectName, QWidget* parent, double pointSize);
// A thin sunken line across a pane, between two of its parts.
QFrame* makeDivider(QWidget* parent);

} // namespace velmora
