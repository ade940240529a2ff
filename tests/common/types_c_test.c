/* The type header must compile as C for plug-in authors. */
#include "vexa_types.h"

int vexaTypesFromC(int type)
{
    return vexaTypeSize(type) + vexaTypeSign(type) * 100;
}
