// Failure reasons: the French text a failed operation hands back so that the
// interface can show it (message box, log line) or not. Functions that can fail
// take an optional std::string* and fill it with setReason. A reason about a file
// names the file first, "<fichier> : <raison>", so that the user sees at once which
// of several files is at fault.
//
// Header-only and free of any other dependency: the libraries (vexaFile) and every
// core layer use the same wording.
#pragma once

#include <cerrno>
#include <string>
#include <utility>

namespace vexa {

// Stores text in *reason when the caller asked for a reason.
inline void setReason(std::string* reason, std::string text)
{
    if (reason)
        *reason = std::move(text);
}

// "<file> : <text>".
inline std::string fileReason(const std::string& file, const std::string& text)
{
    return file + " : " + text;
}

// What a system error number means for the user, in French.
inline std::string systemErrorText(int err)
{
    switch (err) {
    case ENOSPC:
        return "disque plein";
    case EDQUOT:
        return "quota disque dépassé";
    case EFBIG:
        return "taille maximale de fichier dépassée";
    case EACCES:
    case EPERM:
        return "accès refusé";
    case EROFS:
        return "système de fichiers en lecture seule";
    case ENOENT:
        return "fichier ou dossier introuvable";
    case ENOTDIR:
        return "un élément du chemin n'est pas un dossier";
    case EISDIR:
        return "c'est un dossier";
    case ENAMETOOLONG:
        return "nom trop long";
    case ELOOP:
        return "trop de liens symboliques";
    case EIO:
        return "erreur d'entrée-sortie";
    case ENOMEM:
        return "mémoire insuffisante";
    case EMFILE:
    case ENFILE:
        return "trop de fichiers ouverts";
    case EBUSY:
    case ETXTBSY:
        return "fichier occupé";
    case EXDEV:
        return "dossiers sur des systèmes de fichiers différents";
    default:
        return "erreur système " + std::to_string(err);
    }
}

// "<text> (<cause>)" for a failure with an error number; text alone without one.
inline std::string withCause(const std::string& text, int err)
{
    return err != 0 ? text + " (" + systemErrorText(err) + ")" : text;
}

} // namespace vexa
