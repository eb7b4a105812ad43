#include <gtest/gtest.h>

#include <filesystem>

#include "HVN/Code/Clearer/FMDB/FMDatabase.h"
#include "Sentrel/SignatureFixtures.h"
#include "Sentrel/VirusManager.h"
#include "Sentrel/VirusPathDBManager.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;

namespace {

class SignatureDatabaseTest : public hvn::test::RootsTest {
protected:
    // A signature database with the given rows (name, code, start, bytes).
    std::string database(const std::vector<std::tuple<std::string, hvn::Value, hvn::Value, hvn::Value>>& rows) {
        std::string path = roots.base() + "/Virus.db";
        FMDatabase db(path);
        EXPECT_TRUE(db.open());
        EXPECT_TRUE(db.executeUpdate("CREATE TABLE HVN_VIRUS_CODE (auto_id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                     "virus_name TEXT, virus_code BLOB, start_index INTEGER, bytes INTEGER)"));
        for (const auto& [name, code, start, bytes] : rows) {
            EXPECT_TRUE(db.executeUpdate(
                "INSERT INTO HVN_VIRUS_CODE (virus_name, virus_code, start_index, bytes) VALUES (?, ?, ?, ?)",
                {hvn::Value(name), code, start, bytes}));
        }
        db.close();
        return path;
    }
    std::vector<HVNVirusCodeObjPtr> load(const std::string& path) {
        VirusPathDBManager manager(std::string(), path, std::string());
        return manager.getAllVirusCodeObj();
    }
};

}  // namespace

TEST_F(SignatureDatabaseTest, RowsComeOrderedByTheLengthColumnWithTheirFields) {
    auto path = database({{"Long", hvn::Value(sigtest::bytesOf("0123456789")), 5, 10},
                          {"Short", hvn::Value(sigtest::bytesOf("ab")), 0, 2},
                          {"Text", hvn::Value("plain"), hvn::Value("7"), 5}});
    auto codes = load(path);
    ASSERT_EQ(codes.size(), 3u);
    EXPECT_EQ(codes[0]->virus_name, "Short");
    EXPECT_EQ(codes[0]->virus_code, sigtest::bytesOf("ab"));
    EXPECT_EQ(codes[0]->start_index, 0);
    EXPECT_EQ(codes[0]->bytes, 2);
    EXPECT_EQ(codes[0]->auto_id, 0);  // not filled from the row
    // A text where a BLOB belongs keeps its bytes; a number stored as text is its value.
    EXPECT_EQ(codes[1]->virus_name, "Text");
    EXPECT_EQ(codes[1]->virus_code, sigtest::bytesOf("plain"));
    EXPECT_EQ(codes[1]->start_index, 7);
    EXPECT_EQ(codes[2]->virus_name, "Long");
    EXPECT_EQ(codes[2]->start_index, 5);
}

TEST_F(SignatureDatabaseTest, MissingValuesAndMissingDatabases) {
    auto obj = HVNVirusCodeObj::initWithDic(hvn::Dictionary{{"virus_name", hvn::Value("N")}});
    EXPECT_EQ(obj->virus_name, "N");
    EXPECT_TRUE(obj->virus_code.empty());
    EXPECT_EQ(obj->bytes, 0);
    EXPECT_EQ(obj->start_index, 0);
    auto nulls = HVNVirusCodeObj::initWithDic(
        hvn::Dictionary{{"virus_code", hvn::Value()}, {"start_index", hvn::Value()}, {"bytes", hvn::Value(2.9)}});
    EXPECT_TRUE(nulls->virus_code.empty());
    EXPECT_EQ(nulls->bytes, 2);

    const std::string missing = roots.base() + "/none.db";
    EXPECT_TRUE(load(missing).empty());
    EXPECT_FALSE(fs::exists(missing));  // never created
    sigtest::writeBytes(roots.base() + "/garbage.db", std::string(4096, 'x'));
    EXPECT_TRUE(load(roots.base() + "/garbage.db").empty());
    // A database without the table.
    FMDatabase empty(roots.base() + "/empty.db");
    ASSERT_TRUE(empty.open());
    ASSERT_TRUE(empty.executeUpdate("CREATE TABLE other (x)"));
    empty.close();
    EXPECT_TRUE(load(roots.base() + "/empty.db").empty());
}

TEST_F(SignatureDatabaseTest, TheShippedSignaturesFindTheTestFiles) {
    // The bundle's Virus.db (the fixture points the main bundle at the built one).
    VirusPathDBManager manager;
    auto codes = manager.getAllVirusCodeObj();
    ASSERT_GE(codes.size(), 4u);
    for (size_t i = 1; i < codes.size(); ++i) EXPECT_LE(codes[i - 1]->bytes, codes[i]->bytes);
    for (const auto& c : codes) EXPECT_EQ(c->bytes, static_cast<int64_t>(c->virus_code.size())) << c->virus_name;

    VirusManager vm;
    const std::string dir = roots.base();
    const std::string eicar = sigtest::eicar();
    ASSERT_EQ(eicar.size(), 68u);
    sigtest::writeBytes(dir + "/eicar.com", eicar + "\r\n");
    EXPECT_EQ(vm.checkVirus(dir + "/eicar.com", codes), "EICAR-Test-File");
    // Nothing but the string: it ends on the last byte, which is never compared.
    sigtest::writeBytes(dir + "/eicar-exact", eicar);
    EXPECT_EQ(vm.checkVirus(dir + "/eicar-exact", codes), "");
    sigtest::writeBytes(dir + "/a", "HALVORN-TEST-SIGNATURE-A:not-a-virus\n");
    EXPECT_EQ(vm.checkVirus(dir + "/a", codes), "Halvorn-Test-Signature-A");
    sigtest::writeBytes(dir + "/b", sigtest::withAt(64, 64, "HALVORN-TEST-SIGNATURE-B:not-a-virus") + "\n");
    EXPECT_EQ(vm.checkVirus(dir + "/b", codes), "Halvorn-Test-Signature-B");
    sigtest::writeBytes(dir + "/c", sigtest::withAt(5000, 4096, "HALVORN-TEST-SIGNATURE-C:not-a-virus"));
    EXPECT_EQ(vm.checkVirus(dir + "/c", codes), "Halvorn-Test-Signature-C");
    // At another offset they are nothing.
    sigtest::writeBytes(dir + "/moved", sigtest::withAt(5000, 4095, "HALVORN-TEST-SIGNATURE-C:not-a-virus"));
    EXPECT_EQ(vm.checkVirus(dir + "/moved", codes), "");
}
