#include <Velmora/Views/Window/Sidebar.hpp>

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Shared/Components.hpp>

#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora {

namespace {

// The section's icon, drawn in the highlighted text colour on the selected row so that it stays
// visible on the selection's background.
QIcon sectionIcon(const QString& symbol, const QWidget& list) {
    QIcon icon = symbolIcon(symbol);
    for (const int side : {20, 40}) {
        QPixmap selected = icon.pixmap(QSize(side, side));
        if (selected.isNull()) continue;
        {
            QPainter painter(&selected);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(selected.rect(), list.palette().color(QPalette::HighlightedText));
        }
        icon.addPixmap(selected, QIcon::Selected);
    }
    return icon;
}

} // namespace

Sidebar::Sidebar(AppStore& store, QWidget* parent)
    : QWidget(parent)
    , store_(store)
    , logo_(new SidebarLogo(this))
    , business_(new QLabel(this))
    , list_(new QListWidget(this))
    , settingsAccess_(new SettingsAccess(this)) {
    setObjectName(QStringLiteral("Sidebar"));
    setFixedWidth(190);
    setAutoFillBackground(true);
    QPalette shade = palette();
    shade.setColor(QPalette::Window, palette().color(QPalette::Window).darker(104));
    setPalette(shade);

    QLabel* name = makeBoldLabel(QStringLiteral("Velmora"), QStringLiteral("appName"), this, 1.35);

    business_->setObjectName(QStringLiteral("businessName"));
    // Typed by the operator: shown as written, never read as markup.
    business_->setTextFormat(Qt::PlainText);
    scaleFont(*business_, 0.93, false);
    makeSecondary(*business_);
    business_->setWordWrap(true);
    // An empty business name still leaves its line under the logo.
    business_->setMinimumHeight(business_->fontMetrics().height());

    list_->setObjectName(QStringLiteral("sections"));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setIconSize(QSize(20, 20));
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette listPalette = list_->palette();
    listPalette.setColor(QPalette::Base, shade.color(QPalette::Window));
    list_->setPalette(listPalette);
    const int rowHeight = std::max(list_->iconSize().height(), list_->fontMetrics().height()) + 2 * 9;
    for (const Section& section : sections) {
        auto* item = new QListWidgetItem(sectionIcon(QString::fromLatin1(section.icon), *list_),
                                         QString::fromUtf8(section.title), list_);
        item->setSizeHint(QSize(0, rowHeight));
    }

    auto* caption = new QLabel(QStringLiteral("1.1.0 · Un solo puesto\nFacturación en preparación"), this);
    caption->setObjectName(QStringLiteral("caption"));
    scaleFont(*caption, 0.85, false);
    makeSecondary(*caption);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 16, 12, 14);
    layout->setSpacing(8);
    layout->addWidget(name);
    layout->addWidget(logo_);
    layout->addWidget(business_);
    layout->addSpacing(6);
    layout->addWidget(list_, 1);
    layout->addWidget(caption);
    layout->addWidget(settingsAccess_, 0, Qt::AlignLeft);

    connect(list_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { store_.setSelectedTab(item->text()); });
    connect(list_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* current) {
        if (current) store_.setSelectedTab(current->text());
    });
    connect(&store_, &AppStore::dbChanged, this, &Sidebar::showDocument);
    connect(&store_, &AppStore::selectedTabChanged, this, &Sidebar::showSelectedTab);
    showDocument();
    showSelectedTab();
}

void Sidebar::showDocument() {
    const pizzacore::Settings& settings = store_.db().settings;
    logo_->setData(settings.logo);
    business_->setText(QString::fromStdString(settings.business));
}

void Sidebar::showSelectedTab() {
    // Following the controller must not feed back into it.
    const QSignalBlocker blocker(list_);
    const QString& tab = store_.selectedTab();
    for (int row = 0; row < list_->count(); ++row) {
        if (list_->item(row)->text() == tab) {
            list_->setCurrentRow(row);
            return;
        }
    }
    // A value that names no section highlights no row.
    list_->setCurrentRow(-1);
    list_->clearSelection();
}

} // namespace velmora
