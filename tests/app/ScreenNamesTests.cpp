// Every control the operator can reach on the main screens carries its object name and the name a
// screen reader says, and the texts the builders show are never read as markup.

#include "ScreenTesting.hpp"
#include "TestPdf.hpp"

#include <Velmora/Services/TicketService.hpp>
#include <Velmora/Views/Checkout/CheckoutView.hpp>
#include <Velmora/Views/Orders/OrdersView.hpp>
#include <Velmora/Views/Sessions/SessionsView.hpp>
#include <Velmora/Views/Settings/SettingsWindow.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>
#include <Velmora/Views/Shared/ThumbnailCache.hpp>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>

namespace {

using namespace velmora;
using namespace velmora::testing;

// The controls inside `root` that the operator can reach and that lack a name, as
// "objectName (class)" lines; the parts Qt builds inside a control (a spin box's field, a combo
// box's list, a field's clear button) are the control's own and are left out.
QStringList unnamedControls(QWidget& root) {
    QStringList unnamed;
    for (QWidget* widget : root.findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                             qobject_cast<QComboBox*>(widget) || qobject_cast<QAbstractSpinBox*>(widget) ||
                             qobject_cast<QAbstractItemView*>(widget);
        if (!control || !widget->isVisibleTo(&root)) continue;
        bool inner = false;
        for (QWidget* up = widget->parentWidget(); up && up != &root && !inner; up = up->parentWidget())
            inner = qobject_cast<QAbstractSpinBox*>(up) || qobject_cast<QComboBox*>(up) ||
                    qobject_cast<QLineEdit*>(up) || qobject_cast<QTabBar*>(up) ||
                    (qobject_cast<QTabWidget*>(up) && widget->parentWidget() == up);
        if (inner || qobject_cast<QTabBar*>(widget)) continue;
        if (widget->objectName().isEmpty() || widget->accessibleName().isEmpty())
            unnamed << widget->objectName() + QStringLiteral(" (") +
                           QString::fromLatin1(widget->metaObject()->className()) + QStringLiteral(")");
    }
    return unnamed;
}

class ScreenNamesTest : public ScreenTest {
protected:
    void prepare(pizzacore::Database& db) override {
        margarita_ = product(db, "Margarita", 1000);
        const pizzacore::Product bebida = product(db, "Refresco", 500, pizzacore::Category::drink());
        const pizzacore::Customer ana = customer(db, "Ana", "600111222", "Calle Mayor 3", "Sin cebolla");
        paid_ = order(db, margarita_, ana, "", pizzacore::PaymentMethod::cash, friday);
        owed_ = order(db, bebida, std::nullopt, "600000002", std::nullopt, friday);
    }

    pizzacore::Order paid_;
    pizzacore::Order owed_;
};

TEST_F(ScreenNamesTest, EveryReachableControlIsNamed) {
    {
        ThumbnailCache thumbnails;
        pizzacore::Draft draft = store().draft();
        draft.phone = "600111222";
        draft.lines.push_back(pizzacore::Line::make(margarita_));
        store().setDraft(draft);
        CheckoutView checkout(store(), thumbnails);
        checkout.resize(1200, 800);
        checkout.show();
        settle();
        EXPECT_EQ(unnamedControls(checkout), QStringList()) << "checkout";
    }
    {
        TicketService tickets(
            store(),
            [](const pizzacore::Order&, const pizzacore::Settings&, const std::optional<pizzacore::Payment>&,
               bool) {
                return minimalPdf({{226.77, 300}});
            },
            nullptr, 20);
        OrdersView orders(store(), tickets);
        orders.resize(1090, 900);
        orders.show();
        // An order still to pay shows the payment controls; a paid one, the tickets and repeat.
        for (const pizzacore::Order* shown : {&owed_, &paid_}) {
            store().showOrder(shown->id);
            settle();
            EXPECT_EQ(unnamedControls(orders), QStringList()) << "order #" << shown->number;
        }
    }
    {
        SessionsView sessions(store());
        sessions.resize(1000, 800);
        sessions.show();
        settle();
        EXPECT_EQ(unnamedControls(sessions), QStringList()) << "sessions";
    }
    {
        SettingsWindow settings(store(), nullptr, [] { return PrinterList{}; });
        settings.present();
        auto* tabs = settings.findChild<QTabWidget*>(QStringLiteral("settingsTabs"));
        ASSERT_NE(tabs, nullptr);
        for (int tab = 0; tab < tabs->count(); ++tab) {
            tabs->setCurrentIndex(tab);
            settle();
            EXPECT_EQ(unnamedControls(settings), QStringList()) << tabs->tabText(tab).toStdString();
        }
        for (int step = 0; step < 500 && settings.listingPrinters(); ++step)
            QTest::qWait(10);
    }
}

// The shared builders show what they are given as it is written, markup included: a name or a
// note typed by the operator is never read as markup.
TEST_F(ScreenNamesTest, BuildersShowTextsAsWrittenInTheirFonts) {
    QWidget parent;
    const QString markup = QStringLiteral("<b>Pérez</b> & <i>hijos</i>");
    QLabel* bold = makeBoldLabel(markup, QStringLiteral("bold"), &parent, 1.5);
    QLabel* footnote = makeFootnote(markup, QStringLiteral("footnote"), &parent);
    QLabel* figure = makeFigure(markup, QStringLiteral("figure"), &parent, 24);
    for (QLabel* label : {bold, footnote, figure}) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
        EXPECT_EQ(label->text(), markup);
    }
    const double base = parent.font().pointSizeF();
    EXPECT_TRUE(bold->font().bold());
    EXPECT_DOUBLE_EQ(bold->font().pointSizeF(), base * 1.5);
    EXPECT_FALSE(footnote->font().bold());
    EXPECT_LT(footnote->font().pointSizeF(), base);
    EXPECT_TRUE(footnote->wordWrap());
    EXPECT_NE(footnote->palette().color(QPalette::WindowText), parent.palette().color(QPalette::WindowText));
    EXPECT_TRUE(figure->font().bold());
    EXPECT_DOUBLE_EQ(figure->font().pointSizeF(), 24);
}

} // namespace
