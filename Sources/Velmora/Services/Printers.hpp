#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace velmora {

// The printers the print system offers: every destination's name in the order the system lists
// them ("name/instance" for an instance), and the name of the system's default one (empty when
// there is none).
struct PrinterList {
    QStringList names;
    QString defaultName;

    bool operator==(const PrinterList&) const = default;
};

// Where a screen gets the printer list from; tests hand in a fixed one.
using PrinterSource = std::function<PrinterList()>;

namespace Printers {

// The destinations of the local print system (CUPS: the scheduler's printers and classes plus
// the user's lpoptions instances). An unreachable scheduler gives an empty list, never an error:
// printing then goes to whatever the print dialog offers.
PrinterList installed();

} // namespace Printers

} // namespace velmora
