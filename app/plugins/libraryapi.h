/* The menu and library callbacks handed to plug-ins through the callback table.
 *
 * A plug-in builds a tree of menu nodes (dozMenuCreate, dozMenuAddItem,
 * vexaMenuAddItem, dozMenuAddSeparator, dozMenuAddSubMenu) and inserts it into one of
 * the workstation's processing menus with dozLibraryAddMenu or vexaLibraryAddMenu;
 * inserting consumes the tree. Menu handles ("native menus") returned by
 * dozMenuCreateFromDESC are what a level-0 library hands back from GetMenuFromNumber.
 * Every function runs on the interface thread; none throws. Names joined by "=" are
 * bound to one function in the table. */
#ifndef VEXA_LIBRARYAPI_H
#define VEXA_LIBRARYAPI_H

#include "vexa_export.h"

#include <stdint.h>

#ifdef __cplusplus
#define VEXA_LIBRARY_NOTHROW noexcept
extern "C" {
#else
#define VEXA_LIBRARY_NOTHROW
#endif

/* Procedures of plug-in commands. Level 0 and 1: (0, argument, identifier), the level-0
 * dispatcher getting (0, argument, 0). Level 2: (0). */
typedef void (*VexaLibraryDispatcher)(void* handle, intptr_t argument, int identifier);
typedef void (*VexaLibraryProcedure)(void* handle);

/* New sub-menu node labelled text (null: empty label). = vexaMenuCreate */
VEXA_API void* dozMenuCreate(const char* text) VEXA_LIBRARY_NOTHROW;
/* Appends an item whose command hands value to the library's dispatcher. */
VEXA_API int dozMenuAddItem(void* menu, intptr_t value, const char* text) VEXA_LIBRARY_NOTHROW;
/* Appends an item that runs procedure (a VexaLibraryProcedure at level 2, a
 * VexaLibraryDispatcher at level 1). */
VEXA_API int vexaMenuAddItem(void* menu, const char* text, void* procedure) VEXA_LIBRARY_NOTHROW;
/* = vexaMenuAddSeparator */
VEXA_API int dozMenuAddSeparator(void* menu) VEXA_LIBRARY_NOTHROW;
/* Appends subMenu as a child of menu. = vexaMenuAddSubMenu */
VEXA_API int dozMenuAddSubMenu(void* menu, void* subMenu) VEXA_LIBRARY_NOTHROW;

/* Inserts the tree at location keyword + "," + its root's text ("MENU_2D", "MENU_3D",
 * "MENU_SYNTHESE", ...); returns the built menu handle, null when nothing could be
 * inserted. library is the handle given to dozLibraryInit. */
VEXA_API void* dozLibraryAddMenu(
    void* library, const char* keyword, void* menu, void* dispatcher) VEXA_LIBRARY_NOTHROW;
VEXA_API void* vexaLibraryAddMenu(
    void* library, const char* keyword, void* menu) VEXA_LIBRARY_NOTHROW;
/* Builds the tree as a context menu of the datum's window (dataId) and shows it at
 * screen point (x, y); 1 when shown. */
VEXA_API int vexaLibraryAddMenuPopup(
    void* library, unsigned int dataId, int x, int y, void* menu) VEXA_LIBRARY_NOTHROW;
/* Loads the shared library at path and hands value to its SetCallbackFunction; 1 when
 * it has one. The library is not registered. */
VEXA_API int vexaLibraryFakeLoad(void* ignored, const char* path, void* value) VEXA_LIBRARY_NOTHROW;

/* Menu handle built from a description (menudesc.h); identifiers base + code. */
VEXA_API void* dozMenuCreateFromDESC(const void* desc) VEXA_LIBRARY_NOTHROW;
/* The identifiers a description needs. */
VEXA_API int dozMenuComputeNumberIdFromDESC(const void* desc) VEXA_LIBRARY_NOTHROW;

/* The callback lookup function handed to every library's SetCallbackFunction. */
typedef void (*VexaCallback)(void);
typedef VexaCallback (*VexaCallbackLookup)(const char* name);

#ifdef __cplusplus
}
#endif

#endif
