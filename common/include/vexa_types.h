/* Sample type codes shared by the libraries, the program and plug-ins.
 *
 * Every image, block and volume is a dense array of one sample type, carried as a
 * small integer code. The codes cross the plug-in interface and never change: the
 * numbering is historical (3 is the double, 4 the single, the unsigned 16- and
 * 32-bit integers come after the signed ones).
 *
 * Arrays are row-major with x fastest: sample (x, y, z) of a DimX x DimY x DimZ block
 * is at element index (z * DimY + y) * DimX + x, with no padding.
 *
 * Usable from C and C++. */
#ifndef VEXA_TYPES_H
#define VEXA_TYPES_H

#ifdef __cplusplus
extern "C" {
#endif

enum TypeDataCode {
    TYPEDATA_U8 = 1,
    TYPEDATA_S8 = 2,
    TYPEDATA_F64 = 3,
    TYPEDATA_F32 = 4,
    TYPEDATA_S16 = 5,
    TYPEDATA_S32 = 6,
    TYPEDATA_RGBA = 7,
    TYPEDATA_U16 = 8,
    TYPEDATA_U32 = 9
};

#define VEXA_TYPE_COUNT 9

/* Bytes of one sample. Unknown codes answer 3: buffers are sized with it, and the
 * routines that have no 3-byte path leave such buffers zero-filled. */
static inline int vexaTypeSize(int type)
{
    switch (type) {
    case TYPEDATA_U8:
    case TYPEDATA_S8:
        return 1;
    case TYPEDATA_S16:
    case TYPEDATA_U16:
        return 2;
    case TYPEDATA_F32:
    case TYPEDATA_S32:
    case TYPEDATA_RGBA:
    case TYPEDATA_U32:
        return 4;
    case TYPEDATA_F64:
        return 8;
    default:
        return 3;
    }
}

/* Bit count kept in headers and records: 8 times the element size. */
static inline int vexaTypeBits(int type)
{
    return 8 * vexaTypeSize(type);
}

/* Sign flag kept in headers and records: 1 for the signed integer codes only. */
static inline int vexaTypeSign(int type)
{
    return (type == TYPEDATA_S8 || type == TYPEDATA_S16 || type == TYPEDATA_S32) ? 1 : 0;
}

/* 1 for the nine defined codes. */
static inline int vexaTypeIsValid(int type)
{
    return type >= 1 && type <= VEXA_TYPE_COUNT;
}

/* Lists that offer all nine types show them in this order:
 * U8, S8, U16, S16, U32, S32, F32, F64, RGBA. */
static const int vexaTypeListOrder[VEXA_TYPE_COUNT] = { TYPEDATA_U8, TYPEDATA_S8, TYPEDATA_U16,
    TYPEDATA_S16, TYPEDATA_U32, TYPEDATA_S32, TYPEDATA_F32, TYPEDATA_F64, TYPEDATA_RGBA };

/* Position of a code in the type list, -1 for an unknown code. */
static inline int vexaTypeListPosition(int type)
{
    for (int i = 0; i < VEXA_TYPE_COUNT; ++i)
        if (vexaTypeListOrder[i] == type)
            return i;
    return -1;
}

/* Labels, indexed by type list position (UTF-8). */
static const char* const vexaTypeSaveLabels[VEXA_TYPE_COUNT] = { "8 bits - Non signé",
    "8 bits - Signé", "16 bits - Non signé", "16 bits - Signé", "32 bits - Non signé",
    "32 bits - Signé", "32 bits - Flottant", "64 bits - Flottant", "24 bits - RGB" };

static const char* const vexaTypeParamLabels[VEXA_TYPE_COUNT]
    = { "Entier 8 Bits Non Signé", "Entier 8 Bits Signé", "Entier 16 Bits Non Signé",
          "Entier 16 Bits Signé", "Entier 32 Bits Non Signé", "Entier 32 Bits Signé",
          "Flottant 32 Bits", "Flottant 64 Bits", "RGBA" };

static const char* const vexaTypeInfoLabels[VEXA_TYPE_COUNT]
    = { "  Entiers 8 bits non signés", "  Entiers 8 bits signés", "  Entiers 16 bits non signés",
          "  Entiers 16 bits signés", "  Entiers 32 bits non signés", "  Entiers 32 bits signés",
          "  Réels 32 bits", "  Réels 64 bits", "  Couleur 32 bits (R,G,B et A)" };

/* Picture formats hold grey levels or colour only. */
#define VEXA_PICTURE_GREY_LABEL "8 bits - Niveaux de Gris"

/* Label getters by code. The information line of any code other than the eight
 * numeric ones is the colour line. */
static inline const char* vexaTypeSaveLabel(int type)
{
    int pos = vexaTypeListPosition(type);
    return pos < 0 ? "" : vexaTypeSaveLabels[pos];
}

static inline const char* vexaTypeParamLabel(int type)
{
    int pos = vexaTypeListPosition(type);
    return pos < 0 ? "" : vexaTypeParamLabels[pos];
}

static inline const char* vexaTypeInfoLabel(int type)
{
    int pos = vexaTypeListPosition(type);
    return vexaTypeInfoLabels[pos < 0 ? VEXA_TYPE_COUNT - 1 : pos];
}

#ifdef __cplusplus
}
#endif

#endif
