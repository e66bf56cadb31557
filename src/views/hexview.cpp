#include "views/hexview.h"

#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>

#include "image/hexlist.h"

namespace {

QString Hex(uint64_t value, int digits) { return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper(); }

// The character column shows printable Latin-1; control codes would move or garble the text.
QChar Shown(uint8_t b) { return (b < 0x20 || (b >= 0x7F && b < 0xA0)) ? QLatin1Char('.') : QChar(b); }

}  // namespace

THexWindow::THexWindow(QWidget* parent) : QAbstractScrollArea(parent)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(10);
    setFont(font);
    viewport()->setFont(font);
    const QFontMetrics m(font);
    layout_.w = std::max(1, m.horizontalAdvance(QLatin1Char('0')));
    layout_.h = std::max(1, m.height());
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    setMouseTracking(true);
    setToolTip(QStringLiteral("Test"));
    resize(150, 100);
    QScrollBar* bar = verticalScrollBar();
    // The view follows the thumb only when it is released.
    bar->setTracking(false);
    bar->setRange(0, 0);
    bar->setSingleStep(1);
    connect(bar, &QScrollBar::valueChanged, this, [this](int row) {
        if (!settingScroll_) ScrollTo(row, true);
    });
}

int64_t THexWindow::Size() const { return data_ ? data_->Size() : 0; }

int THexWindow::VisibleRows() const { return std::max(0, layout_.VisibleRows(viewport()->height())); }

void THexWindow::SetData(THexList* data)
{
    if (data != data_) Follow(data);
    data_ = data;
    if (HasData())
        ResetView();
    else
        viewport()->update();
}

void THexWindow::Rebind(THexList* data)
{
    if (data == data_) return;
    Follow(data);
    data_ = data;
    ImageResized();
}

void THexWindow::Follow(THexList* data)
{
    changed_.Reset();
    resized_.Reset();
    readOnlyChanged_.Reset();
    if (!data) return;
    changed_ = data->Changed.Subscribe([this] { viewport()->update(); });
    resized_ = data->Resized.Subscribe([this] { ImageResized(); });
    readOnlyChanged_ = data->ReadOnlyChanged.Subscribe([this](bool readOnly) {
        if (readOnly) DropEdit();
    });
}

// Another size keeps the place where it can: the cursor and the top row stay inside the image.
void THexWindow::ImageResized()
{
    DropEdit();
    const int64_t size = Size();
    cursor_ = std::clamp<int64_t>(cursor_, 0, std::max<int64_t>(0, size - 1));
    topRow_ = std::clamp<int64_t>(topRow_, 0, LastRow());
    SetScrollPosition(topRow_);
}

bool THexWindow::ReadOnly() const { return data_ && data_->ReadOnly(); }

void THexWindow::DropEdit()
{
    editing_ = false;
    editBuffer_.clear();
    viewport()->update();
}

void THexWindow::ResetView()
{
    SetScrollPosition(0);
    cursor_ = 0;
    topRow_ = 0;
    editing_ = false;
    editBuffer_.clear();
    viewport()->update();
}

void THexWindow::SetBackColor(const QColor& c)
{
    backColor_ = c;
    viewport()->update();
}
void THexWindow::SetLabelColor(const QColor& c)
{
    labelColor_ = c;
    viewport()->update();
}
void THexWindow::SetDataColor(const QColor& c)
{
    dataColor_ = c;
    viewport()->update();
}
void THexWindow::SetAsciiColor(const QColor& c)
{
    asciiColor_ = c;
    viewport()->update();
}

// ---- painting -----------------------------------------------------------------------------------

