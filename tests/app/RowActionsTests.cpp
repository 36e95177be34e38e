// The buttons that list delegates draw on their rows, reached without them: the row menu from the
// menu key, Shift+F10 and a right click, and the rows' accessible actions as a screen reader sees
// them, with a disabled action refused everywhere and a heading row offering nothing.

#include "ScreenTesting.hpp"

#include <QAccessible>
#include <QListView>
#include <QPainter>
#include <QStringListModel>

#include <utility>
#include <vector>

namespace {

using namespace velmora::testing;
using velmora::RowActionsDelegate;

// "Cabecera" is a heading without actions; "Borrar" is disabled on "Dos".
class TestRowDelegate : public RowActionsDelegate {
public:
    explicit TestRowDelegate(QObject* parent)
        : RowActionsDelegate({{QStringLiteral("Abrir")}, {QStringLiteral("Borrar"), true}}, parent) {}

    bool hasActions(const QModelIndex& index) const override {
        return index.data().toString() != QStringLiteral("Cabecera");
    }
    bool isEnabled(const QModelIndex& index, int action) const override {
        return !(index.data().toString() == QStringLiteral("Dos") && action == 1);
    }

protected:
    int contentHeight(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return QFontMetrics(option.font).height();
    }
    void paintContent(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                      const QRect& content) const override {
        velmora::drawLine(painter, index.data().toString(), option.font, Qt::black, content.left(),
                          content.top(), content.width());
    }
};

class RowActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        model_.setStringList({"Cabecera", "Uno", "Dos"});
        list_.setAccessibleName(QStringLiteral("Filas"));
        list_.setModel(&model_);
        delegate_.attach(list_, 0, 1);
        QObject::connect(
            &delegate_, &RowActionsDelegate::triggered,
            [this](const QModelIndex& index, int action) { runs_.emplace_back(index.row(), action); });
        list_.resize(500, 300);
        list_.show();
        QApplication::setActiveWindow(&list_);
        list_.setFocus();
        settle();
    }

    void TearDown() override {
        if (QMenu* menu = openRowMenu()) menu->close();
        settle();
    }

    void makeCurrent(int row) { list_.setCurrentIndex(model_.index(row)); }

    QStringListModel model_;
    TestRowDelegate delegate_{nullptr};
    QListView list_;
    std::vector<std::pair<int, int>> runs_;
};

TEST_F(RowActionsTest, TheKeyboardMenuListsTheRowsActionsWithTheirStateAndRunsThem) {
    makeCurrent(1);
    QTest::keyClick(&list_, Qt::Key_Menu);
    QMenu* menu = openRowMenu();
    ASSERT_NE(menu, nullptr) << "the menu key opens the row's menu";
    EXPECT_EQ(menuEntries(*menu), (QStringList{"Abrir", "Borrar"}));
    EXPECT_EQ(menu->accessibleName(), "Uno");
    chooseFromMenu(*menu, QStringLiteral("Borrar"));
    settle();
    EXPECT_EQ(runs_, (std::vector<std::pair<int, int>>{{1, 1}}));
    EXPECT_EQ(openRowMenu(), nullptr) << "choosing closes the menu";

    makeCurrent(2);
    QTest::keyClick(&list_, Qt::Key_F10, Qt::ShiftModifier);
    menu = openRowMenu();
    ASSERT_NE(menu, nullptr) << "Shift+F10 opens it too";
    EXPECT_EQ(menuEntries(*menu), (QStringList{"Abrir", "Borrar (desactivado)"}));
    chooseFromMenu(*menu, QStringLiteral("Borrar"));
    settle();
    EXPECT_EQ(runs_.size(), 1u) << "a disabled entry runs nothing";
    if ((menu = openRowMenu())) QTest::keyClick(menu, Qt::Key_Escape);
    settle();

    // A heading has no menu.
    makeCurrent(0);
    QTest::keyClick(&list_, Qt::Key_Menu);
    EXPECT_EQ(openRowMenu(), nullptr);
}

TEST_F(RowActionsTest, ARightClickOpensTheMenuOfTheRowUnderThePointer) {
    makeCurrent(2);
    rightClickRow(list_, 1);
    QMenu* menu = openRowMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(list_.currentIndex().row(), 1) << "the row the menu acts on is highlighted";
    chooseFromMenu(*menu, QStringLiteral("Abrir"));
    settle();
    EXPECT_EQ(runs_, (std::vector<std::pair<int, int>>{{1, 0}}));

    // Below the last row there is no row and no menu.
    const QPoint empty(20, list_.viewport()->height() - 5);
    QContextMenuEvent request(QContextMenuEvent::Mouse, empty, list_.viewport()->mapToGlobal(empty));
    QApplication::sendEvent(list_.viewport(), &request);
    EXPECT_EQ(openRowMenu(), nullptr);
}

