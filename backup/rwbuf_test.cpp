#include "Platform.h"

#include "rwbuf.h"

#include "ArchiveStatus.h"
#include "ArchiveTestSupport.h"
#include "WinFile.h"
#include "cvt_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <random>

using archivetest::CTempFolder;
using archivetest::ReadWholeFile;
using archivetest::WriteWholeFile;

namespace {

const uint32_t kRead = 0x80000000u;
const uint32_t kWrite = 0x40000000u;
const uint32_t kUnbuffered = 0x1000u;

std::unique_ptr<rwbuf<WinFile>> NewFile()
{
    return std::unique_ptr<rwbuf<WinFile>>(static_cast<rwbuf<WinFile>*>(NewWinFileCache()));
}

TEST(FileLayer, OpenChecksDispositionAndSharing)
{
    CTempFolder folder;
    std::string path = folder / "held.bin";
    WriteWholeFile(path, std::vector<uint8_t>(10, 1));
    auto file = NewFile();
    EXPECT_EQ(ARCERR_BAD_STATE, file->Open(path.c_str(), 3, kRead, 0));
    EXPECT_EQ(ARCERR_OPEN, file->Open((folder / "missing.bin").c_str(), 1, kRead, 0));

    HANDLE exclusive = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, exclusive);
    EXPECT_EQ(ARCERR_SHARING, file->Open(path.c_str(), 1, kRead, 0));
    CloseHandle(exclusive);
    EXPECT_EQ(0, file->Open(path.c_str(), 1, kRead, 0));
    EXPECT_EQ(10u, file->GetSize());
}

TEST(FileLayer, ReadsStopAtTheLogicalEnd)
{
    CTempFolder folder;
    std::string path = folder / "data.bin";
    std::vector<uint8_t> bytes(1000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i);
    WriteWholeFile(path, bytes);
    for (uint32_t access : {kRead, kRead | kUnbuffered}) {
        auto file = NewFile();
        ASSERT_EQ(0, file->Open(path.c_str(), 1, access, 0));
        uint8_t one = 0;
        EXPECT_EQ(0, file->ReadAt(&one, 1, 999));
        EXPECT_EQ(bytes[999], one);
        uint8_t two[2] = {0xEE, 0xEE};
        EXPECT_EQ(-1, file->ReadAt(two, 2, 999));
        EXPECT_EQ(0xEE, two[0]) << "nothing is copied";
        EXPECT_EQ(-1, file->ReadAt(two, 1, 1000));
        EXPECT_EQ(-1, file->ReadAt(two, 2, ~0ull)) << "offset overflow";
        EXPECT_EQ(-1, file->Seek(1001));
        EXPECT_EQ(0, file->Seek(990));
        uint8_t tail[10];
        uint32_t got = 0;
        EXPECT_EQ(0, file->Read(tail, 10, &got));
        EXPECT_EQ(10u, got);
        EXPECT_EQ(0, memcmp(tail, &bytes[990], 10));
        EXPECT_EQ(1000u, file->Tell());
    }
}

TEST(FileLayer, ReadOnlyEmptyFileHasNoCache)
{
    CTempFolder folder;
    std::string path = folder / "empty.bin";
    WriteWholeFile(path, {});
    auto file = NewFile();
    ASSERT_EQ(0, file->Open(path.c_str(), 1, kRead, 0));
    EXPECT_FALSE(file->HasCache());
    uint8_t b;
    EXPECT_EQ(-1, file->ReadAt(&b, 1, 0));
    EXPECT_EQ(0, file->ReadAt(&b, 0, 0));
}

TEST(FileLayer, UnbufferedWritesWholeSectors)
{
    CTempFolder folder;
    const uint32_t sector = WinFile::SectorSizeOfPath(folder.Path().c_str());
    std::string path = folder / "new.bin";
    {
        auto file = NewFile();
        ASSERT_EQ(0, file->Open(path.c_str(), 2, kRead | kWrite | kUnbuffered, 0));
        std::vector<uint8_t> hundred(100, 0xAB);
        ASSERT_EQ(0, file->Write(hundred.data(), 100));
        ASSERT_EQ(0, file->Close());
    }
    std::vector<uint8_t> written = ReadWholeFile(path);
    ASSERT_EQ(sector, written.size());
    EXPECT_EQ(std::vector<uint8_t>(100, 0xAB), std::vector<uint8_t>(written.begin(), written.begin() + 100));
    EXPECT_EQ(std::vector<uint8_t>(sector - 100, 0), std::vector<uint8_t>(written.begin() + 100, written.end()));

    // One byte changed inside an existing sector: the rest of it survives.
    std::vector<uint8_t> original(3 * sector);
    for (size_t i = 0; i < original.size(); ++i)
        original[i] = static_cast<uint8_t>(i * 13);
    WriteWholeFile(path, original);
    {
        auto file = NewFile();
        ASSERT_EQ(0, file->Open(path.c_str(), 1, kRead | kWrite | kUnbuffered, 0));
        uint8_t x = 0x77;
        ASSERT_EQ(0, file->WriteAt(&x, 1, sector + 5));
        ASSERT_EQ(0, file->Close());
    }
    original[sector + 5] = 0x77;
    EXPECT_EQ(original, ReadWholeFile(path));
}

