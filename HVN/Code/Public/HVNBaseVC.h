// The base of every module screen's controller. It holds the screen's view (which may be
// null: a controller works the same without one, as the command line and the scans use
// them) and the module number a screen may record, and gives the defaults that screens
// override: entering does nothing, leaving takes the screen's view and its function-button
// view out of their parents.
//
// Everything a view hands back (alert answers, chosen files) and everything an engine
// reports from another thread reaches the controller through onMainLoop: later, on the main
// run loop, and only while the controller still exists.
//
// Threads: the main thread, except onMainLoop, which any thread may call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HVN/Code/Public/HVNScreenView.h"

class HVNBaseVC {
public:
    explicit HVNBaseVC(HVNScreenView* view = nullptr);
    virtual ~HVNBaseVC();
    HVNBaseVC(const HVNBaseVC&) = delete;
    HVNBaseVC& operator=(const HVNBaseVC&) = delete;

    // The module number this screen records (0 unless a screen sets it).
    int32_t moulde = 0;

    // The screen comes on show / goes away.
    virtual void enter();
    // Removes the screen's view and its function-button view from their parents.
    virtual void exit();
    // The same as exit.
    virtual void removeView();
    // The view of the screen's function buttons, shown in the window's button bar; none by
    // default.
    virtual HVNScreenView* functionButtonView();
    // Places functionButtonView at (10, 5) in parent, keeping its size.
    virtual void buttonParentView(HVNScreenView& parent);
    // Ticks or unticks every entry of the screen; nothing by default.
    virtual void setAllCheckBoxStatus(int state);

    // Adds the screen's view to parent with the parent's size, keeping its origin.
    void showMeFromParentView(HVNScreenView& parent);

    HVNScreenView* view() const { return view_; }
    // Replaces the view (null: none). Only while no alert or panel is on show.
    void setView(HVNScreenView* view) { view_ = view; }

    // Runs fn on the main run loop later, unless this controller has been destroyed by then.
    void onMainLoop(std::function<void()> fn) const;

protected:
    // The view calls; each does nothing without a view.
    void setText(const std::string& element, const std::string& text) const;
    void setEnabled(const std::string& element, bool enabled) const;
    void setHidden(const std::string& element, bool hidden) const;
    void setState(const std::string& element, int state) const;
    void setProgress(const std::string& element, double fraction) const;
    void reloadList(const std::string& element, const std::vector<HVNListRow>& rows) const;
    // Shows the alert; answer runs on the main run loop after the view has answered (never
    // inside the view's call). Without a view the alert is answered at once with its
    // first button (later, on the main loop, all the same).
    void showAlert(const HVNAlert& alert, std::function<void(HVNAlertAnswer)> answer) const;
    // The sheet that asks for a selection before going on: messageText, the informative text
    // "Please select one option at least." and one "OK", whose answer does nothing.
    void showSelectionNeededSheet(const std::string& messageText) const;
    // Shows the panel; chosen runs on the main run loop. Without a view: nothing chosen.
    void showOpenPanel(const HVNOpenPanelRequest& request,
                       std::function<void(std::vector<std::string>)> chosen) const;

private:
    HVNScreenView* view_;
    // Expires with the controller: callbacks that arrive afterwards are dropped.
    std::shared_ptr<int> alive_;
};
