/* The data callbacks of the plug-in interface: records, block storage, sections and
 * 2D images, addressed by identifier (imageId or blockId; 0 means none).
 *
 * Conventions: an unknown identifier, or one of the wrong sort (an imageId where a
 * blockId is wanted and the other way round), does nothing and returns 0 (or null).
 * Arrays returned are malloc'd and freed by the caller with dozDataFree. Leading
 * "handle" arguments of the task forms are not used. No function throws.
 *
 * Aliases bound to the same function in the callback table are listed beside each
 * name. */
#ifndef VEXA_DATAAPI_H
#define VEXA_DATAAPI_H

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*DozDataCallback)(unsigned int id, void* eventData, void* userArgument);

/* ---- Memory ---- */

/* Frees p (null accepted); returns null. Aliases vexaFree, dozDataAllocUserData. */
void* dozDataFree(void* p);
/* New zero-filled block of bytes bytes, null when bytes <= 0. Bound to the name
 * dozDataFreeUserData. */
void* dozDataFreeUserData(int bytes);

/* ---- Records ---- */

/* New copy of the name; "" (still to be freed) when the id is unknown.
 * Alias vexaWindowGetName. */
char* dozDataGetName(unsigned int id);
/* Alias vexaWindowSetName. */
int dozDataSetName(unsigned int id, const char* name);
/* Alias vexaWindowRedraw. */
int dozDataRedraw(unsigned int id);
int vexaWindowClose(unsigned int id);
/* Closes the datum as vexaWindowClose does (the newer name). */
int dozDataDelete(unsigned int id);
/* Brackets a run of redraws of the datum's window (an animation): 1, or 0 for an
 * unknown identifier. */
int dozDataAnimateBegin(unsigned int id);
int dozDataAnimateEnd(unsigned int id);
/* imageId of the 3D view the datum is shown in, 0 when none. */
unsigned int dozDataGetView3D(unsigned int id);
/* Aliases dozDataGetLargeur, dozDataGetHauteur, dozDataGetProfondeur. */
int dozDataGetWidth(unsigned int id);
int dozDataGetHeight(unsigned int id);
int dozDataGetDepth(unsigned int id);
/* imageId: the 2D image's samples (not copied). blockId: a new array of dimZ pointers
 * to the front sections of a memory block (free with dozDataFree). */
void* dozDataGetPtr(unsigned int id);
int dozDataGetTypeData(unsigned int id);
/* Value class 0..4 (CLASS_DEFAULT ... CLASS_ORIENTATION): palette, gain and offset.
 * Aliases vexaBlockSetClass (blockId), vexaImageSetClass (imageId). */
int dozDataSetClass(unsigned int id, int valueClass);

/* Clicked and captured points, newest first. X and Y by either identifier, Z by
 * blockId only. */
int dozDataGetClickNumber(unsigned int id);
int* dozDataGetClickX(unsigned int id);
int* dozDataGetClickY(unsigned int id);
int* dozDataGetClickZ(unsigned int id);
int dozDataGetCaptureNumber(unsigned int id);
int* dozDataGetCaptureX(unsigned int id);
int* dozDataGetCaptureY(unsigned int id);
int* dozDataGetCaptureZ(unsigned int id);
/* Older forms: count, and new arrays through the pointers (null pointers skipped). */
int vexaImageGetClickNumber(unsigned int imageId);
int vexaImageGetClickArray(unsigned int imageId, int** x, int** y);
int vexaImageGetCaptureNumber(unsigned int imageId);
int vexaImageGetCaptureArray(unsigned int imageId, int** x, int** y);
int vexaBlockGetClickNumber(unsigned int blockId);
int vexaBlockGetClickArray(unsigned int blockId, int** x, int** y, int** z);
int vexaBlockGetCaptureNumber(unsigned int blockId);
int vexaBlockGetCaptureArray(unsigned int blockId, int** x, int** y, int** z);

/* The block cursor, by either identifier of a block image; 0 without a block. */
int dozDataGetCursorX(unsigned int id);
int dozDataGetCursorY(unsigned int id);
int dozDataGetCursorZ(unsigned int id);

