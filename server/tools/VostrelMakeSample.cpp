// Writes the sample Exchange mailbox database that the main job opens:
// several mailboxes with folder trees, a few hundred messages with senders,
// bodies and attachments, associated messages, named properties, and a
// folder "Message Samples" with one message of each kind (bodies of every
// kind, recipients of every record layout, senders both ways, attachments
// of every method, messages held only as MIME). Never overwrites an
// existing file.
//
// The compressed RTF of the samples is written through MAPI, so the
// program loads mapi32.dll (the stand-in beside it).
#include <windows.h>

#include "ExchangeFixture.h"
#include "MessageFixtures.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: VostrelMakeSample <database file (.edb)>\n");
        return 2;
    }
    std::string path = argv[1];
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "%s exists already; it is left as it is\n", path.c_str());
        return 1;
    }
    try {
        exchangefixture::CExchangeDatabase database;
        const exchangefixture::SMailbox alice = exchangefixture::BuildSample(database);
        const int64_t samples = database.AddFolder(alice.topId, L"Message Samples",
                                                   {exchangefixture::Text("S3613", L"IPF.Note")});
        exchangefixture::AddMessageSamples(database, samples);
        database.Write(path);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.what());
        return 1;
    }
    std::printf("%s\n", path.c_str());
    return 0;
}
