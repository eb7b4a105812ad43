// A screen view for controller tests: it records what the controller shows (the latest text,
// enabled and hidden flags, state, progress and rows of each element, and every call in
// order) and keeps alerts and panels pending until the test answers them.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Public/HVNScreenView.h"

namespace hvn::test {

class RecordingView : public HVNScreenView {
public:
    void setText(const std::string& element, const std::string& text) override;
    void setEnabled(const std::string& element, bool enabled) override;
    void setHidden(const std::string& element, bool hidden) override;
    void setState(const std::string& element, int state) override;
    void setProgress(const std::string& element, double fraction) override;
    void reloadList(const std::string& element, const std::vector<HVNListRow>& rows) override;
    void showAlert(const HVNAlert& alert, std::function<void(HVNAlertAnswer)> answer) override;
    void showOpenPanel(const HVNOpenPanelRequest& request,
                       std::function<void(std::vector<std::string>)> chosen) override;
    void addSubview(HVNScreenView& child, std::optional<Origin> origin, bool fillSize) override;
    void removeFromParent() override;

    // The latest value shown for an element ("" / unset when none was).
    std::string text(const std::string& element) const;
    std::optional<bool> enabled(const std::string& element) const;
    std::optional<bool> hidden(const std::string& element) const;
    std::optional<int> state(const std::string& element) const;
    std::optional<double> progress(const std::string& element) const;
    const std::vector<HVNListRow>& rows(const std::string& element) const;
    // The first cell of every row of a list.
    std::vector<std::string> firstCells(const std::string& element) const;

    // Every call, in order: "setText <element> <text>", "setEnabled <element> 1",
    // "reloadList <element> <row count>", "showAlert <messageText>", ...
    std::vector<std::string> calls;

    // Alerts and panels on show, oldest first.
    bool hasAlert() const { return !alerts_.empty(); }
    const HVNAlert& alert() const;  // the oldest one; fails the test when none
    // Answers the oldest alert. False when none is on show.
    bool answerAlert(size_t button, bool suppressed = false, size_t choice = 0);
    bool hasPanel() const { return !panels_.empty(); }
    const HVNOpenPanelRequest& panel() const;
    bool choose(std::vector<std::string> paths);

    // When set, alerts are answered with this button inside showAlert itself (a view that
    // answers at once), to check that the answer still reaches the controller later.
    std::optional<size_t> answerAlertsAt;

    // Placement.
    RecordingView* parent = nullptr;
    std::vector<RecordingView*> subviews;
    std::optional<Origin> lastOrigin;
    bool lastFill = false;

private:
    std::map<std::string, std::string> texts_;
    std::map<std::string, bool> enabled_, hidden_;
    std::map<std::string, int> states_;
    std::map<std::string, double> progress_;
    std::map<std::string, std::vector<HVNListRow>> rows_;
    std::deque<std::pair<HVNAlert, std::function<void(HVNAlertAnswer)>>> alerts_;
    std::deque<std::pair<HVNOpenPanelRequest, std::function<void(std::vector<std::string>)>>> panels_;
};

}  // namespace hvn::test
