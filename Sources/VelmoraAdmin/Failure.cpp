#include "Failure.hpp"

#include <cerrno>

#include <sys/stat.h>

namespace velmora::admin {

std::string systemReason(int code) {
    // The system's own texts (strerror) are in English whatever the user's language, so every
    // error a file operation can plausibly meet is worded here; the rest keep their number.
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
    case ELOOP:
        return "demasiados enlaces simbólicos encadenados (quizá un enlace que apunta a sí mismo)";
    case ENAMETOOLONG:
        return "el nombre es demasiado largo";
    case EEXIST:
        return "ya existe";
    case ENOTEMPTY:
        return "la carpeta no está vacía";
    case EBUSY:
        return "está en uso";
    case ETXTBSY:
        return "es un programa en uso";
    case EMFILE:
    case ENFILE:
        return "hay demasiados archivos abiertos";
    case EFBIG:
        return "el archivo es demasiado grande";
    case EXDEV:
        return "no se puede mover entre discos distintos";
    case EAGAIN:
        return "el recurso no está disponible ahora; inténtalo de nuevo";
    case EINTR:
        return "la operación se ha interrumpido";
    case EINVAL:
        return "la operación no es válida para este archivo";
    case ENXIO:
    case ENODEV:
        return "el dispositivo no existe o no está conectado";
    case ESTALE:
        return "el archivo de red ya no está disponible";
    case EPIPE:
        return "la salida se ha cerrado";
    case EOVERFLOW:
        return "el archivo es demasiado grande para leerlo";
    case ENOTSUP:
        return "el sistema de archivos no admite esta operación";
    case ETIMEDOUT:
        return "se ha agotado el tiempo de espera";
    case ENOTCONN:
        return "el disco de red no está conectado";
    default:
        return "error del sistema número " + std::to_string(code);
    }
}

std::string fileKind(mode_t mode) {
    if (S_ISDIR(mode)) return "una carpeta";
    if (S_ISFIFO(mode)) return "una tubería";
    if (S_ISSOCK(mode)) return "un socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "un dispositivo";
    return "un archivo especial";
}

} // namespace velmora::admin
