/* vexaFile: image files described by a file descriptor, read and written block by
 * block.
 *
 * A FileDescriptor names one image file and says what it holds: its stored
 * dimensions (DimX, DimY, DimZ), sample type (TYPEDATA_* of vexa_types.h), where the
 * samples start (OffsetData), their byte order (Endian) and order in the file (plain,
 * Transpose: planes stored column by column, Tiled: 32 x 32 x 32 cubes). A descriptor
 * holds no open file: every operation looks the file up by name. Reads may keep a
 * read-only mapping of a file for the next ones (a few files at most); it is used
 * only while the name still leads to the same unchanged file, and is dropped when
 * the file is written through this library or its descriptor is released. A
 * descriptor may instead be a logical volume made of parts, each part a descriptor
 * of its own covering a box of the volume.
 *
 * Recognised on reading (vexaFileReadHeader, in this order): an XML logical volume
 * description (root "LOGICAL"), a GDR text header, an INRIA binary header (two
 * variants), a picture file (BMP, PNG, JPEG, GIF, PNM) and an uncompressed TIFF.
 * Written (vexaFileWriteHeader): GDR, INRIA, DF3 and RAW (no header).
 *
 * Conventions: every function accepts a null descriptor and then does nothing,
 * returning 0, null or an empty string. Results are 1 for success and 0 for failure.
 * Buffers returned by the read functions are zero-filled allocations the caller
 * frees with vexaFileFree. Usable from C and C++; no function throws. */
#ifndef VEXAFILE_H
#define VEXAFILE_H

#include "vexa_export.h"
#include "vexa_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque to callers. */
typedef struct FileDescriptor FileDescriptor;
typedef struct LogicalPart LogicalPart;

/* Header kinds for vexaFileSetHeader. 0 counts as GDR; any unknown kind as INRIA. */
enum VexaFileHeaderKind {
    VEXAFILE_HEADER_GDR = 1,
    VEXAFILE_HEADER_INRIA = 2,
    VEXAFILE_HEADER_DF3 = 3,
    VEXAFILE_HEADER_RAW = 4
};

/* Write combinations for vexaFileSetOp: the new file sample is the written one (0),
 * written + stored (1), written x stored (2), the smaller (3, stored when equal),
 * the larger (4, written when equal); 99 writes nothing. 1 to 4 are computed in
 * double precision and stored with the clamping and truncation of vexaMemConvert. */
enum VexaFileOp {
    VEXAFILE_OP_REPLACE = 0,
    VEXAFILE_OP_ADD = 1,
    VEXAFILE_OP_MULTIPLY = 2,
    VEXAFILE_OP_MIN = 3,
    VEXAFILE_OP_MAX = 4,
    VEXAFILE_OP_NONE = 99
};

/* Orientations of a box: how the box axes (u, v, w) run through the volume.
 * FRONT 0: u along x, v along y, w along z (XY planes).
 * RIGHT 1: u along z, v along y, w along x (ZY planes).
 * TOP 2:   u along x, v along z from the last plane to the first, w along y
 *          (XZ planes; box row r holds z = DimZ - 1 - (sv + r)). */
enum VexaFileOrientation { VEXAFILE_FRONT = 0, VEXAFILE_RIGHT = 1, VEXAFILE_TOP = 2 };

/* ---- Descriptor lifecycle ---- */

/* New zero-filled descriptor with Endian = 1. Release it with vexaFileRelease. */
VEXA_API FileDescriptor* vexaFileNew(void);
/* New descriptor carrying a copy of path when the file can be opened for reading;
 * null otherwise. The header is not read. */
VEXA_API FileDescriptor* vexaFileNameOpen(const char* path);
/* Releases the descriptor, its name and its logical parts (recursively). */
VEXA_API void vexaFileRelease(FileDescriptor* desc);
/* Frees a buffer returned by the read functions; null is accepted. */
VEXA_API void vexaFileFree(void* buffer);

/* ---- Headers ---- */

/* Fills the descriptor from its file, trying the recognised forms in order. 1 when
 * one of them accepts the file; 0 otherwise (the descriptor's layout fields are then
 * left as they were). Sizes that are not positive, whose byte count overflows, an
 * unknown type or a directory pointing outside the file are refused. Endian is kept
 * for GDR and INRIA files (1 by default: their 2- and 4-byte samples are big-endian);
 * pictures and TIFF files set it. */
