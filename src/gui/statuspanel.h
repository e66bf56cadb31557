#pragma once
// The status bar's first panel: a round lamp in the colour of the current status kind and the
// message behind it. The lamp's colour follows the line's kind; a failure's lamp alternates
// between red and black with the blink phase.
#include <QWidget>

#include "app/runner.h"

class TStatusPanel final : public QWidget {
    Q_OBJECT
public:
    explicit TStatusPanel(QWidget* parent = nullptr);

    void SetStatus(TStatusKind kind, const QString& text);
    const QString& StatusText() const { return text_; }
    TStatusKind StatusKind() const { return kind_; }
    void SetBlinkPhase(bool on);
    bool BlinkPhase() const { return blinkOn_; }
    // The lamp's colour for the current kind and phase; invalid when no lamp is drawn.
    QColor LampColour() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    TStatusKind kind_ = sk_none;
    bool blinkOn_ = true;
};
