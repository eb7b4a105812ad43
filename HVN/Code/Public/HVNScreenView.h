// The drawing side of a screen, as its controller sees it. A controller owns all the logic
// of its screen (states, titles, labels, alerts, tick propagation, timers) and tells its view
// what to show through this interface; a front end (the Qt widgets, a test's recording view)
// implements it.
//
// Elements are named by the controller's own constants ("titleLabel", "scanButton"); a view
// maps each name to one of its widgets and ignores names it does not show.
//
// Rules both sides keep, so that a real widget toolkit fits:
// - The controller calls the view on the main thread only.
// - A view never calls back into the controller from inside one of these calls; the user's
//   actions reach the controller from the view's own event handlers, and the answers of
//   alerts and panels arrive through the callbacks, which the controller's base
//   (HVNBaseVC) always delivers later, on the main run loop.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// One row of a list or outline.
struct HVNListRow {
    std::vector<std::string> cells;  // one text per column, in the list's column order
    std::optional<int> checkState;   // the row's tick box: 0 off, 1 on, -1 mixed; none: no box
    int level = 0;                   // outline depth, 0 at the top
    bool isGroup = false;            // a group (heading) row
    bool enabled = true;
    std::string icon;                // the path the row's icon comes from; empty for none
};

// An alert, or a sheet attached to the screen's window.
struct HVNAlert {
    enum class Style { Alert, Sheet };
    Style style = Style::Alert;
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons;  // left to right in reading order; the first is the default
    std::string suppressionTitle;      // a check box under the text ("Never remind") when not empty
    std::vector<std::string> choices;  // radio buttons when not empty
    size_t selectedChoice = 0;
};

struct HVNAlertAnswer {
    size_t button = 0;        // index into HVNAlert::buttons
    bool suppressed = false;  // the suppression check box was ticked
    size_t choice = 0;        // index into HVNAlert::choices
};

// A panel for choosing files or folders.
struct HVNOpenPanelRequest {
    std::string prompt;     // the title of the confirming button
    std::string directory;  // where the panel opens
    bool canChooseFiles = true;
    bool canChooseDirectories = false;
    bool allowsMultipleSelection = false;
};

class HVNScreenView {
public:
    virtual ~HVNScreenView() = default;

    virtual void setText(const std::string& element, const std::string& text) = 0;
    virtual void setEnabled(const std::string& element, bool enabled) = 0;
    virtual void setHidden(const std::string& element, bool hidden) = 0;
    // The state of a tick box or switch (0 off, 1 on, -1 mixed), or the selected segment,
    // tab or radio button.
    virtual void setState(const std::string& element, int state) = 0;
    // A progress indicator: 0 to 1; a negative fraction shows it indeterminate.
    virtual void setProgress(const std::string& element, double fraction) = 0;
    // Replaces the rows of a list or outline.
    virtual void reloadList(const std::string& element, const std::vector<HVNListRow>& rows) = 0;

    // Shows the alert; answer is called once with the user's choice.
    virtual void showAlert(const HVNAlert& alert, std::function<void(HVNAlertAnswer)> answer) = 0;
    // Shows the panel; chosen is called once with the chosen paths (empty when cancelled).
    virtual void showOpenPanel(const HVNOpenPanelRequest& request,
                               std::function<void(std::vector<std::string>)> chosen) = 0;

    // Placement among the window's views.
    struct Origin {
        double x = 0;
        double y = 0;
    };
    // Adds child to this view: at origin (its own origin when none), with this view's size
    // when fillSize, else keeping its own.
    virtual void addSubview(HVNScreenView& child, std::optional<Origin> origin, bool fillSize) = 0;
    // Takes this view out of its parent; nothing when it has none.
    virtual void removeFromParent() = 0;
};
