// The photo library scan (module 10): in the folder libraryDirPath, the first entry (in
// listing order, byte order of the names) with the extension "photolibrary" is the library
// L; every image below L/Previews is paired with its master below L/Masters, found at the
// folder two levels above the preview, with the preview's file name, "Previews" replaced by
// "Masters" (L/Previews/2012/05/Event/IMG_1.jpg pairs with L/Masters/2012/05/IMG_1.jpg).
//
// Images are regular files whose uniform type conforms to "public.image"; symbolic links
// are neither images nor walked into, and every folder is listed once (device and inode).
// A preview without a master image at its derived path is left out.
//
// The pairs are handed back as result nodes (nodesFromPairs()): filePath = the master,
// name = its file name, fileSize = the pair's size, prePath = the preview, icon = the master
// image, isCheck YES. The pairs of the last scan stay available through pairs().
//
// Threads: runs on a scanner queue thread; "PathUpdate" (object: the path) is posted for
// each folder listed and finishScan(nodes, 10) is delivered on that thread (also with an
// empty list when there is no library). A cancelled scan reports nothing. Any exception is
// caught in main() and logged as "Exception: <text>"; the delegate then hears nothing.
#pragma once

#include <cstdint>
#include <string>

#include "HVN/Code/Clearer/HVNScanResultDelegate.h"
#include "HVN/Code/Clearer/HVNiPhotoImageObject.h"
#include "Platform/OperationQueue.h"

class HVNScaniPhotoOperation : public hvn::Operation {
public:
    static constexpr int32_t kModule = 10;

    HVNScaniPhotoOperation(std::string libraryDirPath, HVNScanResultDelegate* delegate);

    std::string libraryDirPath;                 // the folder that holds the library
    HVNScanResultDelegate* delegate = nullptr;  // not owned; may be null

    // Scans unless cancelled; exceptions are caught and logged.
    void main() override;
    // The scan; sends finishScan(nodesFromPairs(pairs()), 10) when it ran to the end.
    void scaniPhoto();
    // The pairs found by the last complete scan (empty before one).
    const HVNiPhotoImageList& pairs() const { return pairs_; }

    // True when the item at path is a regular file (a final link not followed) whose
    // uniform type conforms to "public.image".
    static bool isImageFile(const std::string& path);
    // The master path a preview pairs with, or "" when the derived path does not lie below
    // previewsRoot (see the file comment).
    static std::string candidateMasterPath(const std::string& previewPath, const std::string& previewsRoot,
                                           const std::string& mastersRoot);
    // One node per pair, in order (see the file comment).
    static HVNNodeList nodesFromPairs(const HVNiPhotoImageList& pairs);

private:
    HVNiPhotoImageList pairs_;
};
