// The page the large-and-old-files tool shows instead of the result list when a run found
// nothing. It has no logic of its own: the tool's button reads "Done" meanwhile and takes
// the user back to the folder list.
#pragma once

#include "HVN/Code/Public/HVNBaseVC.h"

class HVNLargeNoProblemVC : public HVNBaseVC {
public:
    // The interface file the page is made from.
    static constexpr const char* kNibName = "HVNLargeNoProblemVC";

    explicit HVNLargeNoProblemVC(HVNScreenView* view = nullptr) : HVNBaseVC(view) {}
};