void THexWindow::Draw(QPainter& p, int height)
{
    const THexLayout& L = layout_;
    const int ascent = QFontMetrics(p.font()).ascent();
    const int rows = L.VisibleRows(height);
    if (!HasData()) {
        p.setPen(labelColor_);
        for (int i = 0; i <= rows; ++i)
            p.drawText(L.LabelX(), L.RowY(i) + ascent,
                       QStringLiteral("XXXXXX") + Hex(static_cast<uint64_t>(i) & 0xFF, 2) +
                           QStringLiteral(" XX XX XX XX XX XX XX XX XX XX XX XX XX XX XX XX 0123456789ABCDEF"));
        return;
    }
    const int64_t size = Size();
    for (int i = 0; i <= rows; ++i) {
        const int64_t first = (topRow_ + i) * 16;
        if (first >= size) break;
        const int y = L.RowY(i) + ascent;
        p.setPen(labelColor_);
        p.drawText(L.LabelX(), y, Hex(static_cast<uint64_t>(first), 8));
        // Each byte at its own cell: the font's true advance is rarely a whole pixel, so a row
        // drawn as one text drifts from the cells that clicks and the cursor use.
        for (int k = 0; k < 16 && first + k < size; ++k) {
            const uint32_t a = static_cast<uint32_t>(first + k);
            const uint8_t v = data_->GetValue(a);
            const TProgStatus st = data_->GetStatus(a);
            p.setPen(st.Has(ps_failed) ? errorColor_ : st.Has(ps_verified) ? passColor_ : dataColor_);
            p.drawText(L.HexX(k), y, Hex(v, 2));
            p.setPen(asciiColor_);
            p.drawText(L.CharX(k), y, QString(Shown(v)));
        }
    }

    // The cursor.
    const int64_t row = cursor_ / 16 - topRow_;
    if (row < 0 || row > rows || cursor_ >= size) return;
    const uint8_t v = data_->GetValue(static_cast<uint32_t>(cursor_));
    const int k = static_cast<int>(cursor_ % 16);
    const QRect cell(L.HexX(k), L.RowY(static_cast<int>(row)), 2 * L.w, L.h + 1);
    if (charColumn_) {
        const QRect c(L.CharX(k), L.RowY(static_cast<int>(row)), L.w, L.h);
        p.fillRect(c, Qt::black);
        p.setPen(Qt::white);
        p.drawText(c.left(), c.top() + ascent, QString(Shown(v)));
    } else if (!editing_) {
        p.fillRect(cell, Qt::black);
        p.setPen(Qt::white);
        p.drawText(cell.left(), cell.top() + ascent, Hex(v, 2));
    } else {
        if (editBuffer_.isEmpty()) editBuffer_ = Hex(v, 2);
        const QPalette& pal = palette();
        const QRect text(cell.left(), cell.top(), L.w * static_cast<int>(editBuffer_.size()), L.h);
        p.fillRect(text, pal.color(QPalette::Highlight));
        p.setPen(pal.color(QPalette::HighlightedText));
        p.drawText(cell.left(), cell.top() + ascent, editBuffer_);
        p.setPen(Qt::black);
        p.setBrush(Qt::NoBrush);
        p.drawRect(cell.adjusted(0, 0, 1, -1));
    }
}

void THexWindow::Render(QPixmap& target)
{
    const qreal dpr = target.devicePixelRatio();
    target.fill(backColor_);
    QPainter p(&target);
    p.setFont(font());
    Draw(p, static_cast<int>(target.height() / dpr));
}

void THexWindow::paintEvent(QPaintEvent*)
{
    // Straight onto the viewport: the window's backing store already keeps the paint flicker-free,
    // and a buffer of the view's size per paint cost an allocation and a copy every time.
    QPainter window(viewport());
    window.fillRect(viewport()->rect(), backColor_);
    window.translate(0, THexLayout::kMargin);
    window.setFont(font());
    Draw(window, viewport()->height());
}

void THexWindow::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    verticalScrollBar()->setPageStep(std::max(1, VisibleRows()));
    viewport()->update();
}

// ---- editing ------------------------------------------------------------------------------------

void THexWindow::Commit(uint8_t value)
{
    // The image may have shrunk under the view (a device switch resizes it): never write past it.
    if (cursor_ < 0 || cursor_ >= Size() || ReadOnly()) return;
    const uint32_t a = static_cast<uint32_t>(cursor_);
    THexList::TBulkChange edit(*data_);  // one announcement per edit
    data_->SetValue(a, value);
    data_->SetStatus(a, TProgStatus(ps_normal));
    editBuffer_.clear();
}

