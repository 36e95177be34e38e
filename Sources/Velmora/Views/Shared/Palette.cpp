#include <Velmora/Views/Shared/Palette.hpp>

#include <QPalette>
#include <QWidget>

namespace velmora::colours {

void paintText(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::ButtonText, colour);
    palette.setColor(QPalette::WindowText, colour);
    widget.setPalette(palette);
}

} // namespace velmora::colours
