/* Parameter boxes as seen from C: plug-ins and the program describe a small form in
 * one text ("Taille Entete%dw%dh%dd%dFile%c%n") and bind each field to a variable.
 *
 * Directives, each taking the bindings listed (pointers, in text order):
 *   %d int32*   %f double*   %s char[1000]   %h char[300] path   %l / %L int32* index
 *   %c int32* flag   %P procedure then its argument   %t title   %n end of row
 * The text before a directive is its label; for %l and %L it is the comma-separated
 * list of entries. Letters are case-sensitive; an unknown letter makes the box
 * invalid. A box holds at most PARAM_MAX_ITEMS items; the rest is ignored.
 *
 * Usable from C and C++. */
#ifndef VEXA_PARAMAPI_H
#define VEXA_PARAMAPI_H

#include "vexa_export.h"

#include <stdarg.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ParamBox ParamBox;
typedef struct FileSelector FileSelector;
typedef void (*ParamProcedure)(void* argument);

enum ParamKind {
    PARAM_REAL = 3, /* the code of the double sample type */
    PARAM_FILE = 100,
    PARAM_STRING = 101,
    PARAM_NEWLINE = 102,
    PARAM_TITLE = 103,
    PARAM_LIST = 104,
    PARAM_LONGLIST = 105,
    PARAM_CHECK = 106,
    PARAM_BUTTON = 107,
    PARAM_INT = 108
};

#define PARAM_MAX_ITEMS 200
/* Sizes the bound buffers must have at least. */
#define PARAM_STRING_BUFFER 1000
#define PARAM_PATH_BUFFER 300

/* Parses the description and shows the dialog. 1 when the user validated (the bound
 * variables then hold the new values), 0 when the dialog was closed or cancelled
 * ("Annuler", Escape), the description is invalid (nothing shown, variables untouched)
 * or no dialog can be shown. */
VEXA_API int dozBoxParameter(const char* description, ...);
VEXA_API int dozBoxParameterV(const char* description, va_list bindings);

/* Appends the items of the description to box (a new empty box when box is null) and
 * sets the box's valid flag from this parse. Returns the box; null only when memory
 * runs out. A null description counts as a failed parse. */
VEXA_API ParamBox* dozBoxParameterAdd(ParamBox* box, const char* description, ...);
VEXA_API ParamBox* dozBoxParameterAddV(ParamBox* box, const char* description, va_list bindings);

/* Shows a box built by dozBoxParameterAdd. The box is consumed by this call whatever
 * the result (also when it is invalid): it must not be used afterwards. 0 for a null
 * or invalid box or a closed dialog, 1 when validated. */
VEXA_API int dozBoxParameterDialog(ParamBox* box);

/* The program's own dialogs also offer "Annuler" (and Escape), which ends them with 0.
 * Plug-ins reach the two calls below instead, through the callback table: their
 * dialogs keep the single "Ok" button and ignore Escape, as plug-ins were written for
 * a dialog that only "Ok", Enter and the window's close control end. */
VEXA_API int dozBoxParameterPlugin(const char* description, ...);
VEXA_API int dozBoxParameterDialogPlugin(ParamBox* box);

/* Releases a box that will never be shown. Null is accepted. */
VEXA_API void dozBoxParameterRelease(ParamBox* box);

/* File selectors: the record behind the "Choix" button of file fields. All accept a
 * null selector and then do nothing. */
VEXA_API FileSelector* dozFileInit(void* owner, const char* title);
/* Initial file of the chooser; at most PARAM_PATH_BUFFER - 1 characters are kept. */
VEXA_API void dozFileSetName(FileSelector* selector, const char* name);
/* Runs the open-file chooser; nonzero when a file was chosen. */
VEXA_API int dozFileSelectorOpen(FileSelector* selector);
/* The selector's file-name buffer (the chosen full path); null for a null selector. */
VEXA_API char* dozFileGetName(FileSelector* selector);
/* Releases the selector; always 0. */
VEXA_API int dozFileDestroy(FileSelector* selector);

#ifdef __cplusplus
}
#endif

#endif
