#include "HVN/Code/Public/EncryptManager.h"

#include <gtest/gtest.h>

#include "HVN/Code/Public/AES.h"
#include "Platform/Crypto.h"
#include "Sentrel/AESC.h"
#include "Sentrel/VirusEncryptManager.h"

namespace {

hvn::Data bytes(const std::string& s) {
    return hvn::Data(s.begin(), s.end());
}

TEST(EncryptManagerTest, FieldFormatMatchesTheKnownCiphertext) {
    // openssl enc -aes-128-cbc -K 515452353832303431373733360000 00 -iv 5a7137256d5432260000000000000000
    auto block = EncryptManager::encryptString("abc");
    ASSERT_TRUE(block);
    EXPECT_EQ(hvn::Crypto::toHex(*block), "a94d7f187992a6b28f402cdf86cb640d");
    EXPECT_EQ(hvn::Crypto::toHex(*EncryptManager::encryptString("~/Library/Caches")),
              "750c6f4aeca48f26e2921be31a89703eff96fc0df8835ca1c9420c9478c2d9e5");
}

TEST(EncryptManagerTest, LengthsRoundTripsAndDeterminism) {
    auto empty = EncryptManager::encryptString("");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->size(), 16u);
    EXPECT_EQ(EncryptManager::decryptData(*empty), "");
    EXPECT_EQ(EncryptManager::encryptString(std::string(15, 'a'))->size(), 16u);
    EXPECT_EQ(EncryptManager::encryptString(std::string(16, 'a'))->size(), 32u);
    EXPECT_EQ(EncryptManager::encryptString("same"), EncryptManager::encryptString("same"));
    EXPECT_NE(EncryptManager::encryptString("same"), EncryptManager::encryptString("Same"));

    const std::string chinese = "清理浏览器缓存 ~/Library/Caches 😀";
    EXPECT_EQ(EncryptManager::decryptData(*EncryptManager::encryptString(chinese)), chinese);

    // Sentrel's facade is the same format.
    EXPECT_EQ(VirusEncryptManager::encryptString(chinese), EncryptManager::encryptString(chinese));
    EXPECT_EQ(VirusEncryptManager::decryptData(*EncryptManager::encryptString(chinese)), chinese);
}

TEST(EncryptManagerTest, BadBlocksDecryptToNothing) {
    auto block = *EncryptManager::encryptString("some text");
    hvn::Data shortBlock(block.begin(), block.end() - 1);
    EXPECT_EQ(EncryptManager::decryptData(shortBlock), std::nullopt);
    EXPECT_EQ(EncryptManager::decryptData({}), std::nullopt);
    hvn::Data badPadding = block;
    badPadding.back() ^= 0x5a;
    EXPECT_EQ(EncryptManager::decryptData(badPadding), std::nullopt);
    // Valid padding around bytes that are not UTF-8.
    auto notText = AES::AES128EncryptWithKey(hvn::Data{0xff, 0xfe, 'a'}, EncryptManager::kKeyMaterial,
                                             EncryptManager::kIVMaterial);
    ASSERT_TRUE(notText);
    EXPECT_EQ(EncryptManager::decryptData(*notText), std::nullopt);
    EXPECT_FALSE(VirusEncryptManager::decryptData(shortBlock));
}

TEST(EncryptManagerTest, KeyMaterialIsAZeroPaddedCString) {
    hvn::Data data = bytes("payload");
    // 16 characters still fit (with the terminator in the 17th byte) ...
    auto sixteen = AES::AES128EncryptWithKey(data, "0123456789abcdef", "iv");
    // ... 17 do not, and leave the key all zero, like the empty material.
    auto seventeen = AES::AES128EncryptWithKey(data, "0123456789abcdefg", "iv");
    auto emptyKey = AES::AES128EncryptWithKey(data, "", "iv");
    ASSERT_TRUE(sixteen && seventeen && emptyKey);
    EXPECT_NE(*sixteen, *seventeen);
    EXPECT_EQ(*seventeen, *emptyKey);
    EXPECT_EQ(AES::AES128DecryptWithKey(*sixteen, "0123456789abcdef", "iv"), data);
    EXPECT_EQ(AESC::AES128Operation(AES::kDecrypt, *sixteen, "0123456789abcdef", "iv"), data);
    EXPECT_EQ(AES::AES128Operation(2, data, "k", "iv"), std::nullopt);
}

TEST(EncryptManagerTest, Utf8Validation) {
    EXPECT_TRUE(EncryptManager::isValidUTF8("plain ascii"));
    EXPECT_TRUE(EncryptManager::isValidUTF8("数据验证 é 😀"));
    EXPECT_FALSE(EncryptManager::isValidUTF8("\xc3"));              // truncated
    EXPECT_FALSE(EncryptManager::isValidUTF8("\xc0\xaf"));          // overlong
    EXPECT_FALSE(EncryptManager::isValidUTF8("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(EncryptManager::isValidUTF8("\xf4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(EncryptManager::isValidUTF8("a\x80"));
}

}  // namespace
