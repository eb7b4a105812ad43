#include "HVN/Code/Public/ScanAndDeleteApp/HVNAppItem.h"

int64_t HVNAppItem::appSizeIntValue() const {
    return hvn::Value(appSize).asInteger();
}