VEXA_API int vexaFileReadHeader(FileDescriptor* desc);
/* Writes the header of the descriptor's kind (vexaFileSetHeader), creating or
 * truncating the file; GDR and INRIA headers are then read back into the descriptor
 * (OffsetData 256 or 4096). DF3 writes the three sizes as big-endian 16-bit numbers
 * and sets OffsetData to 6; RAW writes nothing. The sizes are those of
 * vexaFileGetSizes. 0, with nothing written, when the header cannot represent the
 * descriptor (a GDR width or height above 999999 or depth above 99999, INRIA or DF3
 * sizes above 65535, sizes not positive, a type the header has no code for) or the
 * file cannot be written. */
VEXA_API int vexaFileWriteHeader(FileDescriptor* desc);
/* Reads the number that follows "key ... =" in the comment area of an INRIA header
 * (up to the end of the line). 1 when the number parses cleanly; 0 when the file has
 * no INRIA header, the key or the "=" is missing (value untouched) or the text is not
 * a clean number (value holds what was parsed). Digits, one "." or "," as decimal
 * point, "-" for the sign, "E"/"e" for a decimal exponent; anything else, a space
 * included, ends the number as an error. */
VEXA_API int vexaFileGetComment(FileDescriptor* desc, const char* key, double* value);

/* ---- Logical volumes ---- */

/* Appends part (owned from now on, released with desc) covering the inclusive box
 * (x0..x1, y0..y1, z0..z1) of the volume. Note the argument order: the three lower
 * corners, then the three upper ones. 1 on success; 0 when desc or part is null or
 * part is desc itself (part is then not taken). */
VEXA_API int vexaFileAddLogicalPart(
    FileDescriptor* desc, FileDescriptor* part, int x0, int y0, int z0, int x1, int y1, int z1);
/* 1 when the descriptor has at least one part. */
VEXA_API int vexaFileIsLogical(FileDescriptor* desc);

/* ---- Accessors ---- */

/* The stored name (owned by the descriptor), or "" when there is none. */
VEXA_API const char* vexaFileGetFullName(FileDescriptor* desc);
/* Replaces the stored name by a copy of name (null clears it). */
VEXA_API void vexaFileSetFullName(FileDescriptor* desc, const char* name);

/* Sizes as the system sees them: (DimX, DimY, DimZ), or (DimY, DimX, DimZ) when
 * Transpose is set. Null output pointers are skipped. */
VEXA_API void vexaFileGetSizes(FileDescriptor* desc, int* width, int* height, int* depth);
/* Stores DimX = width, DimY = height (exchanged when Transpose is set), DimZ = depth.
 * Set the sizes first and Transpose afterwards: setting Transpose moves nothing. */
VEXA_API void vexaFileSetSizes(FileDescriptor* desc, int width, int height, int depth);

/* Plain fields. Getters return 0 for a null descriptor; setters store the value as
 * given and derive nothing (setting TypeData leaves NbBits and Sign alone). */
VEXA_API int vexaFileGetDimX(FileDescriptor* desc);
VEXA_API void vexaFileSetDimX(FileDescriptor* desc, int value);
VEXA_API int vexaFileGetDimY(FileDescriptor* desc);
VEXA_API void vexaFileSetDimY(FileDescriptor* desc, int value);
VEXA_API int vexaFileGetDimZ(FileDescriptor* desc);
VEXA_API void vexaFileSetDimZ(FileDescriptor* desc, int value);
VEXA_API int vexaFileGetNbBits(FileDescriptor* desc);
VEXA_API void vexaFileSetNbBits(FileDescriptor* desc, int value);
VEXA_API int vexaFileGetEndian(FileDescriptor* desc);
VEXA_API void vexaFileSetEndian(FileDescriptor* desc, int value);
VEXA_API int vexaFileGetSign(FileDescriptor* desc);
VEXA_API void vexaFileSetSign(FileDescriptor* desc, int value);
VEXA_API int vexaFileGetTypeData(FileDescriptor* desc);
VEXA_API void vexaFileSetTypeData(FileDescriptor* desc, int value);
VEXA_API int vexaFileGetOffsetData(FileDescriptor* desc);
VEXA_API void vexaFileSetOffsetData(FileDescriptor* desc, int value);
/* Transpose and Tiled exclude each other: setting one non-zero clears the other. */
VEXA_API int vexaFileGetTranspose(FileDescriptor* desc);
VEXA_API void vexaFileSetTranspose(FileDescriptor* desc, int value);
VEXA_API int vexaFileGetTiled(FileDescriptor* desc);
VEXA_API void vexaFileSetTiled(FileDescriptor* desc, int value);
/* Header kind for vexaFileWriteHeader (VexaFileHeaderKind). */
VEXA_API void vexaFileSetHeader(FileDescriptor* desc, int kind);
/* The kind of header vexaFileReadHeader found: VEXAFILE_HEADER_GDR or _INRIA; 0 for
 * the other forms (logical volume, picture, TIFF) and before any header was read. */
