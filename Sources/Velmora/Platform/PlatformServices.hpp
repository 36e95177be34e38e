#pragma once

#include <QSizeF>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <optional>

class QWidget;

namespace velmora {

// The kinds of file a save or open panel lets the user pick.
enum class FileKind {
    any,    // every file
    image,  // PNG and JPEG images
    pdf,    // PDF documents
    backup, // Velmora's backup copies
};

// How an alert presents itself: a warning for failures and for questions before changing data,
// information for what went well.
enum class AlertKind {
    warning,
    information,
};

// A modal confirmation alert: a message, an explanation under it and its buttons, first one first.
struct Confirmation {
    QString message;
    QString informative;
    QStringList buttons;
    AlertKind kind = AlertKind::warning;
};

// What the print dialog is opened with: the document's title, the printer to propose (empty for
// the system's choice) and the paper size in PDF points.
struct PrintRequest {
    QString title;
    QString printer;
    QSizeF paperPoints;
};

// What the user chose in the print dialog: the printer (a CUPS destination name) and the number
// of copies.
struct PrintChoice {
    QString printer;
    int copies = 1;
};

// The desktop's modal panels and alerts and the launching of other applications, behind one small
// interface so that the controller and the screens can be run by tests that answer every panel in
// advance instead of blocking on a modal dialog. Every call runs on the user-interface thread.
//
// Each panel and alert belongs to the window it was opened from (`parent`, or the window of that
// widget): it opens over that window and keeps it in front. Null means the main window.
class PlatformServices {
public:
    virtual ~PlatformServices() = default;

    // A save panel with `title`, proposing the file name `proposedName`; the chosen path, which
    // ends with the extension of `kind`, or nothing when the user cancels.
    virtual std::optional<std::filesystem::path>
    chooseSaveLocation(const QString& title, const QString& proposedName, FileKind kind, QWidget* parent) = 0;

    // An open panel with `title` for a single file of `kind`; the chosen path, or nothing when the
    // user cancels.
    virtual std::optional<std::filesystem::path> chooseFileToOpen(const QString& title, FileKind kind,
                                                                  QWidget* parent) = 0;

    // A modal confirmation alert; the index in `buttons` of the button chosen, or nothing when the
    // alert was dismissed without choosing one.
    virtual std::optional<int> confirm(const Confirmation& confirmation, QWidget* parent) = 0;

    // The system print dialog, where the user picks the printer and the number of copies; nothing
    // when the user cancels it.
    virtual std::optional<PrintChoice> choosePrinter(const PrintRequest& request, QWidget* parent) = 0;

    // Opens a file or a folder with the desktop's default application for it; false when the
    // desktop refused.
    virtual bool openWithDefaultApplication(const std::filesystem::path& path) = 0;
};

} // namespace velmora
