#pragma once

class QAbstractItemView;

namespace velmora {

// Gives `view`, whose item delegate is a RowActionsDelegate, an accessible interface of its own: a
// list whose rows are list items that offer the row's actions by their labels, "Mostrar menú"
// (the same menu as the menu key) and "Seleccionar". Qt's own list items only offer selection, so
// a screen reader could not reach the buttons the delegate draws.
void exposeRowActions(QAbstractItemView& view);

} // namespace velmora
