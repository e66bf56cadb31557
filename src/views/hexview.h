#pragma once
// The hex view: a THexList as a classic dump of 16 bytes per row (address, hex and character
// columns), each byte coloured by its programming status, a five-line tooltip for the byte under
// the mouse, and in-place editing from the keyboard. It never owns the image; it follows the
// image's announcements and edits nothing while the image is read-only.
#include <QAbstractScrollArea>
#include <QColor>
#include <QPixmap>
#include <QString>

#include "base/observers.h"
#include "views/hexlayout.h"

class QMenu;
class THexList;

class THexWindow final : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit THexWindow(QWidget* parent = nullptr);

    // Binds the image (null, or an image of size 0, shows the placeholder rows); a non-empty
    // image resets the view. The view repaints whenever the bound image announces a change.
    void SetData(THexList* data);
    THexList* Data() const { return data_; }
    // Follows another image of the same place (a copy shown while an operation runs) and keeps
    // the top row and the cursor where they still fit; a half-typed byte is given up.
    void Rebind(THexList* data);
    void ResetView();
    void ScrollHome() { ResetView(); }
    // The bound image is read-only: keys and clicks move the cursor but never edit.
    bool ReadOnly() const;

    void SetBackColor(const QColor& c);
    void SetLabelColor(const QColor& c);
    void SetDataColor(const QColor& c);
    void SetAsciiColor(const QColor& c);
    void SetPassColor(const QColor& c) { passColor_ = c; }
    void SetErrorColor(const QColor& c) { errorColor_ = c; }
    void SetPopUpMenu(QMenu* menu) { popup_ = menu; }

    int64_t CursorAddress() const { return cursor_; }
    int64_t TopRow() const { return topRow_; }
    bool CharColumn() const { return charColumn_; }
    bool Editing() const { return editing_; }
    const QString& EditBuffer() const { return editBuffer_; }
    const THexLayout& Layout() const { return layout_; }
    int VisibleRows() const;
    // The tooltip text for the byte at `address`.
    QString HintText(int64_t address) const;
    // All cursor moves go through here: commits a finished hex edit, ends a character edit.
    void MoveCursor(int64_t address);

    // Paints the whole view into `target` as a paint event does (the benchmark and tests).
    void Render(QPixmap& target);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool event(QEvent* event) override;

private:
    int64_t Size() const;
    bool HasData() const { return Size() > 0; }
    int64_t LastRow() const { return Size() / 16; }
    void Commit(uint8_t value);
    void AfterKey();
    void ScrollTo(int64_t row, bool pullCursor);
    void SetScrollPosition(int64_t row);
    void Character(QChar c);
    void Draw(QPainter& p, int height);
    void Follow(THexList* data);
    void ImageResized();
    void DropEdit();

    THexList* data_ = nullptr;
    THexLayout layout_;
    QColor backColor_ = Qt::white;
    QColor labelColor_ = QColor(0, 128, 0);
    QColor dataColor_ = Qt::black;
    QColor asciiColor_ = Qt::black;
    QColor passColor_ = QColor(0, 128, 0);
    QColor errorColor_ = QColor(255, 0, 0);
    QMenu* popup_ = nullptr;
    int64_t cursor_ = 0;
    int64_t topRow_ = 0;
    bool charColumn_ = false;
    bool editing_ = false;
    QString editBuffer_;
    int64_t hintAddress_ = -1;
    bool settingScroll_ = false;
    TSubscription changed_, resized_, readOnlyChanged_;
};
