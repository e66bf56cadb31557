#pragma once
// The application's look: the platform's style, with the few standard icons that would otherwise be
// read from image files while the main window is being built.
#include <QProxyStyle>

class TZemprixStyle final : public QProxyStyle {
public:
    TZemprixStyle();
    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
};

// Everything the desktop program sets up on the application before its first window: names, the
// desktop entry, the window icon and the style. The start-up benchmark runs the same.
void ConfigureApplication();
