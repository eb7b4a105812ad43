#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/ToolBox/Startup/LoginItem.h"

HVNScaneOuputObjectPtr HVNCommonFunction::convertLoginItemToScanOutputObj(const LoginItem& item) {
    auto node = HVNScaneOuputObject::create();
    node->icon = item.icon;
    node->setName(item.name);
    node->isCheck = item.isCheck ? 1 : 0;
    node->isLogin = true;
    node->setFilePath(item.url.value_or(std::string()));
    return node;
}

LoginItem HVNCommonFunction::convertScanOutputObjToLoginItem(const HVNScaneOuputObject& node) {
    LoginItem item;
    item.icon = node.icon;
    item.name = node.name();
    item.isCheck = node.isCheck != 0;
    std::string path = node.filePath();
    // Without a path of its own a node answers its folder and name joined: "/<name>" for a
    // broken item's node, which has no folder either. That is no path of the item.
    bool derived = node.dirPath().empty() && path == "/" + node.name();
    if (!path.empty() && !derived) item.url = path;
    return item;
}
