/* The window and dialog callbacks of plug-ins.
 *
 * A dialog is run from a description: an array of items ended by an item of kind
 * VEXA_DIALOG_END. The workstation keeps the items' values in its own model (below) so
 * that they can be read and set from any thread; the interface shows them. Windows are
 * named by identifiers from a table of live windows (the main window, data windows,
 * dialogs), never by pointers: an unknown or stale identifier does nothing and returns
 * 0. Setters return 1 on success.
 *
 * A dialog procedure, when given, runs on the interface thread: once with item
 * VEXA_DIALOG_INIT before the dialog shows, then for each button pressed and each
 * check or radio button the user toggles. For a push button, a procedure that returns
 * 0 (or no procedure) lets the dialog end with the button's identifier as result.
 * Closing the dialog by its window ends it with VEXA_DIALOG_CANCEL.
 *
 * A modal run blocks until the dialog ends and returns its result (-1 when it could
 * not be shown); unless the result is VEXA_DIALOG_CANCEL or not positive, the final
 * values are written back into the description: the text of edit fields, the state of
 * check and radio buttons. A modeless run returns the dialog's window identifier (0
 * when it could not be shown); the description is only read during the call. */
#ifndef VEXA_DIALOGAPI_H
#define VEXA_DIALOGAPI_H

#include "vexa_export.h"
#include "vexa_plugin.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The description's items, kinds and procedure: declared once, in the SDK. */

VEXA_API unsigned int dozDialogRunFromDESC(VexaDialogItemDesc* desc, VexaDialogProc proc);
/* userData is handed to every call of the procedure. */
VEXA_API unsigned int dozDialogWithDataRunFromDESC(
    VexaDialogItemDesc* desc, VexaDialogProc proc, void* userData);
VEXA_API int dozDialogModalRunFromDESC(VexaDialogItemDesc* desc, VexaDialogProc proc);
VEXA_API int dozDialogModalWithDataRunFromDESC(
    VexaDialogItemDesc* desc, VexaDialogProc proc, void* userData);
/* Ends a dialog with a result (a modal run returns it). */
VEXA_API int dozDialogEnd(unsigned int window, int result);

/* The main window's identifier (0 without an interface) and the window of a datum. */
VEXA_API unsigned int dozDataGetMainHwnd(void);
VEXA_API unsigned int dozDataGetHwnd(unsigned int id);
/* A dialog ends as if closed by the user (VEXA_DIALOG_CANCEL); a data window closes.
 * The main window is never closed. */
VEXA_API int dozWindowClose(unsigned int window);
/* As dozWindowClose, but a dialog ends with result 0. */
VEXA_API int dozWindowDestroy(unsigned int window);

VEXA_API int dozWindowEnableItem(unsigned int window, int item, int enable);
VEXA_API int dozWindowSetItemText(unsigned int window, int item, const char* text);
/* Copies the item's text into buffer (size bytes, NUL included, cut at a character
 * boundary) and returns its length in bytes; 0 for an unknown item. */
VEXA_API int dozWindowGetItemText(unsigned int window, int item, char* buffer, int size);
/* Check and radio buttons: their state. Edit fields: the number they hold. */
VEXA_API int dozWindowSetItemInt(unsigned int window, int item, int value);
/* The integer the item holds (a real is cut towards 0), its state for check and
 * radio buttons; 0 when it holds no number. */
VEXA_API int dozWindowGetItemInt(unsigned int window, int item);
/* Ten significant digits; Real2 with that many decimals (0 to 15). */
VEXA_API int dozWindowSetItemReal(unsigned int window, int item, double value);
VEXA_API int dozWindowSetItemReal2(unsigned int window, int item, double value, int decimals);
/* Adds delta to the number an edit field holds (none counts as 0); the MinMax forms
 * keep the result in [min, max] and refuse min > max. */
VEXA_API int dozWindowModifyItemInt(unsigned int window, int item, int delta);
VEXA_API int dozWindowModifyItemIntMinMax(
    unsigned int window, int item, int delta, int min, int max);
VEXA_API int dozWindowModifyItemReal(unsigned int window, int item, double delta);
VEXA_API int dozWindowModifyItemRealMinMax(
    unsigned int window, int item, double delta, double min, double max);
VEXA_API int dozWindowCheckButton(unsigned int window, int item, int checked);
/* Checks the button checked and clears the other check and radio buttons whose
 * identifiers lie in [first, last]; 0 when none lies there. */
VEXA_API int dozWindowCheckRadioButton(unsigned int window, int first, int last, int checked);

/* Image position (samples, fractional) under a pixel of an image window's image area
 * at its current zoom and scroll; ...2 takes a screen position. 0 when the datum has
 * no image window (or, for screen positions, no interface). */
VEXA_API int dozDataGetPositionFromScreen(unsigned int id, int x, int y, double* px, double* py);
VEXA_API int dozDataGetPositionFromScreen2(
    unsigned int id, int screenX, int screenY, double* px, double* py);

#ifdef __cplusplus
}

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexa::plugins {

struct DialogItem {
    int kind = VEXA_DIALOG_LABEL;
    int id = 0;
    std::string text;
    bool checked = false;
    bool enabled = true;
    // Radio buttons: their group (the run of consecutive radios), 0 otherwise.
    int group = 0;
};

struct DialogModel {
    std::string title;
    std::vector<DialogItem> items;

    DialogItem* find(int id);
    const DialogItem* find(int id) const;
};

// The model of a description, or nothing (and a French message in error) for a null
// description, an unknown kind, or no end within VEXA_DIALOG_MAX_ITEMS items.
std::optional<DialogModel> parseDialogDescription(
    const VexaDialogItemDesc* desc, std::string* error = nullptr);
// Final values back into the description the model was parsed from.
void writeBackDialogDescription(const DialogModel& model, VexaDialogItemDesc* desc);

// Item operations on a model; false for an unknown item or one that has no such value.
bool dialogSetText(DialogModel& model, int id, const std::string& text);
bool dialogSetInt(DialogModel& model, int id, int value);
std::optional<int> dialogGetInt(const DialogModel& model, int id);
bool dialogSetReal(DialogModel& model, int id, double value, int decimals = -1);
bool dialogModifyInt(DialogModel& model, int id, int delta, std::optional<int> min = {},
    std::optional<int> max = {});
bool dialogModifyReal(DialogModel& model, int id, double delta, std::optional<double> min = {},
    std::optional<double> max = {});
// Sets a check or radio button; checking a radio clears the others of its group.
bool dialogCheck(DialogModel& model, int id, bool checked);
bool dialogCheckRange(DialogModel& model, int first, int last, int checked);

// What the interface needs of a live dialog. The dialog widget reads the model, and
// reports what the user does; all run on the interface thread.
std::optional<DialogModel> dialogSnapshot(std::uint32_t window);
void dialogUserText(std::uint32_t window, int item, const std::string& text);
void dialogUserChecked(std::uint32_t window, int item, bool checked);
void dialogUserPressed(std::uint32_t window, int item);
// The dialog window is gone (whatever closed it); the user closing it gives
// VEXA_DIALOG_CANCEL unless the dialog already ended.
void dialogClosed(std::uint32_t window);
// True once the dialog ended (or when it is unknown): the widget must go.
bool dialogEnded(std::uint32_t window);
int dialogResult(std::uint32_t window);

// Forgets every window identifier (end of run, tests).
void dialogResetWindows();

} // namespace vexa::plugins
#endif

#endif