VEXA_API int vexaFileGetHeaderFound(FileDescriptor* desc);
/* Write combination (VexaFileOp). */
VEXA_API void vexaFileSetOp(FileDescriptor* desc, int op);

/* ---- Samples ----
 *
 * A box is given by its corner (su, sv, sw) and extents (u, v, w) in the box axes of
 * the orientation (VexaFileOrientation). Corners may be negative and boxes may reach
 * outside the volume: only the part inside is transferred. A negative extent counts
 * by its absolute value. The caller's buffer holds u x v x w samples of the
 * descriptor's type, u fastest. Samples are converted from and to the file's byte
 * order; parts of a logical volume whose type differs are converted on reading and
 * writing (clamped and truncated). */

/* New zero-filled buffer of the box, with the file samples inside the volume filled
 * in (samples missing from a short file stay 0). Null for a zero extent, an unknown
 * orientation or type, a file that cannot be opened or a box too large to allocate.
 * Free with vexaFileFree. */
VEXA_API void* vexaFileReadBlockPart(
    FileDescriptor* desc, int orientation, int su, int sv, int sw, int u, int v, int w);
/* The whole volume: vexaFileReadBlockPart(desc, 0, 0, 0, 0, DimX, DimY, DimZ). */
VEXA_API void* vexaFileReadBlock(FileDescriptor* desc);
/* A one-sample-deep box: vexaFileReadBlockPart(desc, orientation, su, sv, index, u, v, 1). */
VEXA_API void* vexaFileReadImagePart(
    FileDescriptor* desc, int orientation, int su, int sv, int index, int u, int v);
/* The whole plane at index: X x Y (FRONT), Z x Y (RIGHT) or X x Z (TOP, last plane on
 * the top row). */
VEXA_API void* vexaFileReadImage(FileDescriptor* desc, int orientation, int index);

/* Writes the part of the box inside the volume, combined with the stored samples by
 * the descriptor's Op. The buffer is not modified. The file must exist (its header
 * written first); it grows as needed. 1 when the samples were written (or Op is 99,
 * or the box lies outside the volume); 0 for a zero extent, an unknown orientation
 * or type, a picture or TIFF file (read only), or a file that cannot be opened or
 * written. */
VEXA_API int vexaFileWriteBlockPart(FileDescriptor* desc, const void* buffer, int orientation,
    int su, int sv, int sw, int u, int v, int w);
VEXA_API int vexaFileWriteBlock(FileDescriptor* desc, const void* buffer);
VEXA_API int vexaFileWriteImagePart(FileDescriptor* desc, const void* buffer, int orientation,
    int su, int sv, int index, int u, int v);
VEXA_API int vexaFileWriteImage(
    FileDescriptor* desc, const void* buffer, int orientation, int index);
/* Opens the file for update and closes it again; the contents are not changed.
 * 1 when the file could be opened. */
VEXA_API int vexaFileWriteFull(FileDescriptor* desc);

/* ---- Large files ----
 *
 * Files whose samples take more than this many bytes are never kept mapped: every
 * page of a mapping that a read touches stays resident in the process, and a section
 * across a large file touches all of them. Their reads go through positioned reads
 * instead, so the memory they hold is the result's. The default is a quarter of the
 * physical memory; 0 or less restores it. The limit applies to the
 * reads that follow. */
VEXA_API void vexaFileSetMappedFileLimit(long long bytes);
VEXA_API long long vexaFileGetMappedFileLimit(void);

/* ---- Failures ---- */

/* Why the last failed call of this library on the calling thread failed, in French
 * and naming the file first ("<fichier> : <raison>"); "" when the last call that can
 * fail (opening, headers, transfers) succeeded. The text belongs to the library and
 * stays valid until the next call on the same thread. The library shows nothing:
 * the caller decides whether the user sees it. */
VEXA_API const char* vexaFileGetLastError(void);

/* 1 when the descriptor, or one of its logical parts at any depth, names the file
 * at path (the same file on disk, whatever name reaches it); 0 otherwise or when
 * path does not exist. Writing over such a file would change what the descriptor
 * reads. */
VEXA_API int vexaFileUsesFile(FileDescriptor* desc, const char* path);

#ifdef __cplusplus
}
#endif

#endif
