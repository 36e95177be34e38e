#include <Velmora/Views/Shared/Components.hpp>

#include <Velmora/Platform/Pictures.hpp>
#include <Velmora/Views/Shared/Palette.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <array>

// The pictures are compiled into the static library; registering them from code that the program
// calls keeps the linker from dropping them. Registering again is harmless: Qt keeps one copy.
static void registerVelmoraResources() {
    Q_INIT_RESOURCE(velmora);
}

namespace velmora {

namespace {

struct SymbolIcon {
    const char* symbol;
    std::array<const char*, 3> themeNames; // freedesktop names, nearest first; empty ends the list
    const char* bundled;
};

constexpr std::array symbolIcons{
    SymbolIcon{"cart.fill", {"shopping-cart", "view-list-details", ""}, ":/icons/cart.png"},
    SymbolIcon{"list.bullet.rectangle", {"view-list-bullet", "view-list", ""}, ":/icons/orders.png"},
    SymbolIcon{"person.2.fill", {"system-users", "x-office-address-book", ""}, ":/icons/customers.png"},
    SymbolIcon{"square.grid.2x2.fill", {"view-grid", "view-app-grid", ""}, ":/icons/products.png"},
    SymbolIcon{"chart.bar.fill", {"office-chart-bar", "x-office-spreadsheet", ""}, ":/icons/sessions.png"},
    SymbolIcon{"doc.text.fill", {"x-office-document", "text-x-generic", ""}, ":/icons/invoices.png"},
    SymbolIcon{"photo", {"image-x-generic", "", ""}, ":/icons/photo.png"},
    SymbolIcon{"doc.text", {"x-office-document", "text-x-generic", ""}, ":/icons/invoices.png"},
    SymbolIcon{"lock.shield", {"security-high", "channel-secure", ""}, ":/icons/lock-shield.png"},
    SymbolIcon{
        "checkmark.circle.fill", {"emblem-ok", "dialog-ok-apply", "object-select"}, ":/icons/confirm.png"},
    SymbolIcon{"trash", {"user-trash", "edit-delete", ""}, ":/icons/trash.png"},
    SymbolIcon{"takeoutbag.and.cup.and.straw", {"package-x-generic", "", ""}, ":/icons/takeout.png"},
    SymbolIcon{
        "person.crop.circle.badge.plus", {"contact-new", "list-add-user", ""}, ":/icons/customers.png"},
    SymbolIcon{"menucard", {"accessories-dictionary", "view-list-details", ""}, ":/icons/products.png"},
    SymbolIcon{
        "externaldrive.badge.exclamationmark", {"drive-harddisk", "", ""}, ":/icons/storage-error.png"},
};

// The rectangle of `imageSize` scaled to fit inside `bounds`, centred.
QRectF fitted(QSizeF imageSize, const QRectF& bounds) {
    if (imageSize.isEmpty() || bounds.isEmpty()) return {};
    imageSize.scale(bounds.size(), Qt::KeepAspectRatio);
    QRectF target(QPointF(), imageSize);
    target.moveCenter(bounds.center());
    return target;
}

} // namespace

void scaleFont(QWidget& widget, double factor, bool bold) {
    QFont font = widget.font();
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setBold(bold);
    widget.setFont(font);
}

QIcon symbolIcon(const QString& symbol) {
    registerVelmoraResources();
    for (const SymbolIcon& entry : symbolIcons) {
        if (symbol != QLatin1String(entry.symbol)) continue;
        for (const char* name : entry.themeNames) {
            if (*name == '\0') break;
            // A theme can list an icon in a format this Qt cannot draw (SVG without the SVG
            // plugin); such an icon gives no pixmap and is passed over.
            const QIcon themed = QIcon::fromTheme(QString::fromLatin1(name));
            if (!themed.isNull() && !themed.pixmap(24, 24).isNull()) return themed;
        }
        return QIcon(QString::fromLatin1(entry.bundled));
    }
    return {};
}

QImage applicationLogo() {
    registerVelmoraResources();
    return QImage(QStringLiteral(":/Velmora-logo.png"));
}

namespace {

QColor secondaryTextColor(const QPalette& palette) {
    const QColor text = palette.color(QPalette::WindowText);
    const QColor window = palette.color(QPalette::Window);
    const auto mix = [](int a, int b) { return (a * 55 + b * 45) / 100; };
    return QColor(mix(text.red(), window.red()), mix(text.green(), window.green()),
                  mix(text.blue(), window.blue()));
}

} // namespace

QColor secondaryTextColor(const QWidget& widget) {
    return secondaryTextColor(widget.palette());
}

void makeSecondary(QLabel& label) {
    // Faded from the colours the label inherits, never from its own: a label made secondary again
    // (a status line refreshed at every edit) keeps its colour instead of fading a little more
    // each time until it cannot be read.
    const QWidget* parent = label.parentWidget();
    const QPalette inherited = parent ? parent->palette() : QApplication::palette(&label);
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, secondaryTextColor(inherited));
    label.setPalette(palette);
}

