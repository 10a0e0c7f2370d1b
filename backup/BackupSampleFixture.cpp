#include "Platform.h"
#include "BackupSampleFixture.h"

#include "EseFixture.h"
#include "ExchangeFixture.h"

namespace backupsource {

namespace {

// The database writer takes paths in the ANSI code page.
std::string Ansi(const std::string& utf8)
{
    const std::wstring wide = Wide(utf8);
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n) - 1);
    return out;
}

}  // namespace

SDatabaseFiles WriteSampleWithLogs(const std::string& folder)
{
    const std::string database = folder + "\\Sample.edb";
    const std::string logs = folder + "\\logs";
    MakeFolders(logs);
    exchangefixture::CExchangeDatabase sample;
    exchangefixture::BuildSample(sample);
    sample.Write(Ansi(database));
    esefixture::CEseWriter later(Ansi(logs), "E00");
    later.AttachDatabase(Ansi(database));
    later.Insert("Mailbox", {{"Q6764", {esefixture::I64(0x0001000000009999LL)}},
                             {"S3001", {esefixture::Utf16(kLoggedMailboxName)}}});
    later.TermDirty();
    return ReadDatabaseFiles(database, logs);
}

}  // namespace backupsource
