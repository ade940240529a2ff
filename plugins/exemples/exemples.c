/* Sample plug-in: a few image commands that show how a plug-in takes its input, makes
 * an output, asks for parameters and reports progress, and one that builds a 3D scene.
 * Everything it calls comes from the workstation's callback lookup. */
#include "vexa_plugin.h"

#include <math.h>
#include <stdint.h>
#include <string.h>

static VexaCallbackLookup lookup;

/* Callbacks, resolved once in SetCallbackFunction. */
static vexaImageGetIn_t imageGetIn;
static dozDataGetWidth_t getWidth;
static dozDataGetHeight_t getHeight;
static dozDataGetTypeData_t getType;
static dozDataGetPtr_t getPtr;
static dozDataRedraw_t redraw;
static dozDataSetImageNumberTypeSize_t setOutputs;
static dozDataGetIdByCount_t idByCount;
static dozTaskSetIntervalProgress_t progressInterval;
static dozTaskSetProgress_t progress;
static dozBoxParameter_t boxParameter;
static dozMsgFormat_t msgFormat;

void GetLibraryVersion(char* version)
{
    strcpy(version, "1.0.11");
}

void SetCallbackFunction(VexaCallbackLookup function)
{
    lookup = function;
    imageGetIn = (vexaImageGetIn_t)lookup("vexaImageGetIn");
    getWidth = (dozDataGetWidth_t)lookup("dozDataGetWidth");
    getHeight = (dozDataGetHeight_t)lookup("dozDataGetHeight");
    getType = (dozDataGetTypeData_t)lookup("dozDataGetTypeData");
    getPtr = (dozDataGetPtr_t)lookup("dozDataGetPtr");
    redraw = (dozDataRedraw_t)lookup("dozDataRedraw");
    setOutputs = (dozDataSetImageNumberTypeSize_t)lookup("dozDataSetImageNumberTypeSize");
    idByCount = (dozDataGetIdByCount_t)lookup("dozDataGetIdByCount");
    progressInterval = (dozTaskSetIntervalProgress_t)lookup("dozTaskSetIntervalProgress");
    progress = (dozTaskSetProgress_t)lookup("dozTaskSetProgress");
    boxParameter = (dozBoxParameter_t)lookup("dozBoxParameter");
    msgFormat = (dozMsgFormat_t)lookup("dozMsgFormat");
}

/* Sample i of an array of the given type, as a double. */
static double sampleAt(const void* data, int type, size_t i)
{
    switch (type) {
    case TYPEDATA_U8:
        return ((const uint8_t*)data)[i];
    case TYPEDATA_S8:
        return ((const int8_t*)data)[i];
    case TYPEDATA_S16:
        return ((const int16_t*)data)[i];
    case TYPEDATA_U16:
        return ((const uint16_t*)data)[i];
    case TYPEDATA_S32:
        return ((const int32_t*)data)[i];
    case TYPEDATA_U32:
        return ((const uint32_t*)data)[i];
    case TYPEDATA_F32:
        return ((const float*)data)[i];
    case TYPEDATA_F64:
        return ((const double*)data)[i];
    default:
        return 0;
    }
}

/* The input image and a new output of the given type and of the same size; 0 when
 * there is no usable input. */
static int openInOut(int outType, unsigned* in, unsigned* out, int* w, int* h)
{
    *in = imageGetIn();
    if (!*in)
        return 0;
    *w = getWidth(*in);
    *h = getHeight(*in);
    if (*w <= 0 || *h <= 0 || getType(*in) == TYPEDATA_RGBA || !getPtr(*in))
        return 0;
    if (!setOutputs(0, 1, outType < 0 ? getType(*in) : outType, *w, *h))
        return 0;
    *out = idByCount(0, VEXA_SLOT_IMAGE_OUT, 1);
    return *out != 0 && getPtr(*out) != 0;
}

/* "Négatif": the same type, values mirrored in the range of the input. */
static void negative(void* handle)
{
    (void)handle;
    unsigned in, out;
    int w, h;
    if (!openInOut(-1, &in, &out, &w, &h))
        return;
    const int type = getType(in);
    const void* src = getPtr(in);
    void* dst = getPtr(out);
    double lo = INFINITY, hi = -INFINITY;
    const size_t n = (size_t)w * (size_t)h;
    for (size_t i = 0; i < n; ++i) {
        double v = sampleAt(src, type, i);
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    progressInterval(0, 0, h - 1);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            size_t i = (size_t)y * (size_t)w + (size_t)x;
            double v = lo + hi - sampleAt(src, type, i);
            switch (type) {
            case TYPEDATA_U8:
                ((uint8_t*)dst)[i] = (uint8_t)v;
                break;
            case TYPEDATA_S8:
                ((int8_t*)dst)[i] = (int8_t)v;
                break;
            case TYPEDATA_S16:
                ((int16_t*)dst)[i] = (int16_t)v;
                break;
            case TYPEDATA_U16:
                ((uint16_t*)dst)[i] = (uint16_t)v;
                break;
            case TYPEDATA_S32:
                ((int32_t*)dst)[i] = (int32_t)v;
                break;
            case TYPEDATA_U32:
                ((uint32_t*)dst)[i] = (uint32_t)v;
                break;
            case TYPEDATA_F32:
                ((float*)dst)[i] = (float)v;
                break;
            case TYPEDATA_F64:
                ((double*)dst)[i] = v;
                break;
            default:
                break;
            }
        }
        progress(0, y);
    }
    redraw(out);
}

