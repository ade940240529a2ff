/* Writing a Vexa plug-in.
 *
 * A plug-in is a shared library (".so") that links nothing of the workstation. The
 * workstation loads it (menu "Librairies", the configuration's LIBRARY/PATH items, or
 * a file dropped on the main window) and calls its exports by name:
 *
 *   GetLibraryVersion(char version[200])      optional: "major.minor.patch"; from
 *                                             "1.0.5" on the library is of level 2,
 *                                             from "1.0.3" of level 1, else level 0
 *   SetCallbackFunction(VexaCallbackLookup)   required: keep the lookup, resolve the
 *                                             callbacks you need with it
 *   dozLibraryInit(void* library)             levels 1 and 2: build and insert menus
 *   dozLibraryEnd(void* library)              optional, before unloading
 *
 * Level 0 libraries (no version) answer GetMenuParametres, GetMenuFromNumber and
 * GetLibrairieFunction instead of dozLibraryInit (see the prototypes below).
 *
 * Commands run as tasks, on a worker thread of their own when "Multitâche" is checked:
 * take inputs with vexaImageGetIn/vexaBlockGetIn, declare and fill outputs, report
 * progress and check dozTaskShouldStop; everything a task holds is released when the
 * procedure returns.
 *
 * Every callback is obtained by name from the lookup; an unknown name shows the box
 * "Fonction Inconnue !" and yields a function that does nothing. Arrays the
 * workstation returns are freed with the callback "dozDataFree". */
#ifndef VEXA_PLUGIN_H
#define VEXA_PLUGIN_H

#include "vexa_types.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__) || defined(__clang__)
#define VEXA_PLUGIN_EXPORT __attribute__((visibility("default")))
#else
#define VEXA_PLUGIN_EXPORT
#endif

/* The lookup and what it returns: cast the result to the callback's own type. */
typedef void (*VexaCallback)(void);
typedef VexaCallback (*VexaCallbackLookup)(const char* name);

/* Procedures of menu items. Level 2 items run procedure(0) and learn which item they
 * serve from dozTaskGetMenuId; level 1 items run dispatcher(0, argument, identifier);
 * the level 0 dispatcher runs (0, argument, 0). */
typedef void (*VexaLibraryProcedure)(void* handle);
typedef void (*VexaLibraryDispatcher)(void* handle, intptr_t argument, int identifier);

/* Locations of dozLibraryAddMenu (prefixes of the location keyword). */
#define VEXA_MENU_PROCESSING "MENU_SYNTHESE" /* main window, "Traitements" */
#define VEXA_MENU_2D "MENU_2D" /* image windows, "Traitement 2D" */
#define VEXA_MENU_3D "MENU_3D" /* volume windows, "Traitement 3D" */

/* Menu descriptions (dozMenuCreateFromDESC): a base identifier, then entries of a
 * 200-byte label and a code; item identifiers are base + code. */
#define VEXA_MENU_END (-5)
#define VEXA_MENU_SEPARATOR (-4)
#define VEXA_MENU_OPEN 0
#define VEXA_MENU_CLOSE (-1)
#define VEXA_MENU_CLOSE_ALT (-7) /* also closes a sub-menu */
typedef struct {
    char text[200];
    int32_t code;
} VexaMenuDescEntry;

/* Task input and output slot kinds (dozDataSetNumber, dozDataGetIdByCount). */
enum VexaSlotKind {
    VEXA_SLOT_IMAGE_IN = 0,
    VEXA_SLOT_IMAGE_OUT = 1,
    VEXA_SLOT_BLOCK_IN = 2,
    VEXA_SLOT_BLOCK_OUT = 3,
    VEXA_SLOT_STUDY_IN = 4,
    VEXA_SLOT_GRAPH_OUT = 5,
    VEXA_SLOT_VIEW3D_IN = 6,
    VEXA_SLOT_VIEW3D_OUT = 7
};

/* Types of the callbacks most plug-ins use, under the names they are looked up by. */
typedef void* (*dozMenuCreate_t)(const char* text);
typedef int (*dozMenuAddItem_t)(void* menu, intptr_t value, const char* text);
typedef int (*vexaMenuAddItem_t)(void* menu, const char* text, void* procedure);
typedef int (*dozMenuAddSeparator_t)(void* menu);
typedef int (*dozMenuAddSubMenu_t)(void* menu, void* subMenu);
typedef void* (*dozLibraryAddMenu_t)(
    void* library, const char* keyword, void* menu, void* dispatcher);