void THexWindow::MoveCursor(int64_t address)
{
    if (editing_ && !charColumn_ && editBuffer_.size() == 2 && HasData()) {
        editing_ = false;
        Commit(static_cast<uint8_t>(editBuffer_.toUInt(nullptr, 16)));
    }
    if (editing_ && charColumn_) editing_ = false;
    editBuffer_.clear();
    const int64_t size = Size();
    cursor_ = address >= size ? std::max<int64_t>(0, size - 1) : address < 0 ? 0 : address;
}

void THexWindow::SetScrollPosition(int64_t row)
{
    QScrollBar* bar = verticalScrollBar();
    settingScroll_ = true;
    bar->setRange(0, static_cast<int>(std::min<int64_t>(LastRow(), INT32_MAX)));
    bar->setValue(static_cast<int>(std::clamp<int64_t>(row, 0, LastRow())));
    settingScroll_ = false;
}

void THexWindow::AfterKey()
{
    const int64_t row = cursor_ / 16;
    if (row < topRow_ || cursor_ > 16 * (VisibleRows() + topRow_)) topRow_ = row;
    MoveCursor(cursor_);
    SetScrollPosition(row);
    viewport()->update();
}

void THexWindow::ScrollTo(int64_t row, bool pullCursor)
{
    if (!HasData()) return;
    row = std::clamp<int64_t>(row, 0, LastRow());
    SetScrollPosition(row);
    topRow_ = row;
    if (pullCursor) {
        const int rows = VisibleRows();
        if (cursor_ < topRow_ * 16)
            MoveCursor(topRow_ * 16);
        else if (cursor_ / 16 >= topRow_ + rows)
            MoveCursor((topRow_ + rows) * 16);
    }
    viewport()->update();
}

bool THexWindow::focusNextPrevChild(bool next)
{
    // Tab moves between the columns; Ctrl+Tab leaves the control (keyPressEvent decides).
    if (HasData()) return false;
    return QAbstractScrollArea::focusNextPrevChild(next);
}

