#include <Velmora/Views/RowActions.hpp>

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>
#include <utility>

namespace velmora {

RowActionsDelegate::RowActionsDelegate(QList<RowAction> actions, QObject* parent)
    : QStyledItemDelegate(parent)
    , actions_(std::move(actions)) {}

bool RowActionsDelegate::hasActions(const QModelIndex&) const {
    return true;
}

QList<QRect> RowActionsDelegate::buttonRects(const QStyleOptionViewItem& option) const {
    // Laid out from the right edge leftwards, the last action rightmost, centred vertically.
    const QFontMetrics metrics(option.font);
    const int height = metrics.height() + 10;
    QList<QRect> rects(actions_.size());
    int right = option.rect.right() - margin;
    for (qsizetype i = actions_.size() - 1; i >= 0; --i) {
        const int width = metrics.horizontalAdvance(actions_[i].title) + 24;
        rects[i] = QRect(right - width + 1, option.rect.center().y() - height / 2, width, height);
        right -= width + 6;
    }
    return rects;
}

QRect RowActionsDelegate::buttonRect(const QAbstractItemView& view, const QModelIndex& index,
                                     int action) const {
    if (!hasActions(index) || action < 0 || action >= actions_.size()) return {};
    QStyleOptionViewItem option;
    option.initFrom(&view);
    option.rect = view.visualRect(index);
    return buttonRects(option).value(action);
}

void RowActionsDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    QRect content = option.rect.adjusted(margin, 0, -margin, 0);
    if (hasActions(index)) {
        const QList<QRect> rects = buttonRects(option);
        if (!rects.isEmpty()) content.setRight(rects.front().left() - margin);
        for (qsizetype i = 0; i < actions_.size(); ++i) {
            QStyleOptionButton button;
            button.initFrom(widget);
            button.rect = rects[i];
            button.text = actions_[i].title;
            button.state = QStyle::State_Enabled | QStyle::State_Raised;
            if (pressed_ == index && pressedAction_ == i) button.state |= QStyle::State_Sunken;
            if (actions_[i].destructive)
                button.palette.setColor(QPalette::ButtonText, QColor(0xC0, 0x28, 0x1E));
            style->drawControl(QStyle::CE_PushButton, &button, painter, widget);
        }
    }
    painter->save();
    paintContent(*painter, option, index, content);
    painter->restore();
}

QSize RowActionsDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const int buttons = hasActions(index) ? QFontMetrics(option.font).height() + 10 : 0;
    return QSize(200, std::max(contentHeight(option, index), buttons) + 2 * margin);
}

bool RowActionsDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                     const QStyleOptionViewItem& option, const QModelIndex& index) {
    const auto type = event->type();
    if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
         type == QEvent::MouseButtonDblClick) &&
        hasActions(index)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QList<QRect> rects = buttonRects(option);
        int hit = -1;
        for (qsizetype i = 0; i < rects.size(); ++i)
            if (rects[i].contains(mouse->position().toPoint())) hit = static_cast<int>(i);
        if (type == QEvent::MouseButtonPress && hit >= 0 && mouse->button() == Qt::LeftButton) {
            pressed_ = index;
            pressedAction_ = hit;
            return true;
        }
        if (type == QEvent::MouseButtonRelease && pressedAction_ >= 0) {
            const bool fire = pressed_ == index && hit == pressedAction_;
            const int action = pressedAction_;
            const QPersistentModelIndex target = pressed_;
            pressed_ = QPersistentModelIndex();
            pressedAction_ = -1;
            if (fire) emit triggered(target, action);
            return true;
        }
        if (type == QEvent::MouseButtonDblClick && hit >= 0) return true;
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

void RowActionsDelegate::bindKeys(QAbstractItemView& view, int returnAction, int deleteAction) {
    returnAction_ = returnAction;
    deleteAction_ = deleteAction;
    view.installEventFilter(this);
}

bool RowActionsDelegate::eventFilter(QObject* watched, QEvent* event) {
    auto* view = qobject_cast<QAbstractItemView*>(watched);
    if (view && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const QModelIndex current = view->currentIndex();
        int action = -1;
        if (key == Qt::Key_Return || key == Qt::Key_Enter) action = returnAction_;
        if (key == Qt::Key_Delete || key == Qt::Key_Backspace) action = deleteAction_;
        if (action >= 0 && current.isValid() && hasActions(current)) {
            emit triggered(current, action);
            return true;
        }
    }
    // The list is not one of the delegate's editors, so the delegate's own filter is skipped.
    return QObject::eventFilter(watched, event);
}

int drawLine(QPainter& painter, const QString& text, const QFont& font, const QColor& color, int x, int y,
             int width, Qt::Alignment alignment) {
    const QFontMetrics metrics(font);
    painter.setFont(font);
    painter.setPen(color);
    const QString elided = metrics.elidedText(text, Qt::ElideRight, std::max(0, width));
    painter.drawText(QRect(x, y, width, metrics.height()),
                     int(alignment | Qt::AlignVCenter) | Qt::TextSingleLine, elided);
    return y + metrics.height();
}

QFont headlineFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * 1.1);
    font.setBold(true);
    return font;
}

QFont captionFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * 0.85);
    return font;
}

QColor secondaryColor(const QPalette& palette) {
    return palette.color(QPalette::PlaceholderText);
}

} // namespace velmora
