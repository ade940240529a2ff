// Saves a picture of the parameter dialog of one of the program's boxes.
//   paramdialog_shot <name> <out.png>    (paramdialog_shot --list names the boxes)
#include "builtinboxes.h"
#include "params/gui/paramdialogwidget.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    using vexa::params::testing::builtinBoxes;
    if (argc == 2 && QByteArray(argv[1]) == "--list") {
        for (const auto& named : builtinBoxes())
            std::printf("%s\n", named.name);
        return 0;
    }
    const auto* named = argc == 3 ? vexa::params::testing::findBuiltinBox(argv[1]) : nullptr;
    if (!named) {
        std::fprintf(stderr, "usage: paramdialog_shot <nom de boîte> <image.png> | --list\n");
        return 2;
    }
    ParamBox box;
    vexa::params::testing::ScratchBindings bindings;
    vexa::params::parseDescription(box, named->description.c_str(), bindings);
    vexa::params::testing::ScratchBindings::fill(box, 1024, 0.5);
    box.cancellable = true;
    vexa::gui::ParamDialogWidget dialog(box);
    dialog.show();
    int status = 1;
    // Grabbed once the window is painted.
    QTimer::singleShot(300, &dialog, [&] {
        status = dialog.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
        dialog.done(0);
        app.quit();
    });
    app.exec();
    if (status != 0)
        std::fprintf(stderr, "Impossible d'enregistrer %s\n", argv[2]);
    return status;
}
