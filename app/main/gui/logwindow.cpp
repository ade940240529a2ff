#include "main/gui/logwindow.h"

#include "log/logmodel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace vexa::gui {

class LogLinesView : public QWidget {
public:
    explicit LogLinesView(QWidget* parent)
        : QWidget(parent)
    {
        setBackgroundRole(QPalette::Base);
        setAutoFillBackground(true);
        setMinimumSize(200, 80);
    }

    QStringList lines;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const int step = 3 * fontMetrics().height() / 2;
        int y = 5 + fontMetrics().ascent();
        for (const QString& line : lines) {
            painter.drawText(5, y, line);
            y += step;
        }
    }
};

LogWindow::LogWindow(QWidget* parent)
    : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Messages"));
    clear_ = new QPushButton(QStringLiteral("Effacer"), this);
    enable_ = new QPushButton(QStringLiteral("Msg"), this);
    enable_->setCheckable(true);
    file_ = new QPushButton(QStringLiteral("Log"), this);
    file_->setCheckable(true);
    channel_ = new QComboBox(this);
    channel_->addItems(
        { QStringLiteral("Canal 0"), QStringLiteral("Canal 1"), QStringLiteral("Canal 2") });
    lines_ = new LogLinesView(this);
    scroll_ = new QScrollBar(Qt::Vertical, this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(clear_);
    buttons->addWidget(enable_);
    buttons->addWidget(file_);
    buttons->addStretch();
    buttons->addWidget(channel_);
    auto* body = new QHBoxLayout;
    body->addWidget(lines_, 1);
    body->addWidget(scroll_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addLayout(body, 1);

    auto& model = log::messageLog();
    connect(
        clear_, &QPushButton::clicked, this, [] { log::messageLog().command(log::kCommandClear); });
    connect(enable_, &QPushButton::clicked, this,
        [] { log::messageLog().command(log::kCommandToggleEnabled); });
    connect(file_, &QPushButton::clicked, this,
        [] { log::messageLog().command(log::kCommandToggleFile); });
    connect(channel_, &QComboBox::currentIndexChanged, this,
        [](int channel) { log::messageLog().show(channel); });
    connect(scroll_, &QScrollBar::valueChanged, this, [](int value) {
        auto& log = log::messageLog();
        if (value != log.firstShown(log.shownChannel()))
            log.command(log::kScrollPosition, value);
    });
    // The model calls back on whichever thread changed it; redraw on ours.
    model.setChangeListener(
        [this] { QMetaObject::invokeMethod(this, &LogWindow::refresh, Qt::QueuedConnection); });
    resize(520, 320);
    refresh();
}

LogWindow::~LogWindow()
{
    log::messageLog().setChangeListener({});
}

QStringList LogWindow::shownLines() const
{
    return lines_->lines;
}

void LogWindow::refresh()
{
    auto& model = log::messageLog();
    const int channel = model.shownChannel();
    QStringList lines;
    for (const std::string& line : model.visibleLines())
        lines << QString::fromUtf8(line.c_str());
    lines_->lines = lines;
    lines_->update();
    {
        const QSignalBlocker blockChannel(channel_);
        channel_->setCurrentIndex(channel);
    }
    enable_->setChecked(model.enabled(channel));
    enable_->setText(
        model.enabled(channel) ? QStringLiteral("Msg") : QStringLiteral("Msg (arrêt)"));
    file_->setChecked(model.fileCopy());
    file_->setText(model.fileCopy() ? QStringLiteral("Log (fichier)") : QStringLiteral("Log"));
    const QSignalBlocker blockScroll(scroll_);
    scroll_->setRange(0, std::max(0, model.count(channel) - 1));
    scroll_->setPageStep(std::max(1, model.linesThatFit()));
    scroll_->setValue(model.firstShown(channel));
}

void LogWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    log::messageLog().resize(lines_->height(), fontMetrics().height());
    refresh();
}

void LogWindow::wheelEvent(QWheelEvent* event)
{
    const int steps = event->angleDelta().y() / 120;
    for (int i = 0; i < std::abs(steps); ++i)
        log::messageLog().command(steps > 0 ? log::kScrollLineUp : log::kScrollLineDown);
    event->accept();
}

} // namespace vexa::gui
