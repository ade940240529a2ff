// The Vexa workstation.
#include "main/gui/batchrun.h"
#include "main/gui/mainwindow.h"
#include "main/gui/startup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTimer>
#include <QTranslator>

#include <clocale>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexa"));
    // Numbers in files and log lines use '.', whatever the desktop's language.
    std::setlocale(LC_NUMERIC, "C");
    // The interface is French, Qt's own dialogs and buttons included. A missing
    // translation leaves them in English; nothing else depends on it.
    QTranslator qtTranslator;
    if (qtTranslator.load(
            QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    // "--batch FILE": a headless run of a batch file, no window shown.
    if (!arguments.isEmpty() && arguments.front() == QStringLiteral("--batch")) {
        if (arguments.size() != 2) {
            std::fprintf(stderr, "Usage : vexa --batch FICHIER\n");
            return 2;
        }
        return vexa::gui::runBatchMode(vexa::gui::programDirectory(), arguments[1]);
    }
    // VEXA_QUIT_AFTER_START_MS=<ms>: quits that long after start-up began, at the first
    // event loop past then (start-up smoke tests). Armed before the start-up so that it
    // also ends the message boxes of failed plug-in loads; a quit that came during the
    // start-up skips the main loop.
    bool quitDuringStart = false;
    bool starting = true;
    bool quitOk = false;
    const int quitAfter = qEnvironmentVariableIntValue("VEXA_QUIT_AFTER_START_MS", &quitOk);
    if (quitOk && quitAfter >= 0) {
        QTimer::singleShot(quitAfter, &app, [&] {
            quitDuringStart = starting;
            QApplication::exit(0);
        });
    }
    vexa::gui::Workstation workstation(
        vexa::gui::programDirectory(), arguments.join(QLatin1Char(' ')));
    workstation.show();
    // VEXA_SCREENSHOT=<file.png>: saves a picture of the main window once the start-up
    // command line has been handled, then quits (documentation and smoke tests).
    const QString screenshot = qEnvironmentVariable("VEXA_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(
            qEnvironmentVariableIntValue("VEXA_SCREENSHOT_DELAY_MS") + 1500, &app, [&] {
                const bool saved = workstation.mainWindow().grab().save(screenshot);
                QApplication::exit(saved ? 0 : 1);
            });
    }
    starting = false;
    const int status = quitDuringStart ? 0 : app.exec();
    workstation.shutdown();
    return status;
}
