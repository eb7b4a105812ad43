#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScaniPhotoOperation.h"
#include "Support/TestRoots.h"

namespace {

struct Recorder : HVNScanResultDelegate {
    int calls = 0;
    int32_t module = -1;
    HVNNodeList results;
    void finishScan(HVNNodeList r, int32_t m) override {
        ++calls;
        module = m;
        results = std::move(r);
    }
};

class PhotoScanTest : public hvn::test::RootsTest {
protected:
    std::string pictures() const { return roots.home() + "/Pictures"; }
    std::string library(const std::string& name) const { return pictures() + "/" + name + ".photolibrary"; }
};

}  // namespace

TEST_F(PhotoScanTest, PreviewsPairWithTheirMastersInTheFirstLibraryListed) {
    const std::string a = library("A Library");
    const std::string preview =
        roots.writeFile(a + "/Previews/2012/05/Event/IMG_1.jpg", std::string(100, 'p'));
    const std::string master = roots.writeFile(a + "/Masters/2012/05/IMG_1.jpg", std::string(1000, 'm'));
    // No master at the derived path (it sits where the preview's own folder would map).
    roots.writeFile(a + "/Previews/2012/05/Event/IMG_2.jpg", "p");
    roots.writeFile(a + "/Masters/2012/05/Event/IMG_2.jpg", "m");
    // Not images: a database beside the previews, and a master that is a folder.
    roots.writeFile(a + "/Previews/2012/05/Event/Library.db", "db");
    roots.writeFile(a + "/Masters/2012/05/Library.db", "db");
    roots.writeFile(a + "/Previews/2012/05/Event/IMG_3.jpg", "p");
    roots.makeDir(a + "/Masters/2012/05/IMG_3.jpg");
    // A preview directly inside Previews has no master folder two levels up.
    roots.writeFile(a + "/Previews/IMG_4.jpg", "p");
    roots.writeFile(a + "/Masters/IMG_4.jpg", "m");
    // A link is no preview, and a link to a folder is not walked.
    roots.writeFile(pictures() + "/elsewhere/IMG_5.jpg", "p");
    roots.writeFile(a + "/Masters/2012/05/IMG_5.jpg", "m");
    ASSERT_EQ(symlink((pictures() + "/elsewhere/IMG_5.jpg").c_str(),
                      (a + "/Previews/2012/05/Event/IMG_5.jpg").c_str()),
              0);
    ASSERT_EQ(symlink(a.c_str(), (a + "/Previews/2012/loop").c_str()), 0);
    // A second library listed later.
    roots.writeFile(library("B Library") + "/Previews/x/y/IMG_9.jpg", "p");
    roots.writeFile(library("B Library") + "/Masters/x/IMG_9.jpg", "m");
    roots.writeFile(pictures() + "/notes.txt", "n");

    Recorder rec;
    HVNScaniPhotoOperation op(pictures(), &rec);
    op.main();
    ASSERT_EQ(rec.calls, 1);
    EXPECT_EQ(rec.module, 10);
    ASSERT_EQ(op.pairs().size(), 1u);
    EXPECT_EQ(op.pairs()[0]->previewImagePath, preview);
    EXPECT_EQ(op.pairs()[0]->masterImagePath, master);
    EXPECT_EQ(op.pairs()[0]->fileSize, 1100);

    ASSERT_EQ(rec.results.size(), 1u);
    const auto& node = rec.results[0];
    EXPECT_EQ(node->filePath(), master);
    EXPECT_EQ(node->name(), "IMG_1.jpg");
    EXPECT_EQ(node->fileSize, 1100);
    EXPECT_EQ(node->prePath, preview);
    EXPECT_EQ(node->icon, master);
    EXPECT_EQ(node->isCheck, 1);
}

TEST_F(PhotoScanTest, WithoutALibraryTheEmptyResultIsHandedBack) {
    roots.writeFile(pictures() + "/photolibrary", "not a library");
    roots.writeFile(pictures() + "/Old.photolibrary.zip", "not a library");
    Recorder rec;
    HVNScaniPhotoOperation op(pictures(), &rec);
    op.main();
    EXPECT_EQ(rec.calls, 1);
    EXPECT_TRUE(rec.results.empty());

    Recorder missing;
    HVNScaniPhotoOperation gone(pictures() + "/nothing", &missing);
    gone.main();
    EXPECT_EQ(missing.calls, 1);
    EXPECT_TRUE(missing.results.empty());
}

TEST_F(PhotoScanTest, TheMasterPathIsTwoLevelsUpInTheMastersFolder) {
    EXPECT_EQ(HVNScaniPhotoOperation::candidateMasterPath("/L/Previews/2012/05/Event/IMG_1.jpg",
                                                          "/L/Previews", "/L/Masters"),
              "/L/Masters/2012/05/IMG_1.jpg");
    EXPECT_EQ(HVNScaniPhotoOperation::candidateMasterPath("/L/Previews/a/b.jpg", "/L/Previews", "/L/Masters"),
              "/L/Masters/b.jpg");
    EXPECT_EQ(
        HVNScaniPhotoOperation::candidateMasterPath("/L/Previews/Previews.jpg", "/L/Previews", "/L/Masters"),
        "");
}

TEST_F(PhotoScanTest, ACancelledScanReportsNothing) {
    const std::string a = library("A");
    roots.writeFile(a + "/Previews/1/2/IMG.jpg", "p");
    roots.writeFile(a + "/Masters/1/IMG.jpg", "m");
    Recorder rec;
    HVNScaniPhotoOperation op(pictures(), &rec);
    op.cancel();
    op.scaniPhoto();
    EXPECT_EQ(rec.calls, 0);
}
