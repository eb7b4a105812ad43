// The startup page: the combined list of HVNStartupServer with each entry's kind, status and
// name, a status switch per row, "Remove" for the selected row and "Add" for a new login
// item chosen in an open panel.
//
// The list (kItemList) has the columns of its headings in this order: "Items" (the name),
// "Kind" (the type text) and "Status" ("ON" or "OFF", the entry's current state); each row's
// icon is the entry's icon. kStatusOn / kStatusOff are the two segments of a row's switch.
//
// Threads: the main thread. The view's actions (selectRow, toggleStatus, removeClick,
// addClick) come from the view's own event handlers; answers of the alert and the panel
// arrive later on the main run loop.
#pragma once

#include <optional>
#include <string>

#include "HVN/Code/Public/HVNBaseVC.h"
#include "HVN/Code/ToolBox/Startup/HVNStartupServer.h"

class HVNStartupVC : public HVNBaseVC {
public:
    // Elements.
    static constexpr const char* kTitleLabel = "titleLabel";
    static constexpr const char* kDescriptionLabel = "descriptionLabel";
    static constexpr const char* kEmptyLabel = "emptyLabel";
    static constexpr const char* kKindHeading = "kindHeading";
    static constexpr const char* kStatusHeading = "statusHeading";
    static constexpr const char* kItemsHeading = "itemsHeading";
    static constexpr const char* kItemList = "itemList";
    static constexpr const char* kRemoveButton = "removeButton";
    static constexpr const char* kAddButton = "addButton";

    // Texts.
    static constexpr const char* kTitle = "Startup Optimization";
    static constexpr const char* kDescription =
        "Login items are displayed below. You can click Status button to disable them. ";
    static constexpr const char* kEmptyText = "No applications are running at startup";
    static constexpr const char* kKind = "Kind";
    static constexpr const char* kStatus = "Status";
    static constexpr const char* kItems = "Items";
    static constexpr const char* kStatusOn = "ON";
    static constexpr const char* kStatusOff = "OFF";
    static constexpr const char* kRemove = "Remove";
    static constexpr const char* kAdd = "Add";
    static constexpr const char* kNoSelectionMessage = "You must select at least one item to clean.";
    static constexpr const char* kNoSelectionInformative = "Please select one option at least.";
    static constexpr const char* kOK = "OK";
    static constexpr const char* kApplicationsFolder = "/Applications";

    // A page over the given server (the shared one when null); view may be null.
    explicit HVNStartupVC(HVNScreenView* view = nullptr, HVNStartupServer* server = nullptr);

    // Shows the texts, runs the server's scanStartup and shows the list.
    void enter() override;

    // The user selected a row of the list (none: no row).
    void selectRow(std::optional<size_t> row);
    std::optional<size_t> selectedRow() const { return selected_; }
    // The status switch of a row: a login item is disabled or enabled (setItemDisable with
    // the opposite of its disable), a service switched (setServerDisable); the list is shown
    // again. False when the row does not exist or the change failed (the row keeps its state).
    bool toggleStatus(size_t row);
    // "Remove": the selected row alone is marked and removed (removeLogin); without a
    // selection a sheet alert says so.
    void removeClick();
    // "Add": an open panel for one file at the system root's "/Applications"; the first
    // chosen path becomes a login item (posting "loginItemUpdate") and the list is updated.
    void addClick();

    // The rows the list shows now (data of the server).
    void showList();

    // The outcome of the last removal, for a front end that reports it.
    const std::vector<HVNStartupServer::Removal>& lastRemovals() const { return lastRemovals_; }

private:
    HVNStartupServer& server_;
    std::optional<size_t> selected_;
    std::vector<HVNStartupServer::Removal> lastRemovals_;
};
