/* The message callbacks of plug-ins: lines for the message log and message boxes.
 *
 * All may be called from worker tasks. Log lines are posted to the interface thread,
 * which appends them to the first channel of the log; the caller does not wait.
 * Message boxes are modal, owned by no window, and block the caller until answered.
 * A null text is taken as an empty one. Names joined by "=" are one function in the
 * callback table. */
#ifndef VEXA_MESSAGEAPI_H
#define VEXA_MESSAGEAPI_H

#include "vexa_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Longest line dozMsgFormat produces, without its terminating NUL. */
#define VEXA_MSG_FORMAT_MAX_CHARS 9999

/* Posts a copy of text as a log line. 1 when posted, 0 when it could not be (memory).
 * = dozPlusMsg = vexaMsg */
VEXA_API int dozMsg(const char* text);

/* Formats printf-style and posts the result as dozMsg does; a result longer than
 * VEXA_MSG_FORMAT_MAX_CHARS is cut there. An empty result (or a null format) posts
 * nothing and returns 0; otherwise the result of dozMsg.
 * = dozPlusMsgFormat = vexaMsgFormat */
VEXA_API int dozMsgFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

/* Message box with an OK button; the caption comes first. Returns the answer code of
 * the box: 1 for OK, 2 when it was closed otherwise or no interface is running.
 * = dozPlusMsgBox */
VEXA_API int dozMsgBox(const char* caption, const char* text);

/* Message box with Yes, No and Cancel: 0 for Yes, 1 for No, 2 for anything else.
 * = dozPlusMsgBoxYNC */
VEXA_API int dozMsgBoxYNC(const char* caption, const char* text);

#ifdef __cplusplus
}
#endif

#endif
