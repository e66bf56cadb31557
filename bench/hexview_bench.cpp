// One full paint of a 600-pixel-high hex view of a 32 KB image with every status colour in use,
// into an offscreen pixmap with the drawing the view paints with.
#include <QApplication>
#include <QPixmap>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "image/hexlist.h"
#include "views/hexview.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    THexList image;
    image.SetSize(0x8000);
    for (uint32_t a = 0; a < image.Size(); ++a) {
        image.SetValue(a, static_cast<uint8_t>(a * 37));
        if (a % 7 == 0) image.SetStatus(a, TProgStatus(ps_verified));
        if (a % 29 == 0) image.SetStatus(a, TProgStatus(ps_failed));
    }
    THexWindow view;
    view.resize(760, 600 + 8);
    view.SetData(&image);
    view.MoveCursor(0x123);
    QPixmap buffer(view.Layout().BufferWidth(), 600);
    double best = 1e9;
    for (int i = 0; i < 200; ++i) {
        const auto start = std::chrono::steady_clock::now();
        view.Render(buffer);
        best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("hex view: one full paint of 600 px (%d rows) of a 32 KB image: %.3f ms (target 2 ms)\n",
                view.Layout().VisibleRows(600) + 1, best);
    return 0;
}
