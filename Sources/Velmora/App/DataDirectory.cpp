#include "DataDirectory.hpp"

#include <QStandardPaths>
#include <QString>

#include <cstdlib>

namespace velmora {

std::filesystem::path dataDirectory() {
    if (const char* configured = std::getenv("VELMORA_DATA_DIR"); configured && *configured)
        return std::filesystem::path(configured);
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return std::filesystem::path(base.toStdString()) / "Velmora";
}

} // namespace velmora
