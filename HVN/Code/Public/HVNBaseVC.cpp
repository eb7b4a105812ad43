#include "HVN/Code/Public/HVNBaseVC.h"

#include <utility>

#include "Platform/RunLoop.h"

HVNBaseVC::HVNBaseVC(HVNScreenView* view) : view_(view), alive_(std::make_shared<int>(0)) {}

HVNBaseVC::~HVNBaseVC() = default;

void HVNBaseVC::enter() {}

void HVNBaseVC::exit() {
    if (view_) view_->removeFromParent();
    if (HVNScreenView* buttons = functionButtonView()) buttons->removeFromParent();
}

void HVNBaseVC::removeView() {
    HVNBaseVC::exit();
}

HVNScreenView* HVNBaseVC::functionButtonView() {
    return nullptr;
}

void HVNBaseVC::buttonParentView(HVNScreenView& parent) {
    if (HVNScreenView* buttons = functionButtonView()) {
        parent.addSubview(*buttons, HVNScreenView::Origin{10, 5}, false);
    }
}

void HVNBaseVC::setAllCheckBoxStatus(int) {}

void HVNBaseVC::showMeFromParentView(HVNScreenView& parent) {
    if (view_) parent.addSubview(*view_, std::nullopt, true);
}

void HVNBaseVC::onMainLoop(std::function<void()> fn) const {
    std::weak_ptr<int> alive = alive_;
    hvn::RunLoop::main().performOnMainThread([alive, fn = std::move(fn)] {
        if (alive.lock()) fn();
    });
}

void HVNBaseVC::setText(const std::string& element, const std::string& text) const {
    if (view_) view_->setText(element, text);
}

void HVNBaseVC::setEnabled(const std::string& element, bool enabled) const {
    if (view_) view_->setEnabled(element, enabled);
}

void HVNBaseVC::setHidden(const std::string& element, bool hidden) const {
    if (view_) view_->setHidden(element, hidden);
}

void HVNBaseVC::setState(const std::string& element, int state) const {
    if (view_) view_->setState(element, state);
}

void HVNBaseVC::setProgress(const std::string& element, double fraction) const {
    if (view_) view_->setProgress(element, fraction);
}

void HVNBaseVC::reloadList(const std::string& element, const std::vector<HVNListRow>& rows) const {
    if (view_) view_->reloadList(element, rows);
}

void HVNBaseVC::showSelectionNeededSheet(const std::string& messageText) const {
    HVNAlert alert;
    alert.style = HVNAlert::Style::Sheet;
    alert.messageText = messageText;
    alert.informativeText = "Please select one option at least.";
    alert.buttons = {"OK"};
    showAlert(alert, [](HVNAlertAnswer) {});
}

void HVNBaseVC::showAlert(const HVNAlert& alert, std::function<void(HVNAlertAnswer)> answer) const {
    if (!view_) {
        onMainLoop([answer = std::move(answer)] { answer(HVNAlertAnswer{}); });
        return;
    }
    view_->showAlert(alert,
                     [this, weak = std::weak_ptr<int>(alive_), answer = std::move(answer)](HVNAlertAnswer a) {
                         if (!weak.lock()) return;
                         onMainLoop([answer, a] { answer(a); });
                     });
}

void HVNBaseVC::showOpenPanel(const HVNOpenPanelRequest& request,
                              std::function<void(std::vector<std::string>)> chosen) const {
    if (!view_) {
        onMainLoop([chosen = std::move(chosen)] { chosen({}); });
        return;
    }
    view_->showOpenPanel(request, [this, weak = std::weak_ptr<int>(alive_),
                                   chosen = std::move(chosen)](std::vector<std::string> paths) {
        if (!weak.lock()) return;
        onMainLoop([chosen, paths = std::move(paths)] { chosen(paths); });
    });
}
