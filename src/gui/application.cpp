#include "gui/application.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <algorithm>

namespace {

// The menu bar's and tool bars' overflow button: two chevrons drawn on demand. The base style reads them from
// image files as soon as a menu bar exists, which loads every image format plug-in during start-up.
class TChevronIcon final : public QIconEngine {
public:
    explicit TChevronIcon(bool vertical) : vertical_(vertical) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        const QPalette palette = QGuiApplication::palette();
        QPen pen(palette.color(mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active, QPalette::WindowText));
        pen.setWidthF(std::max(1.0, rect.width() / 8.0));
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(pen);
        painter->translate(QRectF(rect).center());
        if (vertical_) painter->rotate(90);
        const qreal s = std::min(rect.width(), rect.height()) / 4.0;
        QPainterPath path;
        for (const qreal x : {-s, 0.2 * s}) {
            path.moveTo(x, -s);
            path.lineTo(x + 0.8 * s, 0);
            path.lineTo(x, s);
        }
        painter->drawPath(path);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap image(size);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return image;
    }

    QIconEngine* clone() const override { return new TChevronIcon(vertical_); }
    QString key() const override { return QStringLiteral("zemprix-chevron"); }

private:
    bool vertical_;
};

}  // namespace

TZemprixStyle::TZemprixStyle() : QProxyStyle(nullptr) {}

QIcon TZemprixStyle::standardIcon(StandardPixmap icon, const QStyleOption* option, const QWidget* widget) const
{
    if (icon == SP_ToolBarHorizontalExtensionButton) return QIcon(new TChevronIcon(false));
    if (icon == SP_ToolBarVerticalExtensionButton) return QIcon(new TChevronIcon(true));
    return QProxyStyle::standardIcon(icon, option, widget);
}

void ConfigureApplication()
{
    QApplication::setApplicationName(QStringLiteral("ZEMPRIX"));
    QApplication::setOrganizationName(QStringLiteral("morvel"));
    QApplication::setApplicationVersion(QStringLiteral(ZEMPRIX_FILE_VERSION));
    // Ties the window to the installed menu entry (and its icon) on Wayland and in task bars.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.zemprix.Zemprix"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.zemprix.Zemprix")));
    QApplication::setStyle(new TZemprixStyle);
}
