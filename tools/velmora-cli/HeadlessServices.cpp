#include "HeadlessServices.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

HeadlessServices::HeadlessServices()
{
    // The window's timer is coarse; the receive tick wants its 10 ms.
    receiveTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&receiveTimer_, &QTimer::timeout, [this] {
        if (onTick) onTick();
    });
}

HeadlessServices::~HeadlessServices() = default;

void HeadlessServices::AppendText(Control c, const QString& text)
{
    texts_[c] += text;
    if (c == Control::Edit_Display && onLog) onLog(text);
}

int HeadlessServices::ComboAddItem(Control c, const QString& text, int, const QString&)
{
    Combo& box = combos_[c];
    box.texts << text;
    return int(box.texts.size()) - 1;
}

QString HeadlessServices::ComboItemText(Control c, int index) const
{
    const auto it = combos_.constFind(c);
    if (it == combos_.constEnd() || index < 0 || index >= it->texts.size()) return QString();
    return it->texts.at(index);
}

void HeadlessServices::SetSelection(Control c, int index)
{
    Combo& box = combos_[c];
    box.selection = qBound(-1, index, int(box.texts.size()) - 1);
}

void HeadlessServices::SetPosition(Control c, int value)
{
    value = qBound(0, value, 100);
    positions_[c] = value;
    if (c == Control::ProgressBar1 && onProgress) onProgress(value);
}

void HeadlessServices::SetInterval(Control c, int ms)
{
    if (c != Control::Timer_ReceiveData) return;
    ms = qMax(0, ms);
    if (ms == interval_) return;
    interval_ = ms;
    receiveTimer_.stop();
    if (ms > 0) receiveTimer_.start(ms);
}

int HeadlessServices::ShowMessageBox(const QString& text, int, const QString& caption)
{
    const QString shownCaption = caption.isEmpty() ? QStringLiteral("信息：") : caption;
    boxes_ << shownCaption + QLatin1Char('|') + text;
    if (onBox) onBox(text, shownCaption);
    // Whoever runs the command has confirmed by running it.
    return MessageBoxResult::Ok;
}

void HeadlessServices::FatalReport(int code, const QString& message, const QString& where)
{
    std::fprintf(stderr, "velmora-cli: fatal error%s%s: %s (%s)\n", code >= 0 ? " " : "",
                 code >= 0 ? qPrintable(QString::number(code)) : "", qPrintable(message), qPrintable(where));
    std::fflush(stderr);
    // Other ports' threads may be in the middle of anything; no clean-up can be trusted.
    std::_Exit(255);
}

void HeadlessServices::DeliverMessages(int waitMs)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (waitMs > 0) clock_.SleepTicks(waitMs);
}
