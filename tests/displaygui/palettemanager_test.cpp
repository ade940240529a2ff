// The palette manager and its editors: adding from an editor, exporting and importing
// colormap files, removing.
#include "display/gui/palettemanager.h"

#include "data/registry.h"
#include "display/colormap.h"
#include "display/palettelist.h"
#include "views/imageview.h"

#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <memory>

using namespace vexa;
using vexa::gui::PaletteEditor;
using vexa::gui::PaletteManager;

namespace {

int indexNamed(const char* name)
{
    for (int i = 0; i < paletteCount(); ++i)
        if (paletteAt(i)->name == name)
            return i;
    return -1;
}

ColourTable tableOf(const PaletteRecord& record)
{
    ColourTable t;
    computePalette(record, t);
    return t;
}

bool sameTable(const ColourTable& a, const ColourTable& b, int tolerance)
{
    for (std::size_t i = 0; i < 256; ++i)
        if (std::abs(a[i].red - b[i].red) > tolerance
            || std::abs(a[i].green - b[i].green) > tolerance
            || std::abs(a[i].blue - b[i].blue) > tolerance)
            return false;
    return true;
}

} // namespace

class PaletteManagerTest : public QObject {
    Q_OBJECT

private slots:
    void init() { buildPaletteList("/nonexistent-program-dir"); }
    void cleanup()
    {
        delete gui::paletteManager();
        releasePaletteList();
    }

    void listsThePalettesWithTheFourCommands()
    {
        gui::openPaletteManager(nullptr);
        PaletteManager* m = gui::paletteManager();
        QVERIFY(m);
        QCOMPARE(m->list()->count(), paletteCount());
        QCOMPARE(m->list()->item(7)->text(), QStringLiteral("France"));
        for (const char* label : { "Importer...", "Exporter...", "Supprimer", "Ajouter" })
            QVERIFY(m->findChild<QPushButton*>(QString::fromUtf8(label)));
    }

    void selectingOpensTheEditorOfTheFamily()
    {
        PaletteManager m;
        m.select(indexNamed("France"));
        QCOMPARE(m.editor()->kind(), PaletteEditor::Slope);
        QCOMPARE(m.editor()->windowTitle(), QStringLiteral("Palette - Type Pente"));
        m.select(indexNamed("Aleatoire"));
        QCOMPARE(m.editor()->windowTitle(), QStringLiteral("Palette - Type Editable"));
        m.select(indexNamed("---- Orientation HSL (Type Circulaire)"));
        QCOMPARE(m.editor()->windowTitle(), QStringLiteral("Palette - Type Circulaire"));
        QCOMPARE(m.editor()->record().family, int(kFamilyOrientationHsl));
    }

    void addingFromASlopeEditorCopiesTheRamp()
    {
        PaletteManager m;
        const int before = paletteCount();
        m.select(indexNamed("France"));
        PaletteRecord* added = m.addFromEditor();
        QVERIFY(added);
        QCOMPARE(paletteCount(), before + 1);
        QCOMPARE(added->name, std::string("Nouvelle Palette"));
        QCOMPARE(added->user, 1);
        QVERIFY(added->variant >= kFirstUserSlopeVariant);
        // The three colours taken from "France" give back its ramp.
        QVERIFY(sameTable(tableOf(*added), tableOf(*findPalette(kFamilySlope, 7)), 1));
        QCOMPARE(m.selected(), added);
        QCOMPARE(m.list()->currentItem()->text(), QStringLiteral("Nouvelle Palette"));
    }

    void addingADirectionPaletteKeepsTheCycle()
    {
        PaletteManager m;
        m.select(indexNamed("---- Direction (Type Demi-circulaire)"));
        PaletteEditor* editor = m.editor();
        QCOMPARE(editor->kind(), PaletteEditor::Circular);
        PaletteRecord* added = m.addFromEditor();
        QVERIFY(added);
        QCOMPARE(added->family, int(kFamilyDirection));
        QVERIFY(added->variant != 0);
        QVERIFY(sameTable(tableOf(*added), tableOf(*findPalette(kFamilyDirection, 0)), 1));
    }

