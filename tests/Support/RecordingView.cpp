#include "Support/RecordingView.h"

#include <gtest/gtest.h>
#include <algorithm>

namespace hvn::test {

namespace {
const std::vector<HVNListRow> kNoRows;
}

void RecordingView::setText(const std::string& element, const std::string& text) {
    texts_[element] = text;
    calls.push_back("setText " + element + " " + text);
}

void RecordingView::setEnabled(const std::string& element, bool enabled) {
    enabled_[element] = enabled;
    calls.push_back("setEnabled " + element + " " + (enabled ? "1" : "0"));
}

void RecordingView::setHidden(const std::string& element, bool hidden) {
    hidden_[element] = hidden;
    calls.push_back("setHidden " + element + " " + (hidden ? "1" : "0"));
}

void RecordingView::setState(const std::string& element, int state) {
    states_[element] = state;
    calls.push_back("setState " + element + " " + std::to_string(state));
}

void RecordingView::setProgress(const std::string& element, double fraction) {
    progress_[element] = fraction;
    calls.push_back("setProgress " + element);
}

void RecordingView::reloadList(const std::string& element, const std::vector<HVNListRow>& rows) {
    rows_[element] = rows;
    calls.push_back("reloadList " + element + " " + std::to_string(rows.size()));
}

void RecordingView::showAlert(const HVNAlert& alert, std::function<void(HVNAlertAnswer)> answer) {
    calls.push_back("showAlert " + alert.messageText);
    if (answerAlertsAt) {
        answer(HVNAlertAnswer{*answerAlertsAt, false, alert.selectedChoice});
        return;
    }
    alerts_.emplace_back(alert, std::move(answer));
}

void RecordingView::showOpenPanel(const HVNOpenPanelRequest& request,
                                  std::function<void(std::vector<std::string>)> chosen) {
    calls.push_back("showOpenPanel " + request.prompt);
    panels_.emplace_back(request, std::move(chosen));
}

void RecordingView::addSubview(HVNScreenView& child, std::optional<Origin> origin, bool fillSize) {
    auto* c = dynamic_cast<RecordingView*>(&child);
    ASSERT_NE(c, nullptr) << "a recording view holds recording views only";
    if (c->parent) c->removeFromParent();
    c->parent = this;
    c->lastOrigin = origin;
    c->lastFill = fillSize;
    subviews.push_back(c);
    calls.push_back("addSubview");
}

void RecordingView::removeFromParent() {
    if (!parent) return;
    auto& siblings = parent->subviews;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    parent = nullptr;
    calls.push_back("removeFromParent");
}

std::string RecordingView::text(const std::string& element) const {
    auto it = texts_.find(element);
    return it == texts_.end() ? std::string() : it->second;
}

std::optional<bool> RecordingView::enabled(const std::string& element) const {
    auto it = enabled_.find(element);
    return it == enabled_.end() ? std::nullopt : std::optional<bool>(it->second);
}

std::optional<bool> RecordingView::hidden(const std::string& element) const {
    auto it = hidden_.find(element);
    return it == hidden_.end() ? std::nullopt : std::optional<bool>(it->second);
}

std::optional<int> RecordingView::state(const std::string& element) const {
    auto it = states_.find(element);
    return it == states_.end() ? std::nullopt : std::optional<int>(it->second);
}

std::optional<double> RecordingView::progress(const std::string& element) const {
    auto it = progress_.find(element);
    return it == progress_.end() ? std::nullopt : std::optional<double>(it->second);
}

const std::vector<HVNListRow>& RecordingView::rows(const std::string& element) const {
    auto it = rows_.find(element);
    return it == rows_.end() ? kNoRows : it->second;
}

std::vector<std::string> RecordingView::firstCells(const std::string& element) const {
    std::vector<std::string> out;
    for (const auto& r : rows(element)) out.push_back(r.cells.empty() ? std::string() : r.cells.front());
    return out;
}

const HVNAlert& RecordingView::alert() const {
    static const HVNAlert none;
    EXPECT_FALSE(alerts_.empty()) << "no alert is on show";
    return alerts_.empty() ? none : alerts_.front().first;
}

bool RecordingView::answerAlert(size_t button, bool suppressed, size_t choice) {
    if (alerts_.empty()) return false;
    auto answer = std::move(alerts_.front().second);
    alerts_.pop_front();
    answer(HVNAlertAnswer{button, suppressed, choice});
    return true;
}

const HVNOpenPanelRequest& RecordingView::panel() const {
    static const HVNOpenPanelRequest none;
    EXPECT_FALSE(panels_.empty()) << "no panel is on show";
    return panels_.empty() ? none : panels_.front().first;
}

bool RecordingView::choose(std::vector<std::string> paths) {
    if (panels_.empty()) return false;
    auto chosen = std::move(panels_.front().second);
    panels_.pop_front();
    chosen(std::move(paths));
    return true;
}

}  // namespace hvn::test