/* User data: named 32-bit values on a datum, or on the global list when no datum has
 * the id. Aliases vexaWindowUserDataNew/Set/Get/Delete. */
int dozDataNewUserData(unsigned int id, const char* name);
int dozDataSetUserData(unsigned int id, const char* name, int value);
int dozDataGetUserData(unsigned int id, const char* name);
int dozDataDeleteUserData(unsigned int id, const char* name);

/* Event callbacks. Aliases vexaWindowCallbackAdd, vexaWindowCallbackSub;
 * GetEvent: vexaWindowCallbackGetEvent, vexaWindowCallbackEventGet,
 * dozDataCallbackEventGet; SetEvent likewise. */
int dozDataCallbackAdd(
    unsigned int id, const char* name, DozDataCallback function, void* userArgument);
int dozDataCallbackSub(unsigned int id, const char* name, DozDataCallback function);
int dozDataCallbackGetEvent(unsigned int id, const char* event, const char* key, void* out);
int dozDataCallbackSetEvent(unsigned int id, const char* event, const char* key, void* value);

/* ---- Block storage ---- */

/* Outputs of the running task not shown yet; n is 1-based among block outputs.
 * dozDataSetBlockSize: aliases dozDataSetBlockTaille, dozDataSetBlocTaille.
 * dozDataSetBlockSizeAll: dozDataSetBlockTailleAll, dozDataSetBlocTailleAll.
 * dozDataSetBlockMemory: dozDataSetBlockEmplacementMemoire, dozDataSetBlocEmplacementMemoire.
 * dozDataSetBlockMemoryAll: dozDataSetBlockEmplacementMemoireAll, ...Bloc...
 * dozDataSetBlockFile: dozDataSetBlockEmplacementFichier, dozDataSetBlocEmplacementFichier. */
int dozDataSetBlockSize(void* handle, int n, int dimX, int dimY, int dimZ);
int dozDataSetBlockSizeAll(void* handle, int dimX, int dimY, int dimZ);
/* slotKind 1: image output n, 3: block output n. */
int dozDataSetType(void* handle, int slotKind, int n, int type);
int dozDataSetTypeAll(void* handle, int slotKind, int type);
int dozDataSetBlockMemory(void* handle, int n);
int dozDataSetBlockMemoryAll(void* handle);
/* Creates the file (header only; Transpose 1 unless mode is 1) and places the block
 * in it. */
int dozDataSetBlockFile(void* handle, int n, int mode, const char* path);
/* Older forms by the output's blockId. */
int vexaBlockSetSize(unsigned int blockId, int dimX, int dimY, int dimZ);
int vexaBlockSetTypeData(unsigned int blockId, int type);
int vexaBlockSetMemory(unsigned int blockId);
int vexaBlockSetFile(unsigned int blockId, int mode, const char* path);

/* Shown blocks. */
int vexaBlockGetSize(unsigned int blockId, int* dimX, int* dimY, int* dimZ);
int vexaBlockGetTypeData(unsigned int blockId);
/* Alias of dozDataGetPtr by blockId. */
void* vexaBlockGetPtrData(unsigned int blockId);
/* By blockId or imageId; null out-pointers skipped. */
int vexaBlockGetCursor(unsigned int id, int* x, int* y, int* z);
/* 1 and the values when they differ from the defaults 0 and 1; else 0, untouched. */
int dozDataGetSpace(unsigned int blockId, double* start, double* step);
/* Alias vexaBlockSetUpdateFile. */
int dozDataSetOp(unsigned int blockId, int op);
int vexaBlockCopyToFile(unsigned int blockId, const char* path);

/* ---- Sections ---- */

/* Whole sections: FRONT z (dimX x dimY), RIGHT x (dimZ x dimY), TOP y (dimX x dimZ,
 * rows from the last z to the first), as type, value scale applied. An index outside
 * gives zeros.
 * dozDataGetFront: vexaBlockGetFront, dozDataGetInline. dozDataGetRight: vexaBlockGetRight.
 * dozDataGetTop: vexaBlockGetTop. */
