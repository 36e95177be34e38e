#pragma once

#include <Velmora/Platform/Printers.hpp>

// moc cannot parse the C++20 concepts the core's headers pull in, and needs none of their types.
#ifndef Q_MOC_RUN
#include <PizzaCore/Models/Settings.hpp>
#endif

#include <QDialog>
#include <QFutureWatcher>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTimeEdit;

namespace velmora {

class AppStore;
class PictureLoader;
class TicketPreview;

// The application's settings window: one for the whole run, opened from the menu, by the
// standard shortcut or by "Ajustes…" in the sidebar. It edits a private copy of the document's
// settings, loaded each time the window is shown, and stores it only when "Guardar ajustes" is
// pressed (Return); closing the window with edits not saved (Escape, its close button, quitting)
// asks before discarding them. Backup and restore act at once. Its panels and alerts open over it.
class SettingsWindow : public QDialog {
    Q_OBJECT
public:
    // `printers` lists the printers offered; the print system's by default. It is called on a
    // thread of its own each time the window opens, so a print system slow to answer never
    // holds the window.
    explicit SettingsWindow(
        AppStore& store, QWidget* parent = nullptr,
        PrinterSource printers = [] { return Printers::installed(); });

    // Shows the window, or brings it to the front when it is already open.
    void present();

    // The copy being edited.
    const pizzacore::Settings& edited() const { return settings_; }
    // The ticket drawn with the edited copy.
    TicketPreview& preview() const { return *preview_; }
    // Whether the last save succeeded and nothing was edited since.
    bool saved() const { return saved_; }
    // Whether the edited copy differs from the settings in force.
    bool hasUnsavedEdits() const;

    // Closes the window, after asking whether to discard edits not saved; stays open when the
    // operator does not confirm.
    void reject() override;

    // Whether the printer list is still being asked for.
    bool listingPrinters() const { return listing_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeBusinessTab();
    QWidget* makeTicketsTab();
    QWidget* makeClosingTab();
    QWidget* makeDataTab();
    QWidget* makeBottomBar();

    // Takes the document's settings as the copy to edit and shows them.
    void load();
    // Shows the edited copy in every field.
    void showSettings();
    void showLogo();
    void showLoadedLogo();
    void showPrinters();
    // Asks for the printer list away from this thread; it is shown when it comes.
    void listPrinters();
    void showPrintOnConfirm();
    void showTimeZones();
    void showStatus();
    // Records an edit made through `apply`, unless the fields are being filled from the copy.
    template <class F>
    void edit(F&& apply);

    void save();
    void importLogo();
    void restore();
    void openDataFolder();

    AppStore& store_;
    PrinterSource printers_;
    pizzacore::Settings settings_;
    bool saved_ = false;
    bool filling_ = false;
    PrinterList installed_;
    bool listing_ = false;
    QFutureWatcher<PrinterList> listed_;

    QTabWidget* tabs_ = nullptr;
    QLineEdit* business_ = nullptr;
    QLineEdit* taxID_ = nullptr;
    QLineEdit* phone_ = nullptr;
    QLineEdit* address_ = nullptr;
    QLineEdit* footer_ = nullptr;
    QLabel* logo_ = nullptr;
    // Decodes the logo for its preview off the window's thread.
    PictureLoader* logoLoader_ = nullptr;
    QPushButton* removeLogo_ = nullptr;
    QComboBox* paper_ = nullptr;
    QComboBox* printer_ = nullptr;
    QLabel* systemPrinter_ = nullptr;
    QCheckBox* printOnConfirm_ = nullptr;
    QCheckBox* openDrawerOnCash_ = nullptr;
    QCheckBox* printReportOnClose_ = nullptr;
    QCheckBox* saveCardOnConfirm_ = nullptr;
    QLineEdit* callerIDDevice_ = nullptr;
    QCheckBox* kitchen_ = nullptr;
    QCheckBox* bar_ = nullptr;
    QCheckBox* customer_ = nullptr;
    QCheckBox* fullCopies_ = nullptr;
    QComboBox* timeZone_ = nullptr;
    QTimeEdit* closingTime_ = nullptr;
    TicketPreview* preview_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* save_ = nullptr;
};

} // namespace velmora
