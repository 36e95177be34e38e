#include "Failure.hpp"

#include <cerrno>
#include <cstring>

namespace velmora::admin {

std::string systemReason(int code) {
    switch (code) {
    case EACCES:
    case EPERM:
        return "permiso denegado";
    case ENOENT:
        return "no existe";
    case ENOTDIR:
        return "una parte de la ruta no es una carpeta";
    case EISDIR:
        return "es una carpeta";
    case ENOSPC:
        return "no queda espacio en el disco";
    case EDQUOT:
        return "se ha agotado la cuota de disco";
    case EROFS:
        return "el disco es de solo lectura";
    case ENOMEM:
        return "memoria insuficiente";
    case EIO:
        return "error de entrada/salida del disco";
    default:
        return std::strerror(code);
    }
}

} // namespace velmora::admin
