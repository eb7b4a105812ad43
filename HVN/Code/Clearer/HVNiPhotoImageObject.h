// One picture of a photo library kept twice: a preview and its full-size master.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class HVNiPhotoImageObject {
public:
    std::string previewImagePath;  // full path of the preview image
    std::string masterImagePath;   // full path of the matching master image
    int64_t fileSize = 0;          // length of the preview plus length of the master, in bytes
};

using HVNiPhotoImageObjectPtr = std::shared_ptr<HVNiPhotoImageObject>;
using HVNiPhotoImageList = std::vector<HVNiPhotoImageObjectPtr>;