TEST_F(RowActionsTest, ADisabledActionIgnoresItsButtonAndItsKey) {
    clickRowButton(list_, delegate_, 2, 1);
    makeCurrent(2);
    QTest::keyClick(&list_, Qt::Key_Delete);
    delegate_.trigger(model_.index(2), 1);
    EXPECT_TRUE(runs_.empty());
    // The enabled ones still run, by button and by key.
    clickRowButton(list_, delegate_, 2, 0);
    makeCurrent(1);
    QTest::keyClick(&list_, Qt::Key_Delete);
    EXPECT_EQ(runs_, (std::vector<std::pair<int, int>>{{2, 0}, {1, 1}}));
}

TEST_F(RowActionsTest, RowsOfferTheirEnabledActionsToScreenReaders) {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&list_);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role(), QAccessible::List);
    EXPECT_EQ(list->text(QAccessible::Name), "Filas");
    ASSERT_EQ(list->childCount(), 3);
    QAccessibleInterface* uno = list->child(1);
    ASSERT_NE(uno, nullptr);
    EXPECT_EQ(uno->role(), QAccessible::ListItem);
    EXPECT_EQ(uno->text(QAccessible::Name), "Uno");
    EXPECT_EQ(uno->parent(), list);
    EXPECT_EQ(list->indexOfChild(uno), 1);
    EXPECT_EQ(list->child(1), uno) << "a row keeps its interface";
    const QPoint centre = uno->rect().center();
    EXPECT_EQ(list->childAt(centre.x(), centre.y()), uno);

    const QString menu = QAccessibleActionInterface::showMenuAction();
    const QString select = QAccessibleActionInterface::setFocusAction();
    EXPECT_EQ(accessibleActions(list_, 1), (QStringList{"Abrir", "Borrar", menu, select}));
    EXPECT_EQ(accessibleActions(list_, 2), (QStringList{"Abrir", menu, select}));
    EXPECT_EQ(accessibleActions(list_, 0), (QStringList{select}));
    EXPECT_EQ(uno->actionInterface()->localizedActionName(menu), "Mostrar menú");

    doAccessibleAction(list_, 1, QStringLiteral("Abrir"));
    doAccessibleAction(list_, 2, QStringLiteral("Borrar"));
    EXPECT_EQ(runs_, (std::vector<std::pair<int, int>>{{1, 0}}));

    doAccessibleAction(list_, 2, select);
    EXPECT_EQ(list_.currentIndex().row(), 2);
    EXPECT_TRUE(list->child(2)->state().selected);
    EXPECT_TRUE(list->child(2)->state().focused);
    EXPECT_EQ(list->tableInterface()->selectedRows(), QList<int>{2});

    doAccessibleAction(list_, 1, menu);
    QMenu* opened = openRowMenu();
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(menuEntries(*opened), (QStringList{"Abrir", "Borrar"}));
}

TEST_F(RowActionsTest, RowsFollowTheModelAndTheNumbersTheListAnnounces) {
    // The list tells a screen reader about its current row by the row's number; that number must
    // lead to the row's interface, which reports itself current and selected.
    makeCurrent(2);
    QAccessibleEvent focus(&list_, QAccessible::Focus);
    focus.setChild(list_.currentIndex().row());
    QAccessibleInterface* announced = focus.accessibleInterface();
    ASSERT_NE(announced, nullptr);
    EXPECT_EQ(announced->text(QAccessible::Name), "Dos");
    EXPECT_TRUE(announced->state().focused);
    EXPECT_TRUE(announced->state().selected);
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&list_);
    EXPECT_EQ(list->focusChild(), announced);

    // A filter or a new search replaces the rows: the interfaces follow, whether or not a screen
    // reader was told.
    model_.setStringList({"Tres", "Cuatro"});
    ASSERT_EQ(list->childCount(), 2);
    EXPECT_EQ(list->child(0)->text(QAccessible::Name), "Tres");
    EXPECT_EQ(accessibleActions(list_, 0).first(), "Abrir");
    QAccessibleTableModelChangeEvent reset(&list_, QAccessibleTableModelChangeEvent::ModelReset);
    list->tableInterface()->modelChange(&reset);
    EXPECT_EQ(list->child(1)->text(QAccessible::Name), "Cuatro");
    EXPECT_EQ(list->child(5), nullptr);
}

} // namespace
