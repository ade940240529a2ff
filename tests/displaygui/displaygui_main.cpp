// Runs the test classes of the display widgets in one offscreen application.
#include <QApplication>

int runCorrectionWindowTests(int argc, char** argv);
int runPaletteManagerTests(int argc, char** argv);

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int failures = runCorrectionWindowTests(argc, argv);
    failures += runPaletteManagerTests(argc, argv);
    return failures;
}
