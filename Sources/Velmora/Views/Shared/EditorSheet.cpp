#include <Velmora/Views/Shared/EditorSheet.hpp>

#include <Velmora/Views/Shared/Palette.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

EditorSheet::EditorSheet(AppStore& store, const QString& title, QWidget* parent, Buttons buttons)
    : QDialog(parent)
    , store_(store)
    , title_(makeSheetTitle(title, this))
    , form_(new QVBoxLayout)
    , error_(makeErrorLine(this))
    , cancel_(makeButton(buttons.cancelTitle, buttons.cancelName, this))
    , save_(buttons.destructive ? makeButton(buttons.saveTitle, buttons.saveName, this)
                                : makeProminentButton(buttons.saveTitle, buttons.saveName, this)) {
    setWindowTitle(title);
    setModal(true);
    if (buttons.destructive) colours::makeDestructive(*save_);
    form_->setContentsMargins(0, 0, 0, 0);
    form_->setSpacing(12);

    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(cancel_);
    row->addWidget(save_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 20);
    layout->setSpacing(12);
    layout->addWidget(title_);
    layout->addLayout(form_, 1);
    layout->addWidget(error_);
    layout->addLayout(row);

    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(save_, &QPushButton::clicked, this, &EditorSheet::save);
}

QString EditorSheet::error() const {
    return error_->text();
}

void EditorSheet::setError(const QString& text) {
    showError(*error_, text);
}

void EditorSheet::save() {
    // One save at a time: a second press while the first is written would record it twice.
    if (saving_) return;
    commitPendingEdits(*this);
    if (const std::optional<QString> refusal = check()) {
        setError(*refusal);
        return;
    }
    runChange([this](AppStore::Then then) { transact(std::move(then)); },
              [this](const Outcome& outcome) { saved(outcome); });
}

void EditorSheet::runChange(const std::function<void(AppStore::Then)>& command,
                            std::function<void(const Outcome&)> done) {
    if (saving_) return;
    saving_ = true;
    command([this, done = std::move(done)](const Outcome& outcome) {
        saving_ = false;
        done(outcome);
    });
}

void EditorSheet::saved(const Outcome& outcome) {
    // A refusal stays in the sheet with what was typed; a failure to write is in the main alert.
    if (outcome.refused) {
        setError(outcome.failure);
        return;
    }
    if (!outcome) return;
    setError(QString());
    // Closing may let the sheet go; what is said afterwards is the controller's.
    AppStore& store = store_;
    const QString message = savedMessage_;
    accept();
    if (!message.isEmpty()) store.setMessage(message, AlertKind::information);
}

} // namespace velmora