typedef void* (*vexaLibraryAddMenu_t)(void* library, const char* keyword, void* menu);
typedef void* (*dozMenuCreateFromDESC_t)(const void* desc);
typedef int (*dozMenuComputeNumberIdFromDESC_t)(const void* desc);
typedef int (*dozTaskGetMenuId_t)(void* handle);

typedef int (*dozMsg_t)(const char* text);
typedef int (*dozMsgFormat_t)(const char* format, ...);
typedef int (*dozMsgBox_t)(const char* caption, const char* text);
typedef int (*dozMsgBoxYNC_t)(const char* caption, const char* text);
typedef int (*dozBoxParameter_t)(const char* description, ...);

typedef unsigned int (*vexaImageGetIn_t)(void);
typedef unsigned int (*vexaBlockGetIn_t)(void);
typedef int (*dozDataGetWidth_t)(unsigned int id);
typedef int (*dozDataGetHeight_t)(unsigned int id);
typedef int (*dozDataGetDepth_t)(unsigned int id);
typedef int (*dozDataGetTypeData_t)(unsigned int id);
typedef void* (*dozDataGetPtr_t)(unsigned int id);
typedef void* (*dozDataFree_t)(void* p);
typedef int (*dozDataRedraw_t)(unsigned int id);
typedef int (*dozDataSetImageNumberTypeSize_t)(
    void* handle, int count, int type, int width, int height);
typedef unsigned int (*dozDataGetIdByCount_t)(void* handle, int slotKind, int n);
typedef int (*dozTaskSetIntervalProgress_t)(void* handle, int a, int b);
/* Progress calls wait while the task is suspended from the task window, and
 * dozTaskSetProgress returns 0 once it was asked to stop. */
typedef int (*dozTaskSetProgress_t)(void* handle, int position);
/* "dozTaskShouldStop": 1 once the user asked the task to stop ("Arrêter" in the task
 * window), else 0. Long work calls it every 100 ms or so and returns promptly when it
 * answers 1; the task's outputs are then closed. While the task is suspended the call
 * waits until it is resumed or stopped. */
typedef int (*dozTaskShouldStop_t)(void* handle);

/* Meshes exchanged with the workstation. A Mesh3d and every array in it are malloc
 * blocks; free a mesh the workstation gave you with "vexaMesh3dFree". */
#define MESH3D_NAME_CHARS 52

typedef struct Mesh3dExtra {
    double matrix[16]; /* 4x4 placement, row-major, row vectors: translation in 12..14 */
    char name[MESH3D_NAME_CHARS]; /* "CUBE", "SPHERE", "CONE", "CYLINDER" */
    int32_t hasMatrix; /* 1: the scene object takes matrix as its placement */
    uint8_t* colours; /* 4 bytes per vertex, or null; owned by the block */
} Mesh3dExtra;

typedef struct Mesh3d {
    int32_t nbPoints;
    double* points; /* x, y, z per vertex */
    int32_t nbTriangles;
    int32_t* triangles; /* three 0-based indices per triangle */
    Mesh3dExtra* extra; /* optional */
} Mesh3d;

typedef Mesh3d* (*vexaMesh3dCube_t)(void);
typedef Mesh3d* (*vexaMesh3dSphere_t)(int32_t precision);
typedef Mesh3d* (*vexaMesh3dArrow_t)(
    const double from[3], const double to[3], double radius, int32_t precision);
typedef int (*vexaMesh3dFree_t)(Mesh3d* mesh);
typedef int (*vexaMesh3dScale_t)(Mesh3d* mesh, double sx, double sy, double sz);
typedef int (*vexaMesh3dTranslate_t)(Mesh3d* mesh, double dx, double dy, double dz);

/* 3D views and their objects. An object is made apart (vexaObject3dCreate), set up,
 * then moved into a view (vexaView3dAddObject3d); setters keep working on it there.
 * Views are named by the identifier vexaView3dNew gave (or a View 3D's record). An
 * unknown view or object, a null pointer or a refused value does nothing and returns
 * 0; success is 1. Object types: 1 mesh, 2 curve, 3 volume, 4 textured slice,
 * 5 primitive. Wrapping: 0 clamp, 1 repeat, 2 mirror. */
