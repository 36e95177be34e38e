#include <Velmora/Services/Printers.hpp>

#include <cups/cups.h>

namespace velmora::Printers {

PrinterList installed() {
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    PrinterList list;
    for (int index = 0; index < count; ++index) {
        const cups_dest_t& dest = dests[index];
        if (!dest.name) continue;
        QString name = QString::fromUtf8(dest.name);
        if (dest.instance) name += QLatin1Char('/') + QString::fromUtf8(dest.instance);
        if (list.names.contains(name)) continue;
        if (dest.is_default && list.defaultName.isEmpty()) list.defaultName = name;
        list.names.append(name);
    }
    cupsFreeDests(count, dests);
    return list;
}

} // namespace velmora::Printers
