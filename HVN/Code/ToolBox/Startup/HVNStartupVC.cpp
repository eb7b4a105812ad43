#include "HVN/Code/ToolBox/Startup/HVNStartupVC.h"

#include "Platform/Log.h"
#include "Platform/Roots.h"

HVNStartupVC::HVNStartupVC(HVNScreenView* view, HVNStartupServer* server)
    : HVNBaseVC(view), server_(server ? *server : HVNStartupServer::shareHVNStartupServer()) {}

void HVNStartupVC::enter() {
    setText(kTitleLabel, kTitle);
    setText(kDescriptionLabel, kDescription);
    setText(kKindHeading, kKind);
    setText(kStatusHeading, kStatus);
    setText(kItemsHeading, kItems);
    setText(kRemoveButton, kRemove);
    setText(kAddButton, kAdd);
    setText(kEmptyLabel, kEmptyText);
    server_.scanStartup();
    selected_.reset();
    showList();
}

void HVNStartupVC::showList() {
    std::vector<HVNListRow> rows;
    for (const auto& item : server_.data) {
        HVNListRow row;
        row.cells = {item.name, item.type, item.disable ? kStatusOff : kStatusOn};
        row.icon = item.icon;
        rows.push_back(std::move(row));
    }
    if (selected_ && *selected_ >= rows.size()) selected_.reset();
    const bool empty = rows.empty();
    reloadList(kItemList, rows);
    setHidden(kEmptyLabel, !empty);
    setHidden(kItemList, empty);
}

void HVNStartupVC::selectRow(std::optional<size_t> row) {
    if (row && *row >= server_.data.size()) row.reset();
    selected_ = row;
}

bool HVNStartupVC::toggleStatus(size_t row) {
    if (row >= server_.data.size()) return false;
    const LoginItem item = server_.data[row];
    bool done = false;
    if (item.isLogin) {
        done = server_.manager().setItemDisable(item, !item.disable);
        server_.update();
    } else {
        std::string error;
        done = server_.setServerDisable(item, !item.disable, &error);
    }
    showList();
    return done;
}

void HVNStartupVC::removeClick() {
    if (!selected_ || *selected_ >= server_.data.size()) {
        showSelectionNeededSheet(kNoSelectionMessage);
        return;
    }
    for (auto& item : server_.data) item.isCheck = false;
    server_.data[*selected_].isCheck = true;
    lastRemovals_ = server_.removeLogin();
    selected_.reset();
    showList();
}

void HVNStartupVC::addClick() {
    HVNOpenPanelRequest request;
    request.prompt = kAdd;
    request.directory = hvn::Roots::systemPath(kApplicationsFolder);
    request.canChooseFiles = true;
    request.canChooseDirectories = false;
    request.allowsMultipleSelection = false;
    showOpenPanel(request, [this](std::vector<std::string> chosen) {
        if (chosen.empty()) return;
        if (!server_.manager().addItem(chosen.front(), true)) {
            hvn::Log::writef("Could not add the login item %s", chosen.front().c_str());
        }
        server_.update();
        showList();
    });
}
