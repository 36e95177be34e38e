#pragma once

#include <QString>

class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace velmora {

// Small builders shared by the sheets and screens, so that every control gets its object name and
// its accessible name (its visible label) in one place.

// A push button labelled `title`.
QPushButton* makeButton(const QString& title, const QString& objectName, QWidget* parent);
// A prominent button: bold, the default of its sheet (Return).
QPushButton* makeProminentButton(const QString& title, const QString& objectName, QWidget* parent);
// A one-line field labelled `label`, which is also its placeholder.
QLineEdit* makeField(const QString& label, const QString& objectName, QWidget* parent);
// A label for text the operator typed or the document holds: always plain text.
QLabel* makePlainLabel(const QString& text, const QString& objectName, QWidget* parent);
// The title of a sheet, in a bold second-level title font.
QLabel* makeSheetTitle(const QString& text, QWidget* parent);
// A caption in the secondary colour.
QLabel* makeCaption(const QString& text, const QString& objectName, QWidget* parent);
// A sheet's red error line, hidden while empty.
QLabel* makeErrorLine(QWidget* parent);
void showError(QLabel& line, const QString& text);

// Makes every editor inside `root` hold what it shows, before an action reads them: text an input
// method is still composing goes into its field, and a spin box's typed number is read (one left
// half-typed shows its value again). A shortcut or a screen reader's press starts an action
// without the focus ever leaving the editor, which is when Qt does this on its own.
void commitPendingEdits(QWidget& root);

// A field made as makeField() makes it, added to `form` as a row labelled `label`.
QLineEdit* addFormField(QFormLayout& form, const QString& label, const QString& objectName, QWidget* parent);

} // namespace velmora