/* "Seuillage...": 255 where the value reaches the threshold, 0 elsewhere. */
static void threshold(void* handle)
{
    (void)handle;
    static double level = 128;
    if (boxParameter("Seuil%f%n", &level) != 1)
        return;
    unsigned in, out;
    int w, h;
    if (!openInOut(TYPEDATA_U8, &in, &out, &w, &h))
        return;
    const int type = getType(in);
    const void* src = getPtr(in);
    uint8_t* dst = (uint8_t*)getPtr(out);
    const size_t n = (size_t)w * (size_t)h;
    size_t above = 0;
    for (size_t i = 0; i < n; ++i) {
        dst[i] = sampleAt(src, type, i) >= level ? 255 : 0;
        above += dst[i] != 0;
    }
    redraw(out);
    msgFormat("Seuillage à %g : %zu points sur %zu", level, above, n);
}

/* "Statistiques": minimum, maximum, mean and standard deviation to the message log. */
static void statistics(void* handle)
{
    (void)handle;
    unsigned in = imageGetIn();
    if (!in)
        return;
    const int w = getWidth(in), h = getHeight(in), type = getType(in);
    const void* src = getPtr(in);
    if (w <= 0 || h <= 0 || !src || type == TYPEDATA_RGBA)
        return;
    const size_t n = (size_t)w * (size_t)h;
    double lo = INFINITY, hi = -INFINITY, sum = 0, squares = 0;
    for (size_t i = 0; i < n; ++i) {
        double v = sampleAt(src, type, i);
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
        sum += v;
        squares += v * v;
    }
    const double mean = sum / (double)n;
    const double variance = squares / (double)n - mean * mean;
    msgFormat("%d x %d : min %g, max %g, moyenne %g, écart type %g", w, h, lo, hi, mean,
        sqrt(variance > 0 ? variance : 0));
}

/* The exchange records must have the layout the workstation reads. */
_Static_assert(sizeof(Mesh3d) == 5 * sizeof(void*), "Mesh3d layout");
_Static_assert(sizeof(Mesh3dExtra) == 192, "Mesh3dExtra layout");

/* Moves a mesh into a new object of the view, named and coloured; frees the mesh. */
static void addToView(unsigned view, Mesh3d* mesh, const char* name, double r, double g, double b)
{
    vexaObject3dCreate_t create = (vexaObject3dCreate_t)lookup("vexaObject3dCreate");
    vexaObject3dSetName_t setName = (vexaObject3dSetName_t)lookup("vexaObject3dSetName");
    vexaObject3dSetColor_t setColour = (vexaObject3dSetColor_t)lookup("vexaObject3dSetColor");
    vexaObject3dSetMesh3d_t setMesh = (vexaObject3dSetMesh3d_t)lookup("vexaObject3dSetMesh3d");
    vexaView3dAddObject3d_t add = (vexaView3dAddObject3d_t)lookup("vexaView3dAddObject3d");
    vexaMesh3dFree_t freeMesh = (vexaMesh3dFree_t)lookup("vexaMesh3dFree");
    if (!mesh)
        return;
    unsigned object = create(1);
    if (object && setMesh(object, mesh)) {
        setName(object, name);
        setColour(object, r, g, b, 1);
        add(view, object);
    }
    freeMesh(mesh);
}

/* "Scène 3D": a sphere, an arrow and a cube in a new 3D view, inside its reference
 * box of 100 x 100 x 100. */
static void scene3d(void* handle)
{
    (void)handle;
    vexaView3dNew_t newView = (vexaView3dNew_t)lookup("vexaView3dNew");
    vexaView3dShow_t show = (vexaView3dShow_t)lookup("vexaView3dShow");
    vexaMesh3dSphere_t sphere = (vexaMesh3dSphere_t)lookup("vexaMesh3dSphere");
    vexaMesh3dCube_t cube = (vexaMesh3dCube_t)lookup("vexaMesh3dCube");
    vexaMesh3dArrow_t arrow = (vexaMesh3dArrow_t)lookup("vexaMesh3dArrow");
    vexaMesh3dScale_t scale = (vexaMesh3dScale_t)lookup("vexaMesh3dScale");
    vexaMesh3dTranslate_t translate = (vexaMesh3dTranslate_t)lookup("vexaMesh3dTranslate");

    unsigned view = newView();
    if (!view)
        return;
    Mesh3d* ball = sphere(24);
    scale(ball, 15, 15, 15);
    translate(ball, 25, 50, 50);
    addToView(view, ball, "sphere", 0.9, 0.2, 0.2);

    const double from[3] = { 50, 15, 50 }, to[3] = { 50, 85, 50 };
    addToView(view, arrow(from, to, 5, 16), "flèche", 0.2, 0.8, 0.2);

    Mesh3d* box = cube();
    scale(box, 25, 25, 25);
    translate(box, 75, 50, 50);
    addToView(view, box, "cube", 0.2, 0.3, 0.9);
    show(view);
    msgFormat("Scène 3D : vue %u", view);
}

void dozLibraryInit(void* library)
{
    dozMenuCreate_t create = (dozMenuCreate_t)lookup("dozMenuCreate");
    vexaMenuAddItem_t addItem = (vexaMenuAddItem_t)lookup("vexaMenuAddItem");
    dozMenuAddSeparator_t separator = (dozMenuAddSeparator_t)lookup("dozMenuAddSeparator");
    vexaLibraryAddMenu_t addMenu = (vexaLibraryAddMenu_t)lookup("vexaLibraryAddMenu");

    void* menu = create("Exemples");
    addItem(menu, "Négatif", (void*)negative);
    addItem(menu, "Seuillage...", (void*)threshold);
    separator(menu);
    addItem(menu, "Statistiques", (void*)statistics);
    separator(menu);
    addItem(menu, "Scène 3D", (void*)scene3d);
    addMenu(library, VEXA_MENU_2D, menu);
}
