#pragma once

#include "online/addresses.h"
#include "runtime/runtime_window.h"

#include <array>

class QLabel;

namespace qinghe {

class WindowRuntime;

inline constexpr const char* kPartnerWindowDefinition = ":/ui/partner_window.ui";

// Opens the partner window modally: every other window of the program takes
// no input until it has closed.
RuntimeWindow* openPartnerWindow(WindowRuntime& runtime, const Addresses& addresses);

// "爱心接力,放飞梦想,一路有你": the appeal and eight banners, each of which
// hands its partner installer's address to the browser when pressed.
class PartnerWindow : public RuntimeWindow {
    Q_OBJECT

public:
    explicit PartnerWindow(Addresses addresses);

protected:
    void bindControls(ControlBinder& binder) override;
    void onCreated() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The banners of the definition, bound at load, in the order of kPartnerBanners.
    std::array<QLabel*, kPartnerInstallerCount> banners_{};
    Addresses addresses_;
};

}  // namespace qinghe