// Random writes, overwrites and reads against a model, through windows much
// smaller than the file, buffered and unbuffered.
TEST(FileLayer, CacheAgreesWithAModel)
{
    CTempFolder folder;
    uint32_t saved = rwbuf<WinFile>::s_cacheKiB;
    rwbuf<WinFile>::s_cacheKiB = 8;
    for (uint32_t mode : {0u, kUnbuffered}) {
        std::string path = folder / (mode ? "u.bin" : "b.bin");
        std::vector<uint8_t> model;
        std::mt19937 random(mode + 1);
        {
            auto file = NewFile();
            ASSERT_EQ(0, file->Open(path.c_str(), 2, kRead | kWrite | mode, 0));
            for (int step = 0; step < 600; ++step) {
                uint64_t offset = model.empty() ? 0 : random() % (model.size() + 1);
                uint32_t n = 1 + random() % (step % 7 == 0 ? 20000 : 700);
                if (step % 3 == 2 && !model.empty()) {
                    if (offset == model.size())
                        --offset;
                    if (offset + n > model.size())
                        n = static_cast<uint32_t>(model.size() - offset);
                    std::vector<uint8_t> got(n);
                    ASSERT_EQ(0, file->ReadAt(got.data(), n, offset)) << step;
                    ASSERT_EQ(0, memcmp(got.data(), &model[offset], n)) << step;
                    continue;
                }
                std::vector<uint8_t> bytes(n);
                for (auto& b : bytes)
                    b = static_cast<uint8_t>(random());
                ASSERT_EQ(0, file->WriteAt(bytes.data(), n, offset)) << step;
                if (offset + n > model.size())
                    model.resize(offset + n);
                memcpy(&model[offset], bytes.data(), n);
                if (mode && file->GetSize() > model.size()) {
                    // An unbuffered file's last sector went out zero-padded,
                    // and the file grew to the whole sector.
                    ASSERT_EQ(0u, file->GetSize() % 512);
                    ASSERT_LT(file->GetSize() - model.size(), 512u);
                    model.resize(static_cast<size_t>(file->GetSize()), 0);
                }
                ASSERT_EQ(model.size(), file->GetSize());
            }
            ASSERT_EQ(0, file->Close());
        }
        std::vector<uint8_t> disk = ReadWholeFile(path);
        ASSERT_GE(disk.size(), model.size());
        if (mode)
            EXPECT_EQ(0u, disk.size() % 512);
        else
            EXPECT_EQ(model.size(), disk.size());
        EXPECT_EQ(0, memcmp(disk.data(), model.data(), model.size()));
    }
    rwbuf<WinFile>::s_cacheKiB = saved;
}

TEST(FileLayer, SetSizeGrowsAndCuts)
{
    CTempFolder folder;
    std::string path = folder / "sized.bin";
    auto file = NewFile();
    ASSERT_EQ(0, file->Open(path.c_str(), 2, kRead | kWrite, 0));
    std::vector<uint8_t> bytes(3000, 5);
    ASSERT_EQ(0, file->Write(bytes.data(), 3000));
    // Growth goes through SetFileValidData while the privilege is held,
    // which it is for the prefix's user.
    EXPECT_TRUE(file->HoldsManageVolumePrivilege());
    ASSERT_EQ(0, file->SetSize(10 << 20));
    EXPECT_EQ(10u << 20, file->GetSize());
    ASSERT_EQ(0, file->SetSize(1000));
    uint8_t b;
    EXPECT_EQ(-1, file->ReadAt(&b, 1, 1000));
    EXPECT_EQ(0, file->ReadAt(&b, 1, 999));
    EXPECT_EQ(5, b);
    uint64_t created = 0, written = 0;
    EXPECT_EQ(0, file->GetTimes(&created, nullptr, &written));
    EXPECT_NE(0u, written);
    ASSERT_EQ(0, file->Close());
    EXPECT_EQ(1000u, ReadWholeFile(path).size());
}

