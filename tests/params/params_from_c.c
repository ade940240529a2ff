/* Parameter boxes driven from C with real variadic bindings, as plug-ins do. */
#include "params/paramapi.h"

#include <stddef.h>

static void countPress(void* argument)
{
    ++*(int*)argument;
}

int paramsFromCMixed(
    int* integer, double* real, char* text, char* path, int* list, int* check, int* presses)
{
    return dozBoxParameter("Entier%dReel%f%nTexte%s%nFichier%h%nA,B,C%lCoche%cBouton%P%n", integer,
        real, text, path, list, check, countPress, presses);
}

int paramsFromCRawImport(int v[10])
{
    /* The raw-file import joins four descriptions and passes ten bindings. */
    return dozBoxParameter("Taille Entete%dw%dh%dd%dFile%c%n"
                           "Format%tEntier,Flottant%lLittle Endian%c%n"
                           "Format Entier%tNon signé,Signé%lNb bits%t8,16,32%l%n"
                           "Format Flottant%tFloat,Double%l",
        &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]);
}

int paramsFromCPieces(int* first, double* second, int* third)
{
    ParamBox* box = dozBoxParameterAdd(NULL, "Premier%d%n", first);
    box = dozBoxParameterAdd(box, "Second%f", second);
    box = dozBoxParameterAdd(box, "Troisieme%d%n", third);
    return dozBoxParameterDialog(box);
}

int paramsFromCInvalidPieces(int* first, int* second)
{
    ParamBox* box = dozBoxParameterAdd(NULL, "Premier%d%n", first);
    box = dozBoxParameterAdd(box, "Second%D", second);
    return dozBoxParameterDialog(box);
}
