/* Stand-in for the engine library: one session whose workspace is an in-memory table
 * of copied arrays. standinPut and standinOpenCount let the tests play MATLAB's side. */
#include "standin_array.h"

#define STANDIN_MAX_VARIABLES 64

static struct {
    char name[64];
    StandinArray* array;
} variables[STANDIN_MAX_VARIABLES];
static int openCount;
static int engine;

static int find(const char* name)
{
    for (int i = 0; i < STANDIN_MAX_VARIABLES; ++i)
        if (variables[i].array && strcmp(variables[i].name, name) == 0)
            return i;
    return -1;
}

STANDIN_EXPORT void* engOpen(const char* startCommand)
{
    (void)startCommand;
    ++openCount;
    return &engine;
}

STANDIN_EXPORT int engSetVisible(void* ep, bool visible)
{
    (void)visible;
    return ep == &engine ? 0 : 1;
}

STANDIN_EXPORT int engEvalString(void* ep, const char* command)
{
    (void)command;
    return ep == &engine ? 0 : 1;
}

STANDIN_EXPORT StandinArray* engGetVariable(void* ep, const char* name)
{
    const int i = ep == &engine ? find(name) : -1;
    return i < 0 ? NULL : standinCopy(variables[i].array);
}

STANDIN_EXPORT int engPutVariable(void* ep, const char* name, const StandinArray* array)
{
    if (ep != &engine || !array || strlen(name) >= sizeof variables[0].name)
        return 1;
    int i = find(name);
    for (int j = 0; i < 0 && j < STANDIN_MAX_VARIABLES; ++j)
        if (!variables[j].array)
            i = j;
    StandinArray* copy = i < 0 ? NULL : standinCopy(array);
    if (!copy)
        return 1;
    standinFree(variables[i].array);
    strcpy(variables[i].name, name);
    variables[i].array = copy;
    return 0;
}

/* The workspace goes with the library: each test unloads it. */
__attribute__((destructor)) static void clearWorkspace(void)
{
    for (int i = 0; i < STANDIN_MAX_VARIABLES; ++i) {
        standinFree(variables[i].array);
        variables[i].array = NULL;
    }
}

/* Test side: stores a copy of an array built from raw column-order data. */
STANDIN_EXPORT int standinPut(
    const char* name, int classId, bool complex, size_t rank, const size_t* dims, const void* data)
{
    StandinArray* a = standinCreate(rank, dims, classId);
    if (!a)
        return 1;
    a->complex = complex;
    memcpy(a->data, data, a->bytes);
    const int result = engPutVariable(&engine, name, a);
    standinFree(a);
    return result;
}

STANDIN_EXPORT int standinOpenCount(void)
{
    return openCount;
}
