#pragma once

// moc cannot parse the C++20 concepts the core's headers pull in, and needs none of their types.
#ifndef Q_MOC_RUN
#include <Velmora/Stores/AppStore.hpp>
#endif

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace velmora {

class AppStore;

// The two buttons at the bottom of an editor sheet, leaving then saving.
struct SheetButtons {
    QString cancelTitle = QStringLiteral("Cancelar");
    QString cancelName = QStringLiteral("cancel");
    QString saveTitle = QStringLiteral("Guardar");
    QString saveName = QStringLiteral("save");
    // A destructive confirmation ("Anular pedido") is red and never the Return default.
    bool destructive = false;
};

// What an editor sheet is made of: its title, its form, its red error line and, at the right,
// the button that leaves it ("Cancelar", Escape) and the one that saves ("Guardar", the prominent
// default, Return).
//
// Saving runs one sequence for every sheet: the fields' pending edits are committed, the sheet's
// own check() reads them and may refuse with a text for the error line, and transact() runs the
// change through the controller without waiting. One save runs at a time. When the outcome comes
// back, a refusal of the core (Outcome::refused) goes to the error line with everything as typed;
// a success closes the sheet; any other failure is already in the controller's alert and the
// sheet stays open. A sheet closed meanwhile is never called back.
class EditorSheet : public QDialog {
    Q_OBJECT
public:
    using Buttons = SheetButtons;

    // The red error line's text.
    QString error() const;
    // Whether a change asked for is still being written.
    bool saving() const { return saving_; }

public slots:
    // Checks and saves; closes the sheet on success.
    void save();

protected:
    EditorSheet(AppStore& store, const QString& title, QWidget* parent, Buttons buttons = {});

    // Reads the form into the change to save. A text refuses it before any transaction and goes to
    // the error line (an empty text refuses without a word); nothing lets the save go on.
    virtual std::optional<QString> check() = 0;
    // Runs the checked change through the controller, bound to this sheet, handing `then` on.
    virtual void transact(AppStore::Then then) = 0;

    AppStore& store() const { return store_; }
    // Where the sheet's own content goes, between the title and the error line.
    QVBoxLayout& form() const { return *form_; }
    QLabel& titleLabel() const { return *title_; }
    QPushButton& cancelButton() const { return *cancel_; }
    QPushButton& saveButton() const { return *save_; }
    void setError(const QString& text);
    // An information the controller's alert gives once the sheet has saved and closed.
    void setSavedMessage(const QString& message) { savedMessage_ = message; }

    // Runs another change of the sheet through the controller, one at a time with saving:
    // `command` starts it with the callback to hand to the controller, and `done` hears its outcome.
    // Nothing runs while a change is being written.
    void runChange(const std::function<void(AppStore::Then)>& command,
                   std::function<void(const Outcome&)> done);

private:
    void saved(const Outcome& outcome);

    AppStore& store_;
    QLabel* title_;
    QVBoxLayout* form_;
    QLabel* error_;
    QPushButton* cancel_;
    QPushButton* save_;
    QString savedMessage_;
    bool saving_ = false;
};

} // namespace velmora
