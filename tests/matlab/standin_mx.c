/* Stand-in for the array library: the entry points the bridge needs. Built without
 * mxCreateNumericArray when STANDIN_WITHOUT_CREATE is defined. */
#include "standin_array.h"

STANDIN_EXPORT int mxGetClassID(const StandinArray* a)
{
    return a->classId;
}

STANDIN_EXPORT size_t mxGetNumberOfDimensions(const StandinArray* a)
{
    return a->rank;
}

STANDIN_EXPORT const size_t* mxGetDimensions(const StandinArray* a)
{
    return a->dims;
}

STANDIN_EXPORT void* mxGetPr(const StandinArray* a)
{
    return a->data;
}

STANDIN_EXPORT bool mxIsComplex(const StandinArray* a)
{
    return a->complex;
}

STANDIN_EXPORT void mxDestroyArray(StandinArray* a)
{
    standinFree(a);
}

#ifndef STANDIN_WITHOUT_CREATE
STANDIN_EXPORT StandinArray* mxCreateNumericArray(
    size_t rank, const size_t* dims, int classId, int complexity)
{
    StandinArray* a = standinCreate(rank, dims, classId);
    if (a)
        a->complex = complexity != 0;
    return a;
}
#endif