TEST(FileLayer, PathHelpers)
{
    CTempFolder folder;
    auto file = NewFile();
    std::string base = folder.Path();
    for (char& c : base)
        if (c == '\\')
            c = '/';
    ASSERT_EQ(0, file->MakePath((base + "a/b/c.txt").c_str(), true));
    EXPECT_EQ(0x10, file->GetAttributes((base + "a").c_str()));
    EXPECT_EQ(0x10, file->GetAttributes((base + "a/b").c_str()));
    EXPECT_EQ(-1, file->GetAttributes((base + "a/b/c.txt").c_str()));
    ASSERT_EQ(0, file->MakePath((folder.Path() + "x\\y\\z").c_str(), false)) << "backslashes too";
    EXPECT_EQ(0x10, file->GetAttributes((base + "x/y/z").c_str()));
    EXPECT_EQ(0, file->MakeDir("C:"));
    EXPECT_EQ(0, file->MakeDir((base + "a").c_str())) << "an existing folder counts as made";
    WriteWholeFile(folder / "a\\f.txt", {1});
    EXPECT_EQ(0, file->GetAttributes((base + "a/f.txt").c_str()));
    EXPECT_EQ(-1, file->MakePath((base + "a/f.txt/x").c_str(), false)) << "a file in the way";
    EXPECT_EQ(0, file->Rename((base + "a/f.txt").c_str(), (base + "a/g.txt").c_str()));
    EXPECT_EQ(0, file->Rename((base + "a/none.txt").c_str(), (base + "a/h.txt").c_str()));
    EXPECT_EQ(0, file->DeleteFile((base + "a/g.txt").c_str()));
    EXPECT_EQ(0, file->DeleteFile((base + "a/g.txt").c_str())) << "a missing file is no error";
    EXPECT_EQ(0, file->RemoveDir((base + "a/b").c_str()));
    EXPECT_EQ(0, file->RemoveDir((base + "a/b").c_str()));

    std::string overlong = base + "x\xC0\xAF" "y";
    errno = 0;
    EXPECT_EQ(-1, file->MakeDir(overlong.c_str()));
    EXPECT_EQ(EINVAL, errno);
    errno = 0;
    EXPECT_EQ(-1, file->DeleteFile(overlong.c_str()));
    EXPECT_EQ(EINVAL, errno);
    EXPECT_STREQ("convertion error", cvt_error().what());
}

TEST(FileLayer, StrictUtf8Decoding)
{
    struct Case {
        const char* text;
        bool valid;
    } cases[] = {
        {"plain", true},
        {"caf\xC3\xA9", true},
        {"\xE2\x82\xAC", true},
        {"\xF0\x9F\x98\x80", true},
        {"\xC0\xAF", false},          // overlong
        {"\xC1\xBF", false},
        {"\xE0\x80\xAF", false},      // overlong three-byte
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF0\x80\x80\xAF", false},
        {"\xF4\x90\x80\x80", false},  // beyond U+10FFFF
        {"\xF5\x80\x80\x80", false},
        {"\xEF\xBF\xBE", false},      // U+FFFE
        {"\xEF\xBF\xBF", false},
        {"\xE2\x82", false},          // cut short
        {"\x80", false},
    };
    for (const Case& c : cases) {
        bool valid = true;
        std::wstring out;
        try {
            out = CUtf8IOFile::DecodeUtf8(c.text);
        } catch (const cvt_error&) {
            valid = false;
        }
        EXPECT_EQ(c.valid, valid) << c.text;
    }
    std::wstring emoji = CUtf8IOFile::DecodeUtf8("\xF0\x9F\x98\x80");
    ASSERT_EQ(2u, emoji.size());
    EXPECT_EQ(0xD83D, emoji[0]);
    EXPECT_EQ(0xDE00, emoji[1]);
}

TEST(FileLayer, OpensUtf8Names)
{
    CTempFolder folder;
    std::string path = folder / "r\xC3\xA9sum\xC3\xA9-\xE6\x97\xA5.bin";
    auto file = NewFile();
    ASSERT_EQ(0, file->Open(path.c_str(), 2, kRead | kWrite, 0));
    uint8_t b = 9;
    ASSERT_EQ(0, file->Write(&b, 1));
    ASSERT_EQ(0, file->Close());
    EXPECT_TRUE(archivetest::FileExists(path));
}

}  // namespace
