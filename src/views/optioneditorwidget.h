#pragma once
// The option editor's widget: radio groups for the option byte's bits, the clock-source list,
// the programming-clock list and the two labels, bound to the session's model. The model lives
// as long as the session; the widget is rebuilt on every device switch and runs the model's
// handlers, so the option byte and the timing text are computed in one place only.
#include <QWidget>
#include <array>
#include <functional>
#include <vector>

#include "base/observers.h"

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class TBaseFuseForm;

class TBaseFuseFrame final : public QWidget {
    Q_OBJECT
public:
    TBaseFuseFrame(TBaseFuseForm& model, QWidget* parent = nullptr);

    // What the main window does for every device it can select.
    void DisableClockSelector();
    void HideAccessCompMode();

    // Shows the model's state; called whenever the model says it changed.
    void Refresh();
    // While an operation runs the model is not the window's to read or change: the editor stops
    // following it and takes no clicks; live again, it shows the model's state.
    void SetLive(bool live);

    QButtonGroup* Group(const char* name) const;
    QComboBox* ClockSelector() const { return clockSelector_; }
    QComboBox* PGMTIM() const { return pgmtim_; }
    QLabel* Label4() const { return label4_; }
    QLabel* Label5() const { return label5_; }
    QGroupBox* AccessCompModeBox() const { return accessBox_; }

private:
    QButtonGroup* AddGroup(const char* name, const char* title, const char* zero, const char* one,
                           std::function<void(int)> click, int TBaseFuseForm::*item);

    TBaseFuseForm& model_;
    struct TRadio {
        const char* name;
        QButtonGroup* group;
        int TBaseFuseForm::*item;
    };
    std::vector<TRadio> radios_;
    QGroupBox* accessBox_ = nullptr;
    QComboBox* clockSelector_ = nullptr;
    QComboBox* pgmtim_ = nullptr;
    QLabel* label4_ = nullptr;
    QLabel* label5_ = nullptr;
    bool refreshing_ = false;
    TSubscription modelChanged_;
};
