#include <Velmora/Views/Shared/Sheet.hpp>

#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Palette.hpp>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QFormLayout>
#include <QInputMethod>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace velmora {

QPushButton* makeButton(const QString& title, const QString& objectName, QWidget* parent) {
    auto* button = new QPushButton(title, parent);
    button->setObjectName(objectName);
    button->setAccessibleName(title);
    button->setAutoDefault(false);
    return button;
}

QPushButton* makeProminentButton(const QString& title, const QString& objectName, QWidget* parent) {
    QPushButton* button = makeButton(title, objectName, parent);
    QFont font = button->font();
    font.setBold(true);
    button->setFont(font);
    button->setDefault(true);
    return button;
}

QLineEdit* makeField(const QString& label, const QString& objectName, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(objectName);
    field->setAccessibleName(label);
    field->setPlaceholderText(label);
    field->setClearButtonEnabled(true);
    return field;
}

QLabel* makePlainLabel(const QString& text, const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

QLabel* makeSheetTitle(const QString& text, QWidget* parent) {
    QLabel* title = makePlainLabel(text, QStringLiteral("sheetTitle"), parent);
    scaleFont(*title, 1.35, true);
    return title;
}

QLabel* makeCaption(const QString& text, const QString& objectName, QWidget* parent) {
    QLabel* caption = makePlainLabel(text, objectName, parent);
    caption->setWordWrap(true);
    makeSecondary(*caption);
    return caption;
}

QLabel* makeErrorLine(QWidget* parent) {
    QLabel* line = makePlainLabel(QString(), QStringLiteral("error"), parent);
    line->setWordWrap(true);
    colours::paintText(*line, colours::destructive);
    line->hide();
    return line;
}

void showError(QLabel& line, const QString& text) {
    line.setText(text);
    line.setVisible(!text.isEmpty());
}

void commitPendingEdits(QWidget& root) {
    if (QWidget* focus = QApplication::focusWidget(); focus && (focus == &root || root.isAncestorOf(focus)))
        QGuiApplication::inputMethod()->commit();
    for (QAbstractSpinBox* box : root.findChildren<QAbstractSpinBox*>())
        if (box->isVisibleTo(&root)) box->interpretText();
}

QLineEdit* addFormField(QFormLayout& form, const QString& label, const QString& objectName, QWidget* parent) {
    QLineEdit* field = makeField(label, objectName, parent);
    form.addRow(label, field);
    return field;
}

} // namespace velmora