void* dozDataGetFront(unsigned int blockId, int z, int type);
void* dozDataGetRight(unsigned int blockId, int x, int type);
void* dozDataGetTop(unsigned int blockId, int y, int type);
/* Rectangles (c0, r0, w, h) of sections; outside parts are 0.
 * Aliases vexaBlockGetPartialFront, dozDataGetPartialInline, vexaBlockGetPartialRight,
 * vexaBlockGetPartialTop. */
void* dozDataGetPartialFront(unsigned int blockId, int z, int type, int c0, int r0, int w, int h);
void* dozDataGetPartialRight(unsigned int blockId, int x, int type, int c0, int r0, int w, int h);
void* dozDataGetPartialTop(unsigned int blockId, int y, int type, int c0, int r0, int w, int h);
/* Vertical sections along a path: w = path length, h = dimY. Null for an empty path.
 * Aliases vexaBlockGetImageSONE, vexaBlockGetImageNOSE, vexaBlockGetImageFromTopPatch. */
void* dozDataGetImageSONE(unsigned int blockId, int p, int type, int* w, int* h);
void* dozDataGetImageNOSE(unsigned int blockId, int p, int type, int* w, int* h);
void* dozDataGetImageFromTopPatch(
    unsigned int blockId, int p, int type, const int* dx, const int* dz, int n, int* w, int* h);

/* Writes in the block's type, combined with the block's write operation. FRONT
 * rectangles are clipped; RIGHT and TOP ones are written only when wholly inside.
 * 1 when something was written.
 * Aliases: vexaBlockSetFront = dozDataSetInline = dozDataSetFront, and vexaBlock...
 * for every other one. */
int dozDataSetFront(unsigned int blockId, int z, const void* data);
int dozDataSetRight(unsigned int blockId, int x, const void* data);
int dozDataSetTop(unsigned int blockId, int y, const void* data);
int dozDataSetPartialFront(
    unsigned int blockId, int z, int c0, int r0, const void* data, int w, int h);
int dozDataSetPartialRight(
    unsigned int blockId, int x, int c0, int r0, const void* data, int w, int h);
int dozDataSetPartialTop(
    unsigned int blockId, int y, int c0, int r0, const void* data, int w, int h);
int dozDataSetImageSONE(unsigned int blockId, int p, const void* data);
int dozDataSetImageNOSE(unsigned int blockId, int p, const void* data);
/* The same with data of another type, converted (saturating) to the block's type.
 * dozDataSetFrontByType: vexaBlockSetFrontByType, dozDataSetInlineByType;
 * dozDataSetPartialFrontByType: vexaBlockSetPartialFrontByType,
 * dozDataSetPartialInlineByType; the others: vexaBlockSet...ByType. */
int dozDataSetFrontByType(unsigned int blockId, int z, const void* data, int type);
int dozDataSetRightByType(unsigned int blockId, int x, const void* data, int type);
int dozDataSetTopByType(unsigned int blockId, int y, const void* data, int type);
int dozDataSetPartialFrontByType(
    unsigned int blockId, int z, int c0, int r0, const void* data, int w, int h, int type);
int dozDataSetPartialRightByType(
    unsigned int blockId, int x, int c0, int r0, const void* data, int w, int h, int type);
int dozDataSetPartialTopByType(
    unsigned int blockId, int y, int c0, int r0, const void* data, int w, int h, int type);
int dozDataSetImageSONEByType(unsigned int blockId, int p, const void* data, int type);
int dozDataSetImageNOSEByType(unsigned int blockId, int p, const void* data, int type);

/* ---- 2D images ---- */

int vexaImageGetSize(unsigned int imageId, int* w, int* h);
int vexaImageGetTypeData(unsigned int imageId);
/* The samples, not copied. */
void* vexaImageGetPtrData(unsigned int imageId);
/* New array of the samples as type, with the datum's value scale. Alias vexaImageGetData. */
void* dozDataGetData(unsigned int imageId, int type);
/* Shows w x h samples of type as a new image; returns its imageId, 0 on failure.
 * Alias vexaPopupImage. */
unsigned int dozDataPopup(const void* data, int w, int h, int type);

#ifdef __cplusplus
}
#endif

#endif
