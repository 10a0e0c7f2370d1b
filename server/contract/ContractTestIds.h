#pragma once
// What the contract test server and its client test agree on.
#include "Platform.h"

// {7D3E9A51-0C4B-4E8F-A2D6-5B1C3F7E9D02}
const CLSID CLSID_ContractTestServer = {0x7d3e9a51, 0x0c4b, 0x4e8f, {0xa2, 0xd6, 0x5b, 0x1c, 0x3f, 0x7e, 0x9d, 0x02}};
#define CONTRACT_TEST_SERVER_CLSID L"{7D3E9A51-0C4B-4E8F-A2D6-5B1C3F7E9D02}"

// IEseStore::GetFolder ids that make the test server fail in one way each.
enum : long long {
    kFailObjectNotFound = -1, // ESE -1305 from the open-table wrapper
    kFailOtherEseError = -2,  // ESE -1032 from the seek wrapper
    kFailNoMessage = -3,      // a CException whose message was never set
    kFailCreate = -4,         // a direct report: code 4, source 2
    kFailForeignLog = -7,     // code 7
    kFailHugeText = -8,       // a message longer than one reply extent carries
    kEseWarning = -9,         // an ESE warning: no failure
};
