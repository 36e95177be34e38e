#include <Velmora/Views/Window/FatalView.hpp>

#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Shared/Components.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

FatalView::FatalView(AppStore& store, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("FatalView"));

    auto* heading = new QWidget(this);
    auto* headingLayout = new QHBoxLayout(heading);
    headingLayout->setContentsMargins(0, 0, 0, 0);
    headingLayout->setSpacing(10);
    QLabel* title = makeBoldLabel(QStringLiteral("No se puede abrir Velmora"), QStringLiteral("fatalTitle"),
                                  heading, 1.6);
    const int iconSide = title->fontMetrics().height();
    auto* icon = new QLabel(heading);
    icon->setPixmap(symbolIcon(QStringLiteral("externaldrive.badge.exclamationmark"))
                        .pixmap(QSize(iconSide, iconSide), devicePixelRatioF()));
    headingLayout->addWidget(icon);
    headingLayout->addWidget(title);
    headingLayout->addStretch();

    // The failure, selectable so that it can be copied and sent to whoever helps.
    auto* failure = new QLabel(store.fatal().value_or(QString()), this);
    failure->setObjectName(QStringLiteral("fatalText"));
    failure->setTextFormat(Qt::PlainText);
    failure->setWordWrap(true);
    failure->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    auto* advice =
        new QLabel(QStringLiteral("Cierra otras instancias. Si el archivo está dañado, conserva la carpeta "
                                  "y recupera una copia válida; consulta la guía."),
                   this);
    advice->setObjectName(QStringLiteral("fatalAdvice"));
    advice->setWordWrap(true);

    auto* openFolder = new QPushButton(QStringLiteral("Abrir carpeta de datos"), this);
    openFolder->setObjectName(QStringLiteral("openDataFolder"));
    connect(openFolder, &QPushButton::clicked, this,
            [&store] { store.platform().openWithDefaultApplication(store.location()); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(22);
    layout->addWidget(heading);
    layout->addWidget(failure);
    layout->addWidget(advice);
    layout->addWidget(openFolder, 0, Qt::AlignLeft);
    layout->addStretch();
}

} // namespace velmora
