#include "views/hexedit.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QKeyEvent>
#include <algorithm>

#include "base/hextext.h"

THexEdit::THexEdit(QWidget* parent) : QLineEdit(parent)
{
    setText(QStringLiteral("0"));
    // Drops and the context menu would bypass the keystroke rule.
    setAcceptDrops(false);
    setContextMenuPolicy(Qt::NoContextMenu);
}

int THexEdit::Radix() const
{
    switch (base_) {
    case ebHex: return 16;
    case ebDec: return 10;
    case ebOct: return 8;
    case ebBin: return 2;
    }
    return 16;
}

int32_t THexEdit::Parse(const QString& text) const
{
    uint32_t r = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const uint32_t d = (u >= u'0' && u <= u':') ? u - u'0' : static_cast<uint32_t>(u - u'A' + 10);
        r = r * static_cast<uint32_t>(Radix()) + d;  // wraps, as the field always has
    }
    return static_cast<int32_t>(r);
}

QString THexEdit::Format(int64_t value) const
{
    return QString::number(static_cast<qulonglong>(std::max<int64_t>(0, value)), Radix()).toUpper();
}

bool THexEdit::Valid(const QString& text) const
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const int d = u < 0x80 ? hex::TryDigit(static_cast<char>(u), false) : -1;
        if (d < 0 || d >= Radix()) return false;
    }
    if (validate_) {
        const int64_t v = Parse(text);
        if (v < min_ || v > max_) return false;
    }
    return true;
}

int32_t THexEdit::Value() const { return Parse(text()); }

int64_t THexEdit::CurrentValue() const
{
    return unsigned32_ ? static_cast<int64_t>(static_cast<uint32_t>(Value())) : Value();
}

void THexEdit::SetValue(int64_t value)
{
    if (value < 0) value = 0;
    if (validate_) value = std::clamp(value, min_, std::max(min_, max_));
    setText(Format(value));
}

void THexEdit::SetNumBase(TNumBase base)
{
    const int64_t v = CurrentValue();
    base_ = base;
    SetValue(v);
}

void THexEdit::SetMinValue(int64_t v)
{
    min_ = std::max<int64_t>(0, v);
    SetValue(CurrentValue());
}

void THexEdit::SetMaxValue(int64_t v)
{
    max_ = std::max<int64_t>(0, v);
    SetValue(CurrentValue());
}

void THexEdit::SetValidate(bool on)
{
    validate_ = on;
    SetValue(CurrentValue());
}

QString THexEdit::Edited(const QString& insert, int before, int after) const
{
    QString t = text();
    if (hasSelectedText()) {
        const int start = selectionStart();
        return t.left(start) + insert + t.mid(start + static_cast<int>(selectedText().size()));
    }
    const int caret = cursorPosition();
    const int from = std::max(0, caret - before);
    const int to = std::min(static_cast<int>(t.size()), caret + after);
    return t.left(from) + insert + t.mid(to);
}

void THexEdit::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool ctrl = mods & Qt::ControlModifier;
    const bool shift = mods & Qt::ShiftModifier;
    const int key = event->key();
    auto allow = [&](bool ok) {
        if (ok) QLineEdit::keyPressEvent(event);
        else event->accept();  // swallowed, without a sound
    };
    auto pasteOk = [&] {
        const QString clip = QApplication::clipboard()->text();
        if (clip.isEmpty()) return false;
        // The selection stays in the test, as the field always has checked it.
        const QString t = text();
        const int caret = cursorPosition();
        return Valid(t.left(caret) + clip + t.mid(caret));
    };
    if ((ctrl && key == Qt::Key_C) || (ctrl && key == Qt::Key_Insert)) return allow(true);
    if ((ctrl && key == Qt::Key_V) || (shift && key == Qt::Key_Insert)) return allow(pasteOk());
    if ((ctrl && key == Qt::Key_X) || (shift && key == Qt::Key_Delete))
        return allow(hasSelectedText() && Valid(Edited(QString())));
    if (key == Qt::Key_Delete) return allow(Valid(Edited(QString(), 0, 1)));
    if (key == Qt::Key_Backspace) return allow(Valid(Edited(QString(), 1, 0)));
    const QString typed = event->text();
    if (!ctrl && typed.size() == 1 && typed[0].unicode() >= 32) {
        const QChar c = typed[0].toUpper();
        const bool digit = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        if (!digit || !Valid(Edited(QString(c)))) return allow(false);
        insert(QString(c));
        event->accept();
        return;
    }
    // Cursor movement, selection and the rest change no text.
    QLineEdit::keyPressEvent(event);
}

void THexEdit::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason ||
        event->reason() == Qt::ShortcutFocusReason)
        selectAll();
}

void THexEdit::focusOutEvent(QFocusEvent* event)
{
    SetValue(CurrentValue());
    QLineEdit::focusOutEvent(event);
}
