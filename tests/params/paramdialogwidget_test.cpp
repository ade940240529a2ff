// The parameter dialog built offscreen for every box the program shows, at three font
// sizes: nothing overlaps, every text fits, the buttons come last; "Annuler" and Escape
// end only the program's own boxes.
#include "builtinboxes.h"
#include "params/gui/paramdialogwidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QTest>
#include <QTimer>

#include <climits>

using namespace vexa::gui;
using namespace vexa::params;
using vexa::params::testing::ScratchBindings;

namespace {

// Room a line edit leaves for its text, as it paints it.
int lineEditRoom(QLineEdit* edit)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->rect();
    option.lineWidth = edit->hasFrame()
        ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
        : 0;
    option.state |= QStyle::State_Sunken;
    QRect r = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    return r.marginsRemoved(edit->textMargins()).width() - 2 * 2;
}

int comboRoom(QComboBox* combo)
{
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.rect = combo->rect();
    option.editable = false;
    option.frame = true;
    return combo->style()
               ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo)
               .width()
        - 2;
}

QString describe(QWidget* w)
{
    return QStringLiteral("%1 '%2'").arg(
        w->objectName(), qobject_cast<QLabel*>(w) ? static_cast<QLabel*>(w)->text() : QString());
}

} // namespace

class ParamDialogWidgetTest : public QObject {
    Q_OBJECT

private:
    QFont base_;

    std::unique_ptr<ParamBox> parse(const std::string& description, ScratchBindings& bindings)
    {
        auto box = std::make_unique<ParamBox>();
        parseDescription(*box, description.c_str(), bindings);
        ScratchBindings::fill(*box, INT32_MIN, -123456.789);
        return box;
    }

private slots:
    void initTestCase() { base_ = QApplication::font(); }
    void cleanup() { QApplication::setFont(base_); }

    void everyBoxOfTheProgramFits_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<double>("scale");
        for (const auto& named : vexa::params::testing::builtinBoxes())
            for (double scale : { 1.0, 1.5, 2.0 })
                QTest::addRow("%s@%g", named.name, scale)
                    << QString::fromStdString(named.description) << scale;
    }

    void everyBoxOfTheProgramFits()
    {
        QFETCH(QString, description);
        QFETCH(double, scale);
        QFont font = base_;
        if (font.pointSizeF() > 0)
            font.setPointSizeF(font.pointSizeF() * scale);
        else
            font.setPixelSize(int(font.pixelSize() * scale));
        QApplication::setFont(font);

        ScratchBindings bindings;
        auto box = parse(description.toStdString(), bindings);
        QVERIFY(box->valid);
        box->cancellable = true;
        ParamDialogWidget dialog(*box);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        QList<QWidget*> widgets;
        for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (w->isVisible())
                widgets.append(w);
        QVERIFY(dialog.okButton());
        QVERIFY(dialog.cancelButton());
        int buttonsTop = std::min(dialog.okButton()->y(), dialog.cancelButton()->y());
        for (int i = 0; i < widgets.size(); ++i) {
            QWidget* w = widgets[i];
            const QRect g = w->geometry();
            QVERIFY2(dialog.rect().contains(g), qPrintable(describe(w)));
            for (int j = i + 1; j < widgets.size(); ++j)
                QVERIFY2(!g.intersects(widgets[j]->geometry()),
                    qPrintable(describe(w) + " / " + describe(widgets[j])));
            if (w != dialog.okButton() && w != dialog.cancelButton())
                QVERIFY2(g.bottom() < buttonsTop, qPrintable(describe(w)));
            const QFontMetrics fm(w->font());
            if (auto* label = qobject_cast<QLabel*>(w)) {
                QVERIFY2(fm.horizontalAdvance(label->text()) <= label->contentsRect().width(),
                    qPrintable(describe(w)));
                QVERIFY2(fm.height() <= label->height(), qPrintable(describe(w)));
            } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
                QVERIFY2(fm.horizontalAdvance(edit->text()) <= lineEditRoom(edit),
                    qPrintable(describe(w) + " " + edit->text()));
                QVERIFY(edit->height() >= edit->sizeHint().height());
            } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
                for (int k = 0; k < combo->count(); ++k)
                    QVERIFY2(fm.horizontalAdvance(combo->itemText(k)) <= comboRoom(combo),
                        qPrintable(describe(w) + " " + combo->itemText(k)));
                // Closed, a list is one line high.
                QVERIFY(combo->height() >= combo->sizeHint().height());
                QVERIFY(combo->height() < 2 * fm.height() + 16);
            } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QPushButton*>(w)) {
                QVERIFY2(w->width() >= w->sizeHint().width(), qPrintable(describe(w)));
                QVERIFY2(w->height() >= w->sizeHint().height(), qPrintable(describe(w)));
            }
        }
    }

    void annulerAndEscapeEndOnlyCancellableBoxes()
    {
        ScratchBindings bindings;
        auto box = parse("Valeur%d", bindings);
        auto* bound = static_cast<int32_t*>(box->items[0].value);
        box->cancellable = true;
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<ParamDialogWidget*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->fieldOf(0)->setText(QStringLiteral("5"));
            dialog->cancelButton()->click();
        });
        QCOMPARE(runParamDialog(box.get(), nullptr), 0);
        QCOMPARE(*bound, INT32_MIN); // typed text not written back

        {
            ParamDialogWidget dialog(*box);
            dialog.show();
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }

        // Boxes of plug-ins: no "Annuler", Escape ignored, Enter validates.
        box->cancellable = false;
        ParamDialogWidget dialog(*box);
        dialog.show();
        QVERIFY(!dialog.cancelButton());
        QCOMPARE(dialog.findChildren<QPushButton*>().size(), 1);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        dialog.fieldOf(0)->setText(QStringLiteral("7"));
        QTest::keyClick(&dialog, Qt::Key_Return);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(*bound, 7);
    }

    void aLargerDialogWidensItsWideFields()
    {
        ScratchBindings bindings;
        auto box = parse("Nom%h%nN%d", bindings);
        ParamDialogWidget dialog(*box);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QLineEdit* path = dialog.fieldOf(0);
        QLineEdit* number = dialog.fieldOf(2);
        const QRect pathBefore = path->geometry(), numberBefore = number->geometry();
        const QRect okBefore = dialog.okButton()->geometry();
        QCOMPARE(dialog.minimumSize(), dialog.size());
        dialog.resize(dialog.width() + 120, dialog.height() + 30);
        QTRY_COMPARE(path->width(), pathBefore.width() + 120);
        QCOMPARE(number->geometry(), numberBefore);
        QPushButton* ok = dialog.okButton();
        QVERIFY(qAbs(ok->x() + ok->width() / 2 - dialog.width() / 2) <= 1);
        QCOMPARE(
            dialog.height() - ok->geometry().bottom(), dialog.minimumHeight() - okBefore.bottom());
    }
};

QTEST_MAIN(ParamDialogWidgetTest)
#include "paramdialogwidget_test.moc"
