// The parameter dialog in Qt: places the controls where the core's layout puts them,
// keeps list, check box, button and file bindings current while open, and writes the
// typed fields back on "Ok" or Enter. Escape does not close it.
#pragma once

#include "params/parambox.h"

#include <QDialog>

#include <vector>

class QLineEdit;
class QPushButton;

namespace vexa::gui {

class ParamDialogWidget : public QDialog {
    Q_OBJECT
public:
    explicit ParamDialogWidget(ParamBox& box, QWidget* parent = nullptr);

    // The line edit of an item (integer, real, text and file items), or null.
    QLineEdit* fieldOf(int item) const;
    QPushButton* okButton() const { return ok_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void validate();

    ParamBox& box_;
    std::vector<QLineEdit*> fields_;
    QPushButton* ok_ = nullptr;
};

// Runs the dialog modally on the calling (GUI) thread: 1 validated, 0 closed.
int runParamDialog(ParamBox* box, QWidget* owner);

// Installs the parameter and file-chooser presenters of the core; dialogs are owned by
// ownerProvider() (null: no owner).
void installParamPresenters(std::function<QWidget*()> ownerProvider);

} // namespace vexa::gui
