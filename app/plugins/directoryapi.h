/* Directory listings and bitmap pictures for plug-ins.
 *
 * Lists are malloc'd arrays of malloc'd names: the caller frees every name and then
 * the array with dozDataFree (or free). */
#ifndef VEXA_DIRECTORYAPI_H
#define VEXA_DIRECTORYAPI_H

#include "vexa_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The names (not paths) of the files of directory, sorted byte by byte, in an array
 * of count + 1 entries whose last one is null; count is written to *count when
 * count is not null. Files are the entries that are regular files, directly or
 * through a symbolic link; hidden ones included. Null, and *count set to 0, when the
 * directory cannot be read (null or missing path, not a directory, no permission)
 * or memory runs out; an empty directory gives an array holding only the null
 * entry. */
VEXA_API char** vexaDirectoryScanGetFiles(const char* directory, int* count);

/* The same for the sub-directories of directory ("." and ".." are not listed). */
VEXA_API char** vexaDirectoryScanGetDirectories(const char* directory, int* count);

/* Saves the image a datum shows (by imageId, or by the blockId of a block image: the
 * section shown) as a BMP picture at path: 24-bit colour for an RGBA image, 8-bit
 * grey with a grey palette otherwise, samples converted to bytes as by the save
 * command. The file is replaced only once the picture is complete. 1 when saved, 0
 * for an unknown identifier, an empty path or a failed write (the old file is then
 * left as it was). = vexaImageSaveBitmap */
VEXA_API int dozDataSaveDib(unsigned int id, const char* path);

#ifdef __cplusplus
}
#endif

#endif
