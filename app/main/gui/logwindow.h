// The message log window: the lines of the channel shown, the "Effacer", "Msg" and
// "Log" buttons, channel choice and a scroll bar driving the model's first shown line.
#pragma once

#include <QWidget>

class QPushButton;
class QScrollBar;
class QComboBox;

namespace vexa::gui {

class LogLinesView;

class LogWindow : public QWidget {
    Q_OBJECT
public:
    explicit LogWindow(QWidget* parent = nullptr);
    ~LogWindow() override;

    QPushButton* clearButton() const { return clear_; }
    QPushButton* enableButton() const { return enable_; }
    QPushButton* fileButton() const { return file_; }
    QComboBox* channelBox() const { return channel_; }
    // Lines currently drawn.
    QStringList shownLines() const;

public slots:
    void refresh();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    LogLinesView* lines_ = nullptr;
    QScrollBar* scroll_ = nullptr;
    QPushButton* clear_ = nullptr;
    QPushButton* enable_ = nullptr;
    QPushButton* file_ = nullptr;
    QComboBox* channel_ = nullptr;
};

} // namespace vexa::gui