    void editorColoursChangeTheNewPalette()
    {
        PaletteManager m;
        m.select(indexNamed("---- Niveaux de Gris (Type Pente)"));
        m.editor()->setColour(2, 255, 0, 0);
        const ColourTable& preview = m.editor()->strip()->table();
        QCOMPARE(preview[255].red, std::uint8_t(255));
        QCOMPARE(preview[255].green, std::uint8_t(0));
        PaletteRecord* added = m.addFromEditor();
        QVERIFY(sameTable(tableOf(*added), preview, 0));
        // The selected built-in palette itself is left alone.
        QCOMPARE(tableOf(*findPalette(kFamilySlope, 0))[255].green, std::uint8_t(255));
    }

    void exportThenImportGivesTheSameColours()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("atlas.xml"));
        PaletteManager m;
        m.select(indexNamed("Atlas"));
        QVERIFY(m.exportSelected(QStringLiteral("Mon Atlas"), path));
        const int before = paletteCount();
        QVERIFY(m.importFile(path));
        QCOMPARE(paletteCount(), before + 1);
        const PaletteRecord* imported = m.selected();
        QCOMPARE(imported->name, std::string("Mon Atlas"));
        QCOMPARE(imported->family, int(kFamilyColourTable));
        QVERIFY(sameTable(imported->table, tableOf(*findPalette(kFamilySlope, 2)), 1));
        QCOMPARE(m.list()->count(), paletteCount());
    }

    void badFilesAddNothing()
    {
        QTemporaryDir dir;
        PaletteManager m;
        const int before = paletteCount();
        QString why;
        QVERIFY(!m.importFile(dir.filePath(QStringLiteral("missing.xml")), &why));
        QFile wrong(dir.filePath(QStringLiteral("wrong.xml")));
        QVERIFY(wrong.open(QIODevice::WriteOnly));
        wrong.write("<?xml version=\"1.0\"?>\n<CONFIG/>\n");
        wrong.close();
        QVERIFY(!m.importFile(wrong.fileName()));
        QCOMPARE(paletteCount(), before);
        QCOMPARE(m.list()->count(), before);
        // An unwritable destination is reported as a failure.
        m.select(0);
        QVERIFY(!m.exportSelected(
            QStringLiteral("x"), dir.filePath(QStringLiteral("no/such/dir.xml"))));
    }

    void choosingAPaletteShowsTheActiveImageWithIt()
    {
        PaletteManager none;
        none.select(indexNamed("France"));
        QVERIFY(!none.applyToActiveImage());

        auto object = std::make_unique<ImageObject>();
        object->image->palette = PaletteRef { kFamilySlope, 2 };
        DataRecord* image = dataCreate(DATA_IMAGE, std::move(object), nullptr, kFreshId, kFreshId);
        QVERIFY(image);
        dataActivate(image);
        // Opening the manager selects the image's palette and leaves it as it was.
        PaletteManager m;
        QCOMPARE(m.selected()->name, std::string("Atlas"));
        QCOMPARE(displaySettings(*image).palette, (PaletteRef { kFamilySlope, 2 }));
        m.select(indexNamed("France"));
        QCOMPARE(displaySettings(*image).palette, (PaletteRef { kFamilySlope, 7 }));
        m.select(indexNamed("Aleatoire"));
        QCOMPARE(displaySettings(*image).palette, (PaletteRef { kFamilyEditable, 1 }));
        dataResetRegistry();
    }

    void removeTakesTheSelectedPaletteOut()
    {
        PaletteManager m;
        const int before = paletteCount();
        const int row = indexNamed("France");
        m.select(row);
        QVERIFY(m.removeSelected());
        QCOMPARE(paletteCount(), before - 1);
        QCOMPARE(indexNamed("France"), -1);
        QCOMPARE(m.list()->count(), before - 1);
        QCOMPARE(m.list()->currentRow(), row);
        QCOMPARE(m.selected()->name, std::string("Noir-Rouge"));
    }
};

int runPaletteManagerTests(int argc, char** argv)
{
    PaletteManagerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "palettemanager_test.moc"
