#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
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

// Where a screen gets the printer list from; tests hand in a fixed one. It may wait on the print
// system, so screens call it away from the user-interface thread.
using PrinterSource = std::function<PrinterList()>;

namespace Printers {

// The destinations of the local print system (CUPS: the scheduler's printers and classes plus
// the user's lpoptions instances). An unreachable scheduler, or one that does not answer within
// `patience`, gives an empty list, never an error: printing then goes to whatever the print
// dialog offers.
PrinterList installed(std::chrono::milliseconds patience = std::chrono::milliseconds(8000));

} // namespace Printers

} // namespace velmora
