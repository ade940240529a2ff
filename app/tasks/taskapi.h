/* Task callbacks handed to plug-ins through the callback table: inputs, outputs,
 * progress, and the storage of block outputs before they are shown.
 *
 * Every callback works on the calling thread's task (the newest task when the thread
 * has none). Leading handle arguments are not used. Identifiers are those the task
 * was given: imageId for images, graphs and 3D views, blockId for blocks. A callback
 * on an unknown identifier, a slot of another kind or an output already shown does
 * nothing and returns 0; success is 1.
 *
 * "n" is the 1-based ordinal of a slot among the task's taskSlots of the same kind.
 * Names joined by "=" below are one function under several names. */
#ifndef VEXA_TASKAPI_H
#define VEXA_TASKAPI_H

#include "vexa_export.h"

#ifdef __cplusplus
#define VEXA_NOTHROW noexcept
extern "C" {
#else
#define VEXA_NOTHROW
#endif

/* Inputs, most recently activated first; each returns its identifier or 0 when every
 * datum of the kind is held already. vexaBlockGetIn takes only images holding a
 * block, and returns the blockId. */
VEXA_API unsigned int vexaImageGetIn(void) VEXA_NOTHROW;
VEXA_API unsigned int vexaBlockGetIn(void) VEXA_NOTHROW;
VEXA_API unsigned int vexaStudyGetIn(void) VEXA_NOTHROW;
VEXA_API unsigned int vexaView3dGetIn(void) VEXA_NOTHROW;

/* Outputs: an image of 512 x 512 TYPEDATA_U8, a block of 64 x 64 x 64 TYPEDATA_U8 in
 * memory, a graph or a 3D view of 200 x 200. Each returns the identifier of the new
 * output (blockId for the block), 0 outside any task. */
VEXA_API unsigned int vexaImageNew(void) VEXA_NOTHROW;
VEXA_API unsigned int vexaBlockNew(void) VEXA_NOTHROW;
VEXA_API unsigned int vexaGraphNew(void) VEXA_NOTHROW;
VEXA_API unsigned int vexaView3dNew(void) VEXA_NOTHROW;

/* Configuration of outputs not shown yet. Sizes must be positive, types one of the
 * nine codes. */
VEXA_API int vexaImageSetTypeData(unsigned int imageId, int type) VEXA_NOTHROW;
VEXA_API int vexaImageSetSize(unsigned int imageId, int width, int height) VEXA_NOTHROW;
VEXA_API int vexaGraphSetSize(unsigned int imageId, int width, int height) VEXA_NOTHROW;

/* Shows an output now and returns its record (an opaque pointer), or null. */
VEXA_API void* vexaImageShow(unsigned int imageId) VEXA_NOTHROW;
VEXA_API void* vexaBlockShow(unsigned int blockId) VEXA_NOTHROW;
VEXA_API void* vexaGraphShow(unsigned int imageId) VEXA_NOTHROW;
VEXA_API void* vexaView3dShow(unsigned int imageId) VEXA_NOTHROW;

/* dozDataSetNumber = dozDataSetNombre. Input kinds (0, 2, 4, 6): 0 when the task
 * already holds inputs of that kind, else takes up to count of them and returns 1.
 * Output kinds (1, 3, 5, 7): declares count outputs, 1. Other kinds: 1, nothing done. */
VEXA_API int dozDataSetNumber(void* handle, int slotKind, int count) VEXA_NOTHROW;
VEXA_API int dozDataSetNombre(void* handle, int slotKind, int count) VEXA_NOTHROW;

/* Declares count image outputs, then gives every image output of the task that type
 * and size. = dozDataSetImageNombreTypeTaille */
VEXA_API int dozDataSetImageNumberTypeSize(
    void* handle, int count, int type, int width, int height) VEXA_NOTHROW;
VEXA_API int dozDataSetImageNombreTypeTaille(
    void* handle, int count, int type, int width, int height) VEXA_NOTHROW;
/* The same for block outputs. = dozDataSetBlockNombreTypeTaille =
 * dozDataSetBlocNombreTypeTaille */
VEXA_API int dozDataSetBlockNumberTypeSize(
    void* handle, int count, int type, int dimX, int dimY, int dimZ) VEXA_NOTHROW;
VEXA_API int dozDataSetBlockNombreTypeTaille(
    void* handle, int count, int type, int dimX, int dimY, int dimZ) VEXA_NOTHROW;
VEXA_API int dozDataSetBlocNombreTypeTaille(
    void* handle, int count, int type, int dimX, int dimY, int dimZ) VEXA_NOTHROW;

/* Size of image output n / of all image outputs. = dozDataSetImageTaille,
 * dozDataSetImageTailleAll */
VEXA_API int dozDataSetImageSize(void* handle, int n, int width, int height) VEXA_NOTHROW;
VEXA_API int dozDataSetImageTaille(void* handle, int n, int width, int height) VEXA_NOTHROW;
VEXA_API int dozDataSetImageSizeAll(void* handle, int width, int height) VEXA_NOTHROW;
VEXA_API int dozDataSetImageTailleAll(void* handle, int width, int height) VEXA_NOTHROW;
VEXA_API int dozDataSetGraphSize(void* handle, int n, int width, int height) VEXA_NOTHROW;
VEXA_API int dozDataSetGraphSizeAll(void* handle, int width, int height) VEXA_NOTHROW;

/* Identifier of slot n of a kind (blockId for kinds 2 and 3, imageId otherwise); an
 * output not shown yet is shown first. 0 for a kind outside 0..7 or a missing slot. */
VEXA_API unsigned int dozDataGetIdByCount(void* handle, int slotKind, int n) VEXA_NOTHROW;

/* Progress interval: equal bounds make one step (a to a + 1).
 * = dozTacheSetIntervalProgression; vexaProgressSetMinMax without the handle. */
VEXA_API int dozTaskSetIntervalProgress(void* handle, int a, int b) VEXA_NOTHROW;
VEXA_API int dozTacheSetIntervalProgression(void* handle, int a, int b) VEXA_NOTHROW;
VEXA_API int vexaProgressSetMinMax(int a, int b) VEXA_NOTHROW;
/* Progress position, accepted (1) only inside the interval. While the task is
 * suspended the call waits until it is resumed; once the task was asked to stop it
 * returns 0. = dozTacheSetProgression; vexaProgressSetPosition without the handle. */
VEXA_API int dozTaskSetProgress(void* handle, int position) VEXA_NOTHROW;
VEXA_API int dozTacheSetProgression(void* handle, int position) VEXA_NOTHROW;
VEXA_API int vexaProgressSetPosition(int position) VEXA_NOTHROW;
/* Restarts the task's compute-time clock. = vexaProgressReset without the handle. */
VEXA_API int dozTaskResetTimer(void* handle) VEXA_NOTHROW;
VEXA_API int vexaProgressReset(void) VEXA_NOTHROW;
/* 1 once the user asked the calling thread's task to stop, else 0 (and 0 outside
 * tasks). While the task is suspended the call waits until it is resumed or stopped.
 * A stopped task's outputs are closed when it ends. */
VEXA_API int dozTaskShouldStop(void* handle) VEXA_NOTHROW;
/* The plug-in's own identifier of the menu item that started the task; 0 when the
 * command number is 100000 or more or no plug-in table knows it. */
VEXA_API int dozTaskGetMenuId(void* handle) VEXA_NOTHROW;

/* The storage callbacks of block outputs (dozDataSetBlockSize, dozDataSetType,
 * dozDataSetBlockMemory, dozDataSetBlockFile, their "All" forms, French names and
 * vexaBlockSet* forms) live with the block storage (data/dataapi.h); they reach the
 * task's pending outputs through the PendingOutputs interface the task manager
 * installs. */

#ifdef __cplusplus
}
#endif

#endif