bool THexWindow::event(QEvent* e)
{
    // The keys a dialog or tab widget would take for itself come here first.
    if (e->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(e);
        switch (key->key()) {
        case Qt::Key_Tab: case Qt::Key_Backtab: case Qt::Key_Left: case Qt::Key_Right: case Qt::Key_Up:
        case Qt::Key_Down: case Qt::Key_Home: case Qt::Key_End: case Qt::Key_PageUp: case Qt::Key_PageDown:
        case Qt::Key_Return: case Qt::Key_Enter: case Qt::Key_Escape: case Qt::Key_Backspace:
            if (HasData()) {
                e->accept();
                return true;
            }
            break;
        default: break;
        }
    }
    if (e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    if (e->type() == QEvent::ToolTip && !HasData()) return true;
    return QAbstractScrollArea::event(e);
}

void THexWindow::keyPressEvent(QKeyEvent* event)
{
    if (!HasData()) {
        event->ignore();
        return;
    }
    if (!hasFocus()) setFocus();
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const int rows = VisibleRows();
    int64_t target = cursor_;
    switch (event->key()) {
    case Qt::Key_Backspace:
        if (editing_) {
            if (charColumn_ || editBuffer_.size() != 2)
                editBuffer_.clear();
            else
                editBuffer_.truncate(1);
        }
        // Like every key, it ends with the cursor re-placed: what remains is one digit at most, so
        // nothing is written and the cell shows the byte's own value again.
        AfterKey();
        return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (ctrl) {
            editing_ = false;
            editBuffer_.clear();
            viewport()->update();
            QAbstractScrollArea::focusNextPrevChild(event->key() == Qt::Key_Tab);
            return;
        }
        charColumn_ = !charColumn_;
        editBuffer_.clear();
        AfterKey();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (editing_ && editBuffer_.size() == 2) {
            editing_ = false;
            Commit(static_cast<uint8_t>(editBuffer_.toUInt(nullptr, 16)));
        }
        AfterKey();
        return;
    case Qt::Key_Escape:
        if (editing_) {
            editing_ = false;
            editBuffer_.clear();
        }
        AfterKey();
        return;
    case Qt::Key_PageUp: target = ctrl ? topRow_ * 16 : cursor_ - 16LL * rows; break;
    case Qt::Key_PageDown: target = ctrl ? (topRow_ + rows) * 16 : cursor_ + 16LL * rows; break;
    case Qt::Key_Home: target = ctrl ? 0 : cursor_ & ~int64_t(0xF); break;
    case Qt::Key_End: target = ctrl ? Size() - 1 : cursor_ | 0xF; break;
    case Qt::Key_Left: target = cursor_ - 1; break;
    case Qt::Key_Right: target = cursor_ + 1; break;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (ctrl) {
            // Scrolls like the scroll bar's arrows, which keep the cursor in view.
            ScrollTo(topRow_ + (event->key() == Qt::Key_Up ? -1 : 1), true);
            AfterKey();
            return;
        }
        target = cursor_ + (event->key() == Qt::Key_Up ? -16 : 16);
        break;
    default: {
        const QString text = event->text();
        if (!ctrl && !(event->modifiers() & Qt::AltModifier) && text.size() == 1 && text[0].unicode() >= 32) {
            Character(text[0]);
            return;
        }
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    }
    MoveCursor(target);
    AfterKey();
}

void THexWindow::Character(QChar c)
{
    if (ReadOnly()) return;
    if (charColumn_) {
        editing_ = false;
        if (c.unicode() <= 0xFF) {
            Commit(static_cast<uint8_t>(c.unicode()));
            MoveCursor(cursor_ + 1);
            AfterKey();
        }
        return;
    }
    const QChar up = c.toUpper();
    const bool digit = (up >= QLatin1Char('0') && up <= QLatin1Char('9')) || (up >= QLatin1Char('A') && up <= QLatin1Char('F'));
    if (!digit) return;
    if (editBuffer_.isEmpty() || editBuffer_.size() == 2) {
        editing_ = true;
        editBuffer_ = QString(up);
    } else {
        editBuffer_ += up;
        editing_ = false;
        Commit(static_cast<uint8_t>(editBuffer_.toUInt(nullptr, 16)));
        MoveCursor(cursor_ + 1);
        AfterKey();
        return;
    }
    viewport()->update();
}

// ---- mouse --------------------------------------------------------------------------------------

void THexWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        if (popup_) popup_->popup(event->globalPosition().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton || !HasData()) return;
    setFocus(Qt::MouseFocusReason);
    editBuffer_.clear();
    editing_ = false;
    // Widget coordinates of the viewport, as the control's arithmetic expects.
    const QPoint at = event->position().toPoint();
    const THexLayout::THit hit = layout_.HitTest(at.x(), at.y(), topRow_);
    if (hit.column == THexLayout::Hex) {
        MoveCursor(hit.address);
        charColumn_ = false;
    } else if (hit.column == THexLayout::Char) {
        charColumn_ = true;
        if (hit.address >= 0) MoveCursor(hit.address);
    }
    editing_ = !ReadOnly();
    viewport()->update();
}

QString THexWindow::HintText(int64_t address) const
{
    if (!HasData() || address < 0 || address >= Size()) return {};
    const uint8_t v = data_->GetValue(static_cast<uint32_t>(address));
    const QString bits = QStringLiteral("%1").arg(v, 8, 2, QLatin1Char('0'));
    return QStringLiteral("Address : 0x") + Hex(static_cast<uint64_t>(address), 8) + QLatin1Char('\n') +
           QStringLiteral("Hex Data: 0x") + Hex(v, 2) + QLatin1Char('\n') + QStringLiteral("Dec Data: ") +
           QString::number(v) + QLatin1Char('\n') + QStringLiteral("Bin Data: ") + bits.left(4) + QLatin1Char(' ') +
           bits.mid(4) + QLatin1Char('\n') + QStringLiteral("As Ascii: ") + QString(QChar(v));
}

void THexWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (!HasData() || QApplication::overrideCursor()) return;
    const QPoint at = event->position().toPoint();
    const THexLayout::THit hit = layout_.HitTest(at.x(), at.y(), topRow_);
    if (hit.column == THexLayout::None || hit.address < 0 || hit.address >= Size()) return;
    const QString text = HintText(hit.address);
    setToolTip(text);
    viewport()->setToolTip(text);
    if (hit.address != hintAddress_) {
        hintAddress_ = hit.address;
        if (QToolTip::isVisible()) {
            QToolTip::hideText();
            QToolTip::showText(event->globalPosition().toPoint(), text, viewport());
        }
    }
}
