// The parameter descriptions the program itself shows, gathered from its commands, and
// scratch storage to bind any description to, with values that need room.
#pragma once

#include "params/parambox.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace vexa::params::testing {

struct NamedBox {
    const char* name;
    std::string description;
};

inline const std::vector<NamedBox>& builtinBoxes()
{
    const std::string otherTypes = "Autre%t8 bits - Non signé,8 bits - Signé,16 bits - Non signé,"
                                   "16 bits - Signé,32 bits - Non signé,32 bits - Signé,"
                                   "32 bits - Flottant,64 bits - Flottant%l%n";
    const std::string normal = "Vecteur normal%tX%fY%fZ%f%n";
    const std::string dataTypes
        = "Entier 8 Bits Non Signé,Entier 8 Bits Signé,Entier 16 Bits Non Signé,Entier 16 Bits "
          "Signé,Entier 32 Bits Non Signé,Entier 32 Bits Signé,Flottant 32 Bits,Flottant 64 "
          "Bits,RGBA%l";
    static const std::vector<NamedBox> boxes = {
        { "raw-import",
            "Taille Entete%dw%dh%dd%dFile%c%nFormat%tEntier,Flottant%lLittle Endian%c%nFormat "
            "Entier%tNon signé,Signé%lNb bits%t8,16,32%l%nFormat Flottant%tFloat,Double%l" },
        { "rotation-3d",
            "Axe Ox,Axe Oy,Axe Oz%lAngle +90°,Angle 180°,Angle -90°%l%nMémoire,Fichier%lNom%h%n" },
        { "image-2d", "w%dh%dFormat Donnée%t" + dataTypes },
        { "image-3d", "w%dh%dd%dFormat Donnée%t" + dataTypes + "Vide,Aléatoire,Autre%l%n" },
        { "series",
            "Fichier Destination%t%n%h%nFichiers Source%t%nRacine%s%nExtension%s%nIndices%t%nNb "
            "de chiffres%t1,2,3,4%lDébut%dFin%dVérification existence%c%nTaille%t%nManuelle,"
            "Automatique%lLargeur%dHauteur%d%n" },
        { "save-dimension", "2D,3D%l" },
        { "save-format", "GDR,DF3,RAW,INRIA,INRIA avec référence,BMP%l" },
        { "save-type",
            "8 bits - Non signé,8 bits - Signé,16 bits - Non signé,16 bits - Signé,32 bits - Non "
            "signé,32 bits - Signé,32 bits - Flottant,64 bits - Flottant,24 bits - RGB%l" },
        { "save-bmp-type", "8 bits - Niveaux de Gris,24 bits - RGB%l" },
        { "save-reference", "Fichier référence%h%nRecopie des dimensions%c%n" },
        { "depth-conversion", "Conversion de profondeur en unité pixel%c" },
        { "script", "Script%s%n" },
        { "library", "Librairie%h" },
        { "library-directory", "Répertoire des DLL%s%n" },
        { "palette-import", "Fichier%h%n" },
        { "palette-export", "Nom%s%nFichier%h%n" },
        { "power", "Puissance%f" },
        { "unary-3d", "Sortie%tMémoire,Fichier%lFichier%h" },
        { "binary-3d",
            "Sortie%tMémoire,Fichier%lFichier%h%nFormat%tImage 3D 1,Image 3D 2,Autre%l%n"
                + otherTypes },
        { "nary-3d",
            "Nombre d'images 3D%d%nSortie%tMémoire,Fichier%lFichier%h%nFormat%tImage "
            "3D,Autre%l%nN° "
            "Image 3D%d"
                + otherTypes },
        { "rotation-2d", "Angle (°)%f" },
        { "resize", "Nouvelle Largeur%dNouvelle Hauteur%d" },
        { "reframe", "Recadrage%tGauche%dDroite%dHaut%dBas%d" },
        { "tiles", "Découpage X%t1,2,3,4,5%l%nDécoupage Y%t1,2,3,4,5%l%nBordure X%dBordure Y%d%n" },
        { "mirror-3d", "Mémoire,Fichier%lNom%h%n" },
        { "decimation", "Décimation X%dDécimation Y%dDécimation Z%d" },
        { "mesh-save", "Standard,Stl Binaire,Off,Points-Normales%lNom%h%n" },
        { "mesh-translation", "Déplacement X%fDéplacement Y%fDéplacement Z%f" },
        { "mesh-affinity", "Point fixe%tOrigine,Barycentre%lEchelle X%fEchelle Y%fEchelle Z%f" },
        { "mesh-smoothing", "Coeff%f" },
        { "mesh-simplification", "Seuil%fNombre d'itérations%d%n" },
        { "mesh-blocks",
            "Nb max de facettes / bloc%d%nTaux volumique minimal (sous-blocs/bloc)%f%nNb min de "
            "facettes / bloc (Tv < Tv min)%d%nNiveau maximal de test de visibilité%d%n" },
        { "isosurface",
            "Sélection de valeurs%tSeuil,Intervalle,Liste%l%nSeuil 1%f%nSeuil 2%f%nValeurs%s"
            "Tolérance%f%nMéthode de triangulation%tCuberille,Marching Cubes 15,Marching Cubes "
            "33,Simplified Marching Cubes,Simplified Marching Cubes (Emulation),Simplified "
            "Marching Cubes (Lookup-table)%l%nRégion%tEntière,Restreinte%lx1%dy1%dz1%dx2%dy2%dz2%d"
            "%nSéparation des corps%c%nMessages%c%nLimites%tPoints%cNb%dTriangles%cNb%d%n" },
        { "shape",
            "Forme%tDisque,Sphere,Ellipsoïde,Cube,Parallèlipipède,Tore,Pyramide,Cone,Cylindre,"
            "BSpline%l%nPosition%tOx%fOy%fOz%f%nNom%s%nMosaïque%c%nX%tNb%dPas%fVariation%f%nY%tNb%d"
            "Pas%fVariation%f%nZ%tNb%dPas%fVariation%f%nBruit%c%f%n" },
        { "shape-disc", normal + "Rayon%f%nPrécision%d%n" },
        { "shape-sphere", "Rayon%f%nPrécision%d%n" },
        { "shape-ellipsoid", "Rayons%tRx%fRy%fRz%f%nPrécision%d%n" },
        { "shape-cube", "Côté%f%n" },
        { "shape-box", "Largeur%fHauteur%fProfondeur%f%n" },
        { "shape-torus", normal + "Grand Rayon%fPrécision%d%nPetit Rayon%fPrécision%d%n" },
        { "shape-pyramid", "Largeur Base%f%nHauteur%f%n" },
        { "shape-cone", normal + "Rayon 1%fRayon 2%fPrécision%d%nHauteur%f%n" },
        { "shape-cylinder", normal + "Rayon%fPrécision%d%nLongueur%f%n" },
    };
    return boxes;
}

