// The overlay-object callbacks of plug-ins. Object setters on an unknown identifier
// do nothing and return 0. Image operations take an image record's imageId (a
// blockId does nothing) except dozDataAdd*RGB, which also take the blockId of the
// image that shows the block.
#pragma once

#include <vexa_export.h>

extern "C" {
// A new object for a type code 0..5 or 6 (a unit square); its identifier, 0 for an
// unknown code.
VEXA_API unsigned int vexaObject2dCreate(int type);
VEXA_API int vexaObject2dSetName(unsigned int objectId, const char* name);
VEXA_API int vexaObject2dSetColor(unsigned int objectId, double r, double g, double b);
VEXA_API int vexaObject2dSetThickness(unsigned int objectId, int width);
// count (x, y) pairs, one after the other, replace the points; count 0 changes nothing.
VEXA_API int vexaObject2dSetArrayPoints(unsigned int objectId, const double* points, int count);
VEXA_API int vexaObject2dTranslate(unsigned int objectId, double tx, double ty);
VEXA_API int vexaObject2dScale(unsigned int objectId, double sx, double sy);

VEXA_API int vexaImageAddObject2d(unsigned int imageId, unsigned int objectId);
// Removes the object from that image; the object is freed once no image holds it.
VEXA_API int vexaImageDeleteObject2d(unsigned int imageId, unsigned int objectId);
VEXA_API int vexaImageDeleteObject2dByName(unsigned int imageId, const char* name);
// A LINE from (x1, y1) to (x2, y2) attached to the image: its identifier, or 0.
VEXA_API unsigned int vexaImageAddLine(
    unsigned int imageId, double x1, double y1, double x2, double y2);
// A square of side size centred on (x, y) attached to the image: its identifier, or 0.
VEXA_API unsigned int vexaImageAddSquare(unsigned int imageId, double x, double y, double size);
// A LINE named name through the count points (xs[i], ys[i]), closed back to the first
// point when closed is not 0: its identifier, or 0.
VEXA_API unsigned int dozDataAddLineRGB(unsigned int id, const double* xs, const double* ys,
    int count, const char* name, int closed, double r, double g, double b, int width);
VEXA_API unsigned int dozDataAddSquareRGB(unsigned int id, double x, double y, double size,
    const char* name, double r, double g, double b, int width);
// An ASTERISK named name on (x, y): four strokes across it (horizontal, vertical, both
// diagonals), each size samples long (size 0: a fixed mark of a few pixels).
VEXA_API unsigned int dozDataAddAsteriskRGB(unsigned int id, double x, double y, double size,
    const char* name, double r, double g, double b, int width);
// An ARROW named name from (x1, y1) to its head at (x2, y2).
VEXA_API unsigned int dozDataAddArrowRGB(unsigned int id, double x1, double y1, double x2,
    double y2, const char* name, double r, double g, double b, int width);
// The fault traced over a 2D image: the first LINE or POLYGON of its overlay named name
// ("Faille" when null or empty). Returns its number of points and copies up to capacity
// of them, placed by the object's scale and translation, into xs and ys (either may be
// null to ask for the count only); 0 when the image has no such object.
VEXA_API int dozDataGetFaille(
    unsigned int id, const char* name, double* xs, double* ys, int capacity);
}
