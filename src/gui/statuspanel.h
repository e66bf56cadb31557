#pragma once
// The status bar's first panel: a round lamp in the colour of the current status kind and the
// message behind it. The text carries the runner's kind prefix ("0|", "1|", "2|"); a failure's
// lamp alternates between red and black with the blink phase.
#include <QWidget>

class TStatusPanel final : public QWidget {
    Q_OBJECT
public:
    explicit TStatusPanel(QWidget* parent = nullptr);

    void SetStatusText(const QString& prefixedText);
    const QString& StatusText() const { return text_; }
    void SetBlinkPhase(bool on);
    bool BlinkPhase() const { return blinkOn_; }
    // The lamp's colour for the current text and phase; invalid when no lamp is drawn.
    QColor LampColour() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    bool blinkOn_ = true;
};