PageHeader::PageHeader(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent)
    , title_(new QLabel(title, this))
    , subtitle_(new QLabel(subtitle, this)) {
    setObjectName(QStringLiteral("PageHeader"));
    title_->setObjectName(QStringLiteral("pageTitle"));
    subtitle_->setObjectName(QStringLiteral("pageSubtitle"));
    scaleFont(*title_, 1.9, true);
    makeSecondary(*subtitle_);
    subtitle_->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    layout->addWidget(title_);
    layout->addWidget(subtitle_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QString PageHeader::title() const {
    return title_->text();
}

QString PageHeader::subtitle() const {
    return subtitle_->text();
}

EmptyMessage::EmptyMessage(const QString& title, const QString& detail, const QString& icon, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("EmptyMessage"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->setSpacing(14);
    layout->addStretch();

    // The symbol drawn in the attention colour: its shape from the icon.
    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("emptyIcon"));
    QPixmap shape = symbolIcon(icon).pixmap(QSize(36, 36), devicePixelRatioF());
    if (!shape.isNull()) {
        QPainter painter(&shape);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(shape.rect(), colours::attention);
    }
    picture->setPixmap(shape);
    picture->setAlignment(Qt::AlignCenter);

    auto* titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("emptyTitle"));
    scaleFont(*titleLabel, 1.35, true);
    titleLabel->setAlignment(Qt::AlignCenter);
    titleLabel->setWordWrap(true);

    auto* detailLabel = new QLabel(detail, this);
    detailLabel->setObjectName(QStringLiteral("emptyDetail"));
    makeSecondary(*detailLabel);
    detailLabel->setAlignment(Qt::AlignCenter);
    detailLabel->setWordWrap(true);

    layout->addWidget(picture);
    layout->addWidget(titleLabel);
    layout->addWidget(detailLabel);
    layout->addStretch();
}

SettingsAccess::SettingsAccess(QWidget* parent)
    : QPushButton(QStringLiteral("Ajustes…"), parent) {
    setObjectName(QStringLiteral("SettingsAccess"));
}

FittedImage::FittedImage(QWidget* parent)
    : QWidget(parent) {}

void FittedImage::setImage(QImage image) {
    image_ = std::move(image);
    update();
}

void FittedImage::paintEvent(QPaintEvent*) {
    if (image_.isNull()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(fitted(image_.size(), rect()), image_);
}

SidebarLogo::SidebarLogo(QWidget* parent)
    : FittedImage(parent)
    , loader_(new PictureLoader(this)) {
    setObjectName(QStringLiteral("SidebarLogo"));
    setFixedHeight(displayBox.height());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(loader_, &PictureLoader::loaded, this, &SidebarLogo::showLoaded);
    showLoaded();
}

void SidebarLogo::setData(const std::optional<pizzacore::Bytes>& data) {
    loader_->load(data, displayBox * devicePixelRatioF());
}

bool SidebarLogo::loading() const {
    return loader_->loading();
}

void SidebarLogo::showLoaded() {
    const QImage& own = loader_->image();
    restaurantLogo_ = !own.isNull();
    setImage(restaurantLogo_ ? own : applicationLogo());
    setAccessibleName(restaurantLogo_ ? QStringLiteral("Logotipo del restaurante")
                                      : QStringLiteral("Logotipo de Velmora"));
}

ProductThumbnail::ProductThumbnail(int size, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("ProductThumbnail"));
    setFixedSize(size, size);
    setData(std::nullopt);
}

void ProductThumbnail::setData(const std::optional<pizzacore::Bytes>& data) {
    // Stored product pictures are small (the import reduces them to 512 pixels); the core's
    // decoder bounds any other.
    image_ = decodePicture(data, size() * devicePixelRatioF());
    setAccessibleName(image_.isNull() ? QStringLiteral("Sin imagen") : QStringLiteral("Imagen del producto"));
    update();
}

void ProductThumbnail::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF bounds = rect();
    const qreal radius = bounds.width() * 0.14;
    QPainterPath rounded;
    rounded.addRoundedRect(bounds, radius, radius);
    QColor faint = palette().color(QPalette::WindowText);
    faint.setAlphaF(0.06);
    painter.fillPath(rounded, faint);
    painter.setClipPath(rounded);
    if (!image_.isNull()) {
        painter.drawImage(fitted(image_.size(), bounds), image_);
        return;
    }
    // The "photo" symbol in the secondary colour, at about half the square.
    const qreal side = bounds.width() * 0.5;
    QRectF symbolBounds(0, 0, side, side);
    symbolBounds.moveCenter(bounds.center());
    QPixmap symbol =
        symbolIcon(QStringLiteral("photo")).pixmap(symbolBounds.size().toSize(), devicePixelRatioF());
    if (symbol.isNull()) return;
    {
        QPainter tint(&symbol);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(symbol.rect(), secondaryTextColor(*this));
    }
    painter.drawPixmap(symbolBounds.toRect(), symbol);
}

QLabel* makeBoldLabel(const QString& text, const QString& objectName, QWidget* parent, double scale) {
    QLabel* label = makePlainLabel(text, objectName, parent);
    scaleFont(*label, scale, true);
    return label;
}

QLabel* makeFootnote(const QString& text, const QString& objectName, QWidget* parent) {
    QLabel* label = makeCaption(text, objectName, parent);
    scaleFont(*label, 0.88, false);
    return label;
}

QLabel* makeFigure(const QString& text, const QString& objectName, QWidget* parent, double pointSize) {
    QLabel* label = makePlainLabel(text, objectName, parent);
    QFont font = label->font();
    font.setPointSizeF(pointSize);
    font.setBold(true);
    label->setFont(font);
    return label;
}

QFrame* makeDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace velmora
