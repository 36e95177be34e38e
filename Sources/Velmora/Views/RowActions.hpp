#pragma once

#include <QList>
#include <QString>
#include <QStyledItemDelegate>

class QAbstractItemView;

namespace velmora {

// A button drawn at the right of a list row.
struct RowAction {
    QString title;
    bool destructive = false;
};

// Draws list rows with their own content at the left and a row of buttons at the right, and turns
// a click on a button into triggered(). The list stays one model/view list: the buttons are drawn,
// not widgets, so a list of thousands of rows costs nothing per row that is not on screen.
// The keyboard reaches the same actions through the list: Return runs the first action named
// `defaultAction`, Delete the destructive one.
class RowActionsDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    RowActionsDelegate(QList<RowAction> actions, QObject* parent = nullptr);

    const QList<RowAction>& actions() const { return actions_; }
    // Where the button of `action` is drawn in the row `index` of `view`; empty when the row has
    // no buttons.
    QRect buttonRect(const QAbstractItemView& view, const QModelIndex& index, int action) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

    // Lets Return and Delete on `view` run the row's actions `returnAction` and `deleteAction`
    // (−1 for none).
    void bindKeys(QAbstractItemView& view, int returnAction, int deleteAction);

signals:
    void triggered(const QModelIndex& index, int action);

protected:
    // The row's own content inside `content`.
    virtual void paintContent(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                              const QRect& content) const = 0;
    // Height of the row's own content.
    virtual int contentHeight(const QStyleOptionViewItem& option, const QModelIndex& index) const = 0;
    // Whether the row shows the buttons (a section heading does not).
    virtual bool hasActions(const QModelIndex& index) const;

    static constexpr int margin = 10;

private:
    QList<QRect> buttonRects(const QStyleOptionViewItem& option) const;
    bool eventFilter(QObject* watched, QEvent* event) override;

    QList<RowAction> actions_;
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
