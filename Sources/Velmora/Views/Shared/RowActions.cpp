#include <Velmora/Views/Shared/RowActions.hpp>

#include <Velmora/Views/Shared/AccessibleRows.hpp>
#include <Velmora/Views/Shared/Palette.hpp>

#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
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

bool RowActionsDelegate::isEnabled(const QModelIndex&, int) const {
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
            const bool enabled = isEnabled(index, static_cast<int>(i));
            button.state = QStyle::State_Raised;
            if (enabled) button.state |= QStyle::State_Enabled;
            if (pressed_ == index && pressedAction_ == i) button.state |= QStyle::State_Sunken;
            if (actions_[i].destructive && enabled)
                button.palette.setColor(QPalette::ButtonText, colours::destructive);
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
            // A disabled button takes the click without running, as a disabled push button does.
            if (!isEnabled(index, hit)) return true;
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
            if (fire) trigger(target, action);
            return true;
        }
        if (type == QEvent::MouseButtonDblClick && hit >= 0) return true;
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

void RowActionsDelegate::trigger(const QModelIndex& index, int action) {
    if (!index.isValid() || action < 0 || action >= actions_.size() || !hasActions(index) ||
        !isEnabled(index, action))
        return;
    emit triggered(index, action);
}

QMenu* RowActionsDelegate::openMenu(const QModelIndex& index, const QPoint& globalPosition) {
    if (!view_ || !index.isValid() || index.model() != view_->model() || !hasActions(index)) return nullptr;
    // The row the menu acts on is the one the operator sees highlighted.
    view_->setCurrentIndex(index);
    auto* menu = new QMenu(view_);
    menu->setObjectName(QStringLiteral("rowActionsMenu"));
    const QString row = index.data(Qt::AccessibleTextRole).toString();
    menu->setAccessibleName(row.isEmpty() ? index.data(Qt::DisplayRole).toString() : row);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QPersistentModelIndex target(index);
    for (qsizetype i = 0; i < actions_.size(); ++i) {
        QAction* entry = menu->addAction(actions_[i].title);
        entry->setEnabled(isEnabled(index, static_cast<int>(i)));
        const int action = static_cast<int>(i);
        // The model may have changed while the menu was open; a row that is gone runs nothing.
        connect(entry, &QAction::triggered, this, [this, target, action] { trigger(target, action); });
    }
    menu->popup(globalPosition);
    return menu;
}

QMenu* RowActionsDelegate::openMenu(const QModelIndex& index) {
    if (!view_ || !index.isValid()) return nullptr;
    view_->scrollTo(index);
    const QRect row = view_->visualRect(index);
    const QPoint corner(row.left() + margin, row.bottom());
    return openMenu(index, view_->viewport()->mapToGlobal(corner));
}

void RowActionsDelegate::attach(QAbstractItemView& view, int returnAction, int deleteAction) {
    view_ = &view;
    returnAction_ = returnAction;
    deleteAction_ = deleteAction;
    view.setItemDelegate(this);
    // Keys and keyboard menu requests go to the list, a right click to its viewport.
    view.installEventFilter(this);
    view.viewport()->installEventFilter(this);
    exposeRowActions(view);
}

bool RowActionsDelegate::eventFilter(QObject* watched, QEvent* event) {
    // Only menu requests and keys concern the delegate. Looking at the type first also keeps the
    // list out of reach while it is being destroyed: its base class still sends events then, and
    // the list is no longer a list to be looked at.
    if (event->type() != QEvent::ContextMenu && event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    if (!view_ || (watched != view_ && watched != view_->viewport()))
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::ContextMenu) {
        const auto* request = static_cast<QContextMenuEvent*>(event);
        if (request->reason() == QContextMenuEvent::Keyboard) {
            openMenu(view_->currentIndex());
        } else {
            const QPoint at =
                watched == view_ ? view_->viewport()->mapFrom(view_, request->pos()) : request->pos();
            openMenu(view_->indexAt(at), request->globalPos());
        }
        return true;
    }
    if (watched == view_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QModelIndex current = view_->currentIndex();
        if (key->key() == Qt::Key_Menu ||
            (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier)) {
            openMenu(current);
            return true;
        }
        int action = -1;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) action = returnAction_;
        if (key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace) action = deleteAction_;
        if (action >= 0 && current.isValid() && hasActions(current)) {
            trigger(current, action);
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
