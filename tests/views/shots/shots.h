#pragma once
// Pictures of windows and dialogs for `make screenshots`. Each picture registers a maker at static
// initialisation, so adding one never touches the program that writes them.
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace shots {

// Builds a widget in the state the picture shows; the writer shows it, lets it lay out and grabs it.
using TMaker = std::function<std::unique_ptr<QWidget>()>;

struct TShot {
    std::string FileName;  // "hexview.png"
    TMaker Make;
};

std::vector<TShot>& Registry();

struct TRegistrar {
    TRegistrar(const char* fileName, TMaker make) { Registry().push_back({fileName, std::move(make)}); }
};

}  // namespace shots

#define ZEMPRIX_SHOT_CAT2(a, b) a##b
#define ZEMPRIX_SHOT_CAT(a, b) ZEMPRIX_SHOT_CAT2(a, b)
// ZEMPRIX_SHOT("name.png") { return std::make_unique<...>(...); }
#define ZEMPRIX_SHOT(fileName)                                                                     \
    static std::unique_ptr<QWidget> ZEMPRIX_SHOT_CAT(shotMaker_, __LINE__)();                      \
    static const shots::TRegistrar ZEMPRIX_SHOT_CAT(shotRegistrar_, __LINE__)(                     \
        fileName, &ZEMPRIX_SHOT_CAT(shotMaker_, __LINE__));                                        \
    static std::unique_ptr<QWidget> ZEMPRIX_SHOT_CAT(shotMaker_, __LINE__)()
