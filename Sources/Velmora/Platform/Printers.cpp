#include <Velmora/Platform/Printers.hpp>

#include <Velmora/Platform/CupsJob.hpp>

namespace velmora::Printers {

PrinterList installed(std::chrono::milliseconds patience) {
    CupsJob::Limits limits;
    limits.patience = patience;
    const CupsJob::Destinations found = CupsJob::destinations(limits);
    PrinterList list;
    for (const std::string& name : found.names)
        list.names.append(QString::fromStdString(name));
    list.defaultName = QString::fromStdString(found.defaultName);
    return list;
}

} // namespace velmora::Printers
