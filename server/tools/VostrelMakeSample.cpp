// Writes the sample Exchange mailbox database that the main job opens:
// several mailboxes with folder trees, a few hundred messages with senders,
// bodies and attachments, associated messages, and named properties. Never
// overwrites an existing file.
#include <windows.h>

#include "ExchangeFixture.h"

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
        exchangefixture::BuildSample(database);
        database.Write(path);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.what());
        return 1;
    }
    std::printf("%s\n", path.c_str());
    return 0;
}
