#include "HVN/Code/Public/Addation.h"

#include "Platform/FileManager.h"

int64_t Addation::directorySize(const std::string& folder) {
    return hvn::FileManager::directorySize(folder);
}