typedef unsigned int (*vexaView3dNew_t)(void);
typedef void* (*vexaView3dShow_t)(unsigned int viewId);
typedef unsigned int (*vexaObject3dCreate_t)(int type); /* the object, 0 for a bad type */
typedef int (*vexaObject3dSetName_t)(unsigned int objectId, const char* name);
typedef int (*vexaObject3dSetColor_t)(
    unsigned int objectId, double r, double g, double b, double a); /* each in [0, 1] */
typedef int (*vexaObject3dSetTransparency_t)(unsigned int objectId, double transparency);
/* Copies the mesh; with extra->hasMatrix 1 its matrix places the object, and
 * extra->colours colour its vertices. */
typedef int (*vexaObject3dSetMesh3d_t)(unsigned int objectId, const Mesh3d* mesh);
/* A tube of that radius through count points (3 doubles each). */
typedef int (*vexaObject3dSetCurve3d_t)(
    unsigned int objectId, const double* points, int32_t count, double radius);
/* RGBA pixels, first row first, sides up to 16384; uv: u, v per mesh point or null. */
typedef int (*vexaObject3dSetTexture_t)(unsigned int objectId, const uint8_t* rgba, int width,
    int height, const float* uv, int32_t nbPoints);
typedef int (*vexaObject3dSetWrapping_t)(unsigned int objectId, int wrapping);
/* Makes the object a volume of a block's samples (value scale applied) mapped through
 * [low, high] onto the block's palette; a voxel is as opaque as its level is high, so
 * values at low and below are clear. low == high takes the block's own range. Sides
 * up to 2048 and 2^28 voxels. Drawn in the box (0, 0, 0) .. (dimX, dimY, dimZ) until
 * vexaObject3dSetVolumeLocation moves it. */
typedef int (*vexaObject3dSetVolumeData_t)(
    unsigned int objectId, unsigned int blockId, double low, double high);
/* The volume's box in data units: first corner and sizes (finite, sizes positive). */
typedef int (*vexaObject3dSetVolumeLocation_t)(
    unsigned int objectId, double x, double y, double z, double width, double height, double depth);
/* Makes the object a volume of nx x ny x nz floats (x fastest, copied) coloured by a
 * transfer function of count points (2 to 4096), 5 doubles each: value, red, green,
 * blue, alpha; values strictly increasing, components in [0, 1], alpha the opacity
 * of one voxel's thickness. */
typedef int (*vexaObject3dSetVolume_t)(unsigned int objectId, const float* values, int nx, int ny,
    int nz, const double* transfer, int32_t count);
/* The camera frames the scene after an add to an empty view, and after later adds
 * while nobody has moved it. */
typedef int (*vexaView3dAddObject3d_t)(unsigned int viewId, unsigned int objectId);
typedef int (*vexaView3dDeleteObject3d_t)(unsigned int viewId, unsigned int objectId);
/* How many objects of that name were removed. */
typedef int (*vexaView3dDeleteObject3dByName_t)(unsigned int viewId, const char* name);
/* The reference box, in data units. */
typedef int (*vexaView3dGetSize_t)(
    unsigned int viewId, double* width, double* height, double* depth);
typedef int (*vexaView3dSetSize_t)(unsigned int viewId, double width, double height, double depth);
/* Eye, target and up vector; zoom 1 frames the scene (not positive: unchanged). */
typedef int (*vexaView3dSetCamera_t)(unsigned int viewId, const double eye[3],
    const double target[3], const double up[3], double zoom);
/* A new RGBA image (an output of the task) of the rendered view; 0 without OpenGL. */
typedef unsigned int (*vexaView3dSnapshot_t)(unsigned int viewId, int width, int height);
/* The mesh as a new object of the 3D view of an image (or of the view id names). */
typedef unsigned int (*dozDataAddSurface3d_t)(
    unsigned int id, const Mesh3d* mesh, const char* name, double r, double g, double b);
typedef unsigned int (*dozDataGetView3D_t)(unsigned int imageId);

/* Dialogs run from a description: items ended by VEXA_DIALOG_END. Consecutive radio
 * buttons form a group; a label followed by an edit field shares its row. Windows
 * (dialogs, data windows, the main window) are named by identifiers; an unknown one
 * does nothing and returns 0. The procedure runs on the interface thread: with item
 * VEXA_DIALOG_INIT before showing, then per button pressed or check/radio toggled; a
 * push button whose procedure returns 0 ends the dialog with its identifier. Closing
 * the window gives VEXA_DIALOG_CANCEL. A modal run returns the result (-1: not shown)
 * and, for a positive result other than VEXA_DIALOG_CANCEL, writes the final texts of
 * edit fields and states of check/radio buttons back into the description. A modeless
 * run returns the dialog's window (0: not shown); read its items with the
 * dozWindowGetItem* callbacks. */
