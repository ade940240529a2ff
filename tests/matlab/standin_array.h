/* The array of the stand-in engine and array libraries: both copy and free arrays
 * the same way, so that either may release what the other made. */
#ifndef STANDIN_ARRAY_H
#define STANDIN_ARRAY_H

#include <stdbool.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#define STANDIN_EXPORT __attribute__((visibility("default")))

typedef struct StandinArray {
    int classId;
    bool complex;
    size_t rank;
    size_t dims[8];
    size_t bytes;
    void* data;
} StandinArray;

static inline size_t standinElementSize(int classId)
{
    switch (classId) {
    case 6: /* double */
    case 14: /* int64 */
    case 15:
        return 8;
    case 7:
    case 12:
    case 13:
        return 4;
    case 10:
    case 11:
        return 2;
    default:
        return 1;
    }
}

static inline StandinArray* standinCreate(size_t rank, const size_t* dims, int classId)
{
    if (rank > 8)
        return NULL;
    StandinArray* a = (StandinArray*)calloc(1, sizeof *a);
    if (!a)
        return NULL;
    a->classId = classId;
    a->rank = rank;
    size_t count = 1;
    for (size_t i = 0; i < rank; ++i) {
        a->dims[i] = dims[i];
        count *= dims[i];
    }
    a->bytes = count * standinElementSize(classId);
    a->data = calloc(a->bytes ? a->bytes : 1, 1);
    if (!a->data) {
        free(a);
        return NULL;
    }
    return a;
}

static inline StandinArray* standinCopy(const StandinArray* from)
{
    StandinArray* a = standinCreate(from->rank, from->dims, from->classId);
    if (a) {
        a->complex = from->complex;
        memcpy(a->data, from->data, from->bytes);
    }
    return a;
}

static inline void standinFree(StandinArray* a)
{
    if (a) {
        free(a->data);
        free(a);
    }
}

#endif
