#pragma once
// A single-line field for a non-negative number in a chosen base. Every keystroke, deletion,
// cut and paste is tested against the validity rule before it is let through, so the text is
// always a number in the base (and in range when asked).
#include <QLineEdit>
#include <cstdint>

class THexEdit final : public QLineEdit {
    Q_OBJECT
public:
    enum TNumBase { ebHex, ebDec, ebOct, ebBin };

    explicit THexEdit(QWidget* parent = nullptr);

    TNumBase NumBase() const { return base_; }
    void SetNumBase(TNumBase base);
    // The text's value, 32-bit wrapping: "FFFFFFFF" is -1.
    int32_t Value() const;
    void SetValue(int64_t value);
    int64_t MinValue() const { return min_; }
    int64_t MaxValue() const { return max_; }
    void SetMinValue(int64_t v);
    void SetMaxValue(int64_t v);
    bool Validate() const { return validate_; }
    void SetValidate(bool on);

    // A field for a whole 32-bit quantity (a serial number) reads its text as unsigned, so that a
    // value from 80000000h up survives a reformat instead of becoming 0.
    void SetUnsigned32(bool on) { unsigned32_ = on; }
    uint32_t UnsignedValue() const { return static_cast<uint32_t>(Value()); }

    int Radix() const;
    int32_t Parse(const QString& text) const;
    QString Format(int64_t value) const;
    // The rule every change must pass.
    bool Valid(const QString& text) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // The text with the selection (or, without one, `before` characters before and `after`
    // characters after the caret) replaced by `insert`.
    QString Edited(const QString& insert, int before = 0, int after = 0) const;

    // The value a reformat keeps: Value(), or its unsigned 32 bits.
    int64_t CurrentValue() const;

    TNumBase base_ = ebHex;
    bool unsigned32_ = false;
    int64_t min_ = 0;
    int64_t max_ = 0;
    bool validate_ = false;
};