#ifndef VEXA_DIALOG_DESC_DEFINED
#define VEXA_DIALOG_DESC_DEFINED
#define VEXA_DIALOG_END 0
#define VEXA_DIALOG_TITLE 1
#define VEXA_DIALOG_LABEL 2
#define VEXA_DIALOG_TEXT 3
#define VEXA_DIALOG_INT 4
#define VEXA_DIALOG_REAL 5
#define VEXA_DIALOG_CHECK 6
#define VEXA_DIALOG_RADIO 7
#define VEXA_DIALOG_BUTTON 8
#define VEXA_DIALOG_INIT 0
#define VEXA_DIALOG_OK 1
#define VEXA_DIALOG_CANCEL 2
#define VEXA_DIALOG_MAX_ITEMS 512
typedef struct {
    int32_t kind;
    int32_t id; /* 0 for items never named */
    char text[200]; /* label, or value of an edit field */
    int32_t value; /* check and radio buttons: state */
} VexaDialogItemDesc;
typedef int (*VexaDialogProc)(unsigned int window, int item, void* userData);
#endif
typedef unsigned int (*dozDialogRunFromDESC_t)(VexaDialogItemDesc* desc, VexaDialogProc proc);
typedef unsigned int (*dozDialogWithDataRunFromDESC_t)(
    VexaDialogItemDesc* desc, VexaDialogProc proc, void* userData);
typedef int (*dozDialogModalRunFromDESC_t)(VexaDialogItemDesc* desc, VexaDialogProc proc);
typedef int (*dozDialogModalWithDataRunFromDESC_t)(
    VexaDialogItemDesc* desc, VexaDialogProc proc, void* userData);
typedef int (*dozDialogEnd_t)(unsigned int window, int result);
typedef unsigned int (*dozDataGetMainHwnd_t)(void);
typedef unsigned int (*dozDataGetHwnd_t)(unsigned int id);
/* Close: a dialog ends with VEXA_DIALOG_CANCEL, Destroy: with 0; a data window closes;
 * the main window never does. */
typedef int (*dozWindowClose_t)(unsigned int window);
typedef int (*dozWindowDestroy_t)(unsigned int window);
typedef int (*dozWindowEnableItem_t)(unsigned int window, int item, int enable);
typedef int (*dozWindowSetItemText_t)(unsigned int window, int item, const char* text);
/* Length copied (size counts the NUL). */
typedef int (*dozWindowGetItemText_t)(unsigned int window, int item, char* buffer, int size);
/* Check/radio buttons: their state; edit fields: their number (0 when none). */
typedef int (*dozWindowSetItemInt_t)(unsigned int window, int item, int value);
typedef int (*dozWindowGetItemInt_t)(unsigned int window, int item);
typedef int (*dozWindowSetItemReal_t)(unsigned int window, int item, double value);
typedef int (*dozWindowSetItemReal2_t)(unsigned int window, int item, double value, int decimals);
typedef int (*dozWindowModifyItemInt_t)(unsigned int window, int item, int delta);
typedef int (*dozWindowModifyItemIntMinMax_t)(
    unsigned int window, int item, int delta, int min, int max);
typedef int (*dozWindowModifyItemReal_t)(unsigned int window, int item, double delta);
typedef int (*dozWindowModifyItemRealMinMax_t)(
    unsigned int window, int item, double delta, double min, double max);
typedef int (*dozWindowCheckButton_t)(unsigned int window, int item, int checked);
typedef int (*dozWindowCheckRadioButton_t)(unsigned int window, int first, int last, int checked);

/* 2D overlays. Positions: image samples (fractional) under a pixel of an image
 * window's image area, or (…2) under a screen point, at the current zoom and scroll. */
typedef int (*dozDataGetPositionFromScreen_t)(
    unsigned int id, int x, int y, double* px, double* py);
typedef int (*dozDataGetPositionFromScreen2_t)(
    unsigned int id, int screenX, int screenY, double* px, double* py);
/* Four strokes (across, down, both diagonals) size samples long; size 0: a fixed mark. */
typedef unsigned int (*dozDataAddAsteriskRGB_t)(unsigned int id, double x, double y, double size,
    const char* name, double r, double g, double b, int width);
