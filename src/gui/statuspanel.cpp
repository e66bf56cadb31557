#include "gui/statuspanel.h"

#include <QPainter>

TStatusPanel::TStatusPanel(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void TStatusPanel::SetStatus(TStatusKind kind, const QString& text)
{
    kind_ = kind;
    text_ = text;
    update();
}

void TStatusPanel::SetBlinkPhase(bool on)
{
    blinkOn_ = on;
    update();
}

QColor TStatusPanel::LampColour() const
{
    switch (kind_) {
    case sk_completed:
        return QColor(0, 255, 64);
    case sk_started:
        return QColor(255, 128, 0);
    case sk_failed:
        return blinkOn_ ? QColor(255, 0, 0) : QColor(0, 0, 0);
    case sk_none:
        break;
    }
    return {};
}

QSize TStatusPanel::sizeHint() const
{
    const int h = fontMetrics().height() + 6;
    return {h + 4 + fontMetrics().horizontalAdvance(text_) + 8, h};
}

void TStatusPanel::paintEvent(QPaintEvent*)
{
    const QColor lamp = LampColour();
    if (!lamp.isValid()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int lampSize = 12;
    const QRectF circle(4, (height() - lampSize) / 2.0, lampSize, lampSize);
    p.setPen(Qt::NoPen);
    p.setBrush(lamp);
    p.drawRoundedRect(circle, lampSize / 2.0, lampSize / 2.0);
    // Black as ever, except on a dark desktop theme, where black could not be read.
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    p.setPen(dark ? palette().color(QPalette::WindowText) : QColor(Qt::black));
    const QRect textRect(4 + height(), 0, width() - 4 - height(), height());
    p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, text_);
}
