// Plug-in dialogs as real widgets (offscreen): the widgets follow what the plug-in sets,
// the plug-in reads what the user types and clicks, and whatever closes the window
// ends the dialog. The host below forwards to the widgets as the program's host does.
#include "host/host.h"
#include "plugins/dialogapi.h"
#include "plugins/gui/dialogwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <vector>

using namespace vexa;
using namespace vexa::gui;

namespace {

class WidgetHost : public Host {
public:
    void post(std::function<void()> fn) override
    {
        QMetaObject::invokeMethod(qApp, std::move(fn), Qt::QueuedConnection);
    }
    WindowHandle createWindow(DataRecord&, GuiRequest) override { return nullptr; }
    void closeWindow(WindowHandle) override { }
    void setWindowTitle(WindowHandle, const std::string&) override { }
    void redraw(DataRecord&) override { }
    void refreshMenus(int) override { }
    void refreshLog() override { }
    MessageAnswer messageBox(const std::string&, const std::string&, MessageButtons) override
    {
        return MessageAnswer::Ok;
    }
    int paramDialog(ParamBox*) override { return 0; }
    bool chooseFile(const FileChoice&, std::string&) override { return false; }
    int chooseFromList(const std::string&, const std::vector<std::string>&) override { return -1; }
    bool showDialog(std::uint32_t dialog, bool modal) override
    {
        return showPluginDialog(dialog, modal, nullptr);
    }
    void dialogChanged(std::uint32_t dialog) override { refreshPluginDialog(dialog); }
    void closeDialog(std::uint32_t dialog) override { closePluginDialog(dialog); }
};

VexaDialogItemDesc item(int kind, int id, const char* text, int value = 0)
{
    VexaDialogItemDesc d {};
    d.kind = kind;
    d.id = id;
    std::strncpy(d.text, text, sizeof d.text - 1);
    d.value = value;
    return d;
}

std::vector<VexaDialogItemDesc> form()
{
    return { item(VEXA_DIALOG_TITLE, 0, "Seuillage"), item(VEXA_DIALOG_LABEL, 0, "Seuil"),
        item(VEXA_DIALOG_INT, 11, "5"), item(VEXA_DIALOG_CHECK, 13, "Inverser"),
        item(VEXA_DIALOG_RADIO, 14, "Haut", 1), item(VEXA_DIALOG_RADIO, 15, "Bas"),
        item(VEXA_DIALOG_BUTTON, VEXA_DIALOG_OK, "OK"),
        item(VEXA_DIALOG_BUTTON, VEXA_DIALOG_CANCEL, "Annuler"), item(VEXA_DIALOG_END, 0, "") };
}

} // namespace

class PluginDialogTest : public QObject {
    Q_OBJECT
private slots:
    void init() { installHost(&host_); }
    void cleanup()
    {
        QCoreApplication::processEvents();
        plugins::dialogResetWindows();
        installHost(nullptr);
    }

    void modelessWidgetsFollowBothWays()
    {
        auto desc = form();
        const unsigned w = dozDialogRunFromDESC(desc.data(), nullptr);
        QVERIFY(w != 0);
        PluginDialog* dialog = pluginDialog(w);
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QString("Seuillage"));
        auto* edit = qobject_cast<QLineEdit*>(dialog->itemWidget(11));
        auto* check = qobject_cast<QCheckBox*>(dialog->itemWidget(13));
        auto* high = qobject_cast<QRadioButton*>(dialog->itemWidget(14));
        auto* low = qobject_cast<QRadioButton*>(dialog->itemWidget(15));
        QVERIFY(edit && check && high && low);
        QVERIFY(high->isChecked());

        // The plug-in sets; the widgets follow once the interface runs.
        dozWindowModifyItemInt(w, 11, 10);
        dozWindowEnableItem(w, 13, 0);
        dozWindowCheckRadioButton(w, 14, 15, 15);
        QCoreApplication::processEvents();
        QCOMPARE(edit->text(), QString("15"));
        QVERIFY(!check->isEnabled());
        QVERIFY(low->isChecked() && !high->isChecked());

        // The user acts; the plug-in reads.
        edit->clear();
        QTest::keyClicks(edit, "-7");
        QCOMPARE(dozWindowGetItemInt(w, 11), -7);
        high->click();
        QCOMPARE(dozWindowGetItemInt(w, 14), 1);
        QCOMPARE(dozWindowGetItemInt(w, 15), 0);
        QVERIFY(!low->isChecked());
        high->click(); // a checked radio stays checked
        QVERIFY(high->isChecked());

        // Escape closes it: cancelled, the identifier is gone.
        QTest::keyClick(dialog, Qt::Key_Escape);
        QCoreApplication::processEvents();
        QVERIFY(!pluginDialog(w));
        QCOMPARE(dozWindowGetItemInt(w, 11), 0);
    }

    void modalRunEndsWithItsButton()
    {
        auto desc = form();
        QTimer::singleShot(0, [] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<PluginDialog*>(top);
                    dialog && dialog->isVisible()) {
                    auto* edit = qobject_cast<QLineEdit*>(dialog->itemWidget(11));
                    edit->setText("");
                    QTest::keyClicks(edit, "42");
                    qobject_cast<QCheckBox*>(dialog->itemWidget(13))->click();
                    qobject_cast<QPushButton*>(dialog->itemWidget(VEXA_DIALOG_OK))->click();
                }
        });
        QCOMPARE(dozDialogModalRunFromDESC(desc.data(), nullptr), VEXA_DIALOG_OK);
        QCOMPARE(QString(desc[2].text), QString("42"));
        QCOMPARE(desc[3].value, 1);
        QCOMPARE(desc[4].value, 1);
    }

    void endedByThePlugInFromTheProcedure()
    {
        auto desc = form();
        // Ends at once from its first call: nothing is shown.
        auto endAtInit = [](unsigned window, int, void*) { return dozDialogEnd(window, 9); };
        QCOMPARE(dozDialogModalRunFromDESC(desc.data(), endAtInit), 9);
        const unsigned w = dozDialogRunFromDESC(desc.data(), nullptr);
        QVERIFY(pluginDialog(w));
        QCOMPARE(dozDialogEnd(w, 1), 1);
        QCoreApplication::processEvents();
        QVERIFY(!pluginDialog(w));
    }

private:
    WidgetHost host_;
};

QTEST_MAIN(PluginDialogTest)
#include "plugindialog_test.moc"