typedef unsigned int (*dozDataAddArrowRGB_t)(unsigned int id, double x1, double y1, double x2,
    double y2, const char* name, double r, double g, double b, int width);
/* Points of the image's fault line (the first line of that name, "Faille" for null):
 * their count; up to capacity are copied. */
typedef int (*dozDataGetFaille_t)(
    unsigned int id, const char* name, double* xs, double* ys, int capacity);

/* Video streams and video files. A stream is a film datum named by its identifier
 * (vexaVideoGetId: the most recently activated one, 0 when none): its current frame
 * is the input picture, and an output picture, once asked for, is shown instead.
 * Pictures are TYPEDATA_RGBA (the default, 4 bytes a pixel, rows top first) or
 * TYPEDATA_U8 (mean of red, green and blue); the workstation owns both buffers, valid
 * until the next frame. Files are written from RGBA frames: AVI (Motion JPEG), or MP4
 * when the name ends in ".mp4"; a file that could not be finished leaves an existing
 * file of that name as it was. An unknown identifier returns 0 (-1 for the frame
 * number). The doz names are the same functions (dozDataFlux...). */
typedef int (*VexaVideoFrameCallback)(unsigned int videoId, void* userData);
typedef unsigned int (*vexaVideoGetId_t)(void);
typedef int (*vexaVideoSetFormatIn_t)(unsigned int videoId, int typeData);
typedef int (*vexaVideoSetFormatOut_t)(unsigned int videoId, int typeData);
typedef void* (*vexaVideoGetDataIn_t)(unsigned int videoId);
typedef void* (*vexaVideoGetDataOut_t)(unsigned int videoId); /* zeroed at first */
typedef int (*vexaVideoGetWidth_t)(unsigned int videoId);
typedef int (*vexaVideoGetHeight_t)(unsigned int videoId);
typedef void* (*vexaVideoGetUserData_t)(unsigned int videoId);
typedef int (*vexaVideoSetUserData_t)(unsigned int videoId, void* userData);
/* Called after each new frame with the stream and its user data; null removes it. */
typedef int (*vexaVideoInitializeCallback_t)(unsigned int videoId, VexaVideoFrameCallback callback);
typedef int (*vexaVideoCapture_t)(unsigned int videoId); /* next frame; 0 at the end */
typedef int (*vexaVideoStart_t)(unsigned int videoId, int on); /* play / pause */
/* Seconds: whole stream, played up to the end of the current frame, current frame. */
typedef double (*vexaVideoGetDuration_t)(unsigned int videoId);
typedef double (*vexaVideoGetCurrentDuration_t)(unsigned int videoId);
typedef double (*vexaVideoGetTime_t)(unsigned int videoId);
typedef int (*vexaVideoGetNumberOfFrames_t)(unsigned int videoId);
typedef int (*vexaVideoGetNoCurrentFrame_t)(unsigned int videoId); /* from 0 */
typedef int (*vexaVideoMoveTo_t)(unsigned int videoId, int frame);
typedef int (*vexaVideoRefreshOut_t)(unsigned int videoId);
typedef int (*vexaVideoFileCreate_t)(const char* path); /* a file number, 0 on failure */
/* Size and frames per second, before the first frame. */
typedef int (*vexaVideoFileSet_t)(int file, int width, int height, double framesPerSecond);
typedef int (*vexaVideoFileAddFrame_t)(int file, const uint8_t* rgba);
typedef int (*vexaVideoFileClose_t)(int file); /* 0: not finished, nothing replaced */

/* Exports of a plug-in. */
VEXA_PLUGIN_EXPORT void GetLibraryVersion(char* version);
VEXA_PLUGIN_EXPORT void SetCallbackFunction(VexaCallbackLookup lookup);
VEXA_PLUGIN_EXPORT void dozLibraryInit(void* library);
VEXA_PLUGIN_EXPORT void dozLibraryEnd(void* library);
VEXA_PLUGIN_EXPORT void GetMenuParametres(int* menuCount, int* identifierCount);
VEXA_PLUGIN_EXPORT void GetMenuFromNumber(
    void** menu, char* location, int index, int firstIdentifier);
VEXA_PLUGIN_EXPORT VexaLibraryDispatcher GetLibrairieFunction(void);

#ifdef __cplusplus
}
#endif

#endif
