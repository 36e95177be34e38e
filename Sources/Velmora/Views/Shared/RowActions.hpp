#pragma once

#include <QList>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QString>
#include <QStyledItemDelegate>

class QAbstractItemView;
class QMenu;

namespace velmora {

// A button drawn at the right of a list row.
struct RowAction {
    QString title;
    bool destructive = false;
};

// Draws list rows with their own content at the left and a row of buttons at the right, and turns
// a click on a button into triggered(). The list stays one model/view list: the buttons are drawn,
// not widgets, so a list of thousands of rows costs nothing per row that is not on screen.
// Drawn buttons cannot take the keyboard focus nor be seen by a screen reader, so once attached to
// its list the delegate offers the same actions in three other ways: Return runs the default
// action and Delete the destructive one; the menu key, Shift+F10 and a right click open a menu
// listing the row's actions by their labels; and every row's accessible interface offers them as
// its actions.
class RowActionsDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    RowActionsDelegate(QList<RowAction> actions, QObject* parent = nullptr);

    const QList<RowAction>& actions() const { return actions_; }
    // Where the button of `action` is drawn in the row `index` of `view`; empty when the row has
    // no buttons.
    QRect buttonRect(const QAbstractItemView& view, const QModelIndex& index, int action) const;

    // Whether the row shows the buttons (a section heading does not).
    virtual bool hasActions(const QModelIndex& index) const;
    // Whether `action` can run on the row now; a disabled one is drawn greyed and does nothing.
    virtual bool isEnabled(const QModelIndex& index, int action) const;

    // Runs `action` on the row as its button does, when the row offers it and it is enabled.
    void trigger(const QModelIndex& index, int action);
    // Opens the menu of the row's actions at `globalPosition`; null when the row has none. The
    // menu deletes itself when closed.
    QMenu* openMenu(const QModelIndex& index, const QPoint& globalPosition);
    // Opens that menu under the start of the row, as the keyboard asks for it.
    QMenu* openMenu(const QModelIndex& index);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

    // Becomes the delegate of `view` and lets its keyboard, context menu and accessibility reach
    // the rows' actions: Return runs `returnAction` and Delete `deleteAction` (−1 for none).
    void attach(QAbstractItemView& view, int returnAction, int deleteAction);

signals:
    void triggered(const QModelIndex& index, int action);

protected:
    // The row's own content inside `content`.
    virtual void paintContent(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                              const QRect& content) const = 0;
    // Height of the row's own content.
    virtual int contentHeight(const QStyleOptionViewItem& option, const QModelIndex& index) const = 0;

    static constexpr int margin = 10;

private:
    QList<QRect> buttonRects(const QStyleOptionViewItem& option) const;
    bool eventFilter(QObject* watched, QEvent* event) override;

    QList<RowAction> actions_;
    QPointer<QAbstractItemView> view_;
    QPersistentModelIndex pressed_;
    int pressedAction_ = -1;
    int returnAction_ = -1;
    int deleteAction_ = -1;
};

// Text drawing helpers shared by the row delegates: one line of `text` in `font` and `color`,
// elided to `width`, at `y` (top); gives the y below it.
int drawLine(QPainter& painter, const QString& text, const QFont& font, const QColor& color, int x, int y,
             int width, Qt::Alignment alignment = Qt::AlignLeft);

// The fonts of the lists: the headline (bold, a little larger) and the caption (smaller).
QFont headlineFont(const QFont& base);
QFont captionFont(const QFont& base);
QColor secondaryColor(const QPalette& palette);

} // namespace velmora
