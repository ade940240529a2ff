/* Video stream and video file callbacks.
 *
 * A stream is a film datum (a DATA_AVI record) named by its identifier: its current
 * frame is the input picture, and a plug-in may draw an output picture that the
 * window shows instead. Frames are RGBA (4 bytes per pixel, rows top first) or U8
 * (the mean of red, green and blue). Video files are written frame by frame from RGBA
 * pictures: AVI with Motion JPEG, or MP4 when the name ends in ".mp4". Every callback
 * does nothing and returns 0 for an unknown identifier or a null pointer; success is 1
 * unless told otherwise. Names joined by "=" are one function in the callback table. */
#ifndef VEXA_VIDEOAPI_H
#define VEXA_VIDEOAPI_H

#include "vexa_export.h"
#include "vexa_plugin.h" /* VexaVideoFrameCallback */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The most recently activated film datum, 0 when none is open. = dozDataFluxGetId */
VEXA_API unsigned int vexaVideoGetId(void);
/* Format of the input (resp. output) picture: TYPEDATA_RGBA (the default) or
 * TYPEDATA_U8. = dozDataFluxSetFormatIn, dozDataFluxSetFormatOut */
VEXA_API int vexaVideoSetFormatIn(unsigned int videoId, int typeData);
VEXA_API int vexaVideoSetFormatOut(unsigned int videoId, int typeData);
/* The current frame in the input format: width x height samples owned by the datum,
 * valid until the next frame or format change; null before any frame.
 * = dozDataFluxGetDataIn */
VEXA_API void* vexaVideoGetDataIn(unsigned int videoId);
/* The output picture in the output format, zeroed on first request; from then on the
 * window shows it (after vexaVideoRefreshOut) instead of the frame.
 * = dozDataFluxGetDataOut */
VEXA_API void* vexaVideoGetDataOut(unsigned int videoId);
/* = dozDataFluxGetLargeur = dozDataFluxGetWidth, dozDataFluxGetHauteur = dozDataFluxGetHeight */
VEXA_API int vexaVideoGetWidth(unsigned int videoId);
VEXA_API int vexaVideoGetHeight(unsigned int videoId);
/* One pointer a plug-in keeps on the stream. = dozDataFluxGetUserData, dozDataFluxSetUserData */
VEXA_API void* vexaVideoGetUserData(unsigned int videoId);
VEXA_API int vexaVideoSetUserData(unsigned int videoId, void* userData);
/* Called with the stream's identifier and the user data after each new frame (null
 * removes it). = dozDataFluxInitializeCallback */
VEXA_API int vexaVideoInitializeCallback(unsigned int videoId, VexaVideoFrameCallback callback);
/* Takes the next frame of the source; 0 at its end. = dozDataFluxCapture */
VEXA_API int vexaVideoCapture(unsigned int videoId);
/* Plays (on != 0) or pauses the stream in its window. = dozDataFluxStart */
VEXA_API int vexaVideoStart(unsigned int videoId, int on);
/* Seconds: the whole stream, what has been played up to the end of the current
 * frame, and the start of the current frame. = vexaVideoGetCurrentTime = dozDataFluxGetTime */
VEXA_API double vexaVideoGetDuration(unsigned int videoId);
VEXA_API double vexaVideoGetCurrentDuration(unsigned int videoId);
VEXA_API double vexaVideoGetTime(unsigned int videoId);
VEXA_API int vexaVideoGetNumberOfFrames(unsigned int videoId);
/* The current frame's number (from 0); -1 for an unknown stream. */
VEXA_API int vexaVideoGetNoCurrentFrame(unsigned int videoId);
/* Makes frame n current (the frame callback runs). */
VEXA_API int vexaVideoMoveTo(unsigned int videoId, int frame);
/* Shows the output picture now. */
VEXA_API int vexaVideoRefreshOut(unsigned int videoId);

/* A video file to write at path; its number, 0 for a null or empty path. Nothing is
 * written before the first frame. */
VEXA_API int vexaVideoFileCreate(const char* path);
/* Picture size and frames per second (default 25), before the first frame. */
VEXA_API int vexaVideoFileSet(int file, int width, int height, double framesPerSecond);
/* Appends width x height RGBA pixels. 0 when the file cannot be written (the reason
 * goes to the log) or the size was not set. */
VEXA_API int vexaVideoFileAddFrame(int file, const uint8_t* rgba);
/* Finishes the file and forgets the number. 0 when it could not be finished or has
 * no frame: an existing file of that name is then left as it was. */
VEXA_API int vexaVideoFileClose(int file);

#ifdef __cplusplus
}
#endif

#endif