inline const NamedBox* findBuiltinBox(const std::string& name)
{
    for (const NamedBox& box : builtinBoxes())
        if (name == box.name)
            return &box;
    return nullptr;
}

// One zeroed buffer per binding, large enough for any kind; fill() then puts in each
// field a value as wide as real use gives it.
class ScratchBindings final : public BindingSource {
public:
    void* nextPointer() override
    {
        buffers_.push_back(std::make_unique<char[]>(PARAM_STRING_BUFFER));
        std::memset(buffers_.back().get(), 0, PARAM_STRING_BUFFER);
        return buffers_.back().get();
    }
    ParamProcedure nextProcedure() override { return nullptr; }

    static void fill(ParamBox& box, int32_t integer, double real)
    {
        for (ParamItem& item : box.items) {
            if (!item.value)
                continue;
            switch (item.kind) {
            case PARAM_INT:
                *static_cast<int32_t*>(item.value) = integer;
                break;
            case PARAM_REAL:
                *static_cast<double*>(item.value) = real;
                break;
            case PARAM_STRING:
                std::snprintf(static_cast<char*>(item.value), PARAM_STRING_BUFFER, "coupe_%d", 12);
                break;
            case PARAM_FILE:
                std::snprintf(static_cast<char*>(item.value), PARAM_PATH_BUFFER,
                    "/home/vexa/données/volume_512.raw");
                break;
            case PARAM_LIST:
            case PARAM_LONGLIST:
            case PARAM_CHECK:
                *static_cast<int32_t*>(item.value) = 1;
                break;
            default:
                break;
            }
        }
    }

private:
    std::vector<std::unique_ptr<char[]>> buffers_;
};

} // namespace vexa::params::testing
