// Writes lines to a log file from its own process, for the tests of writers
// in several processes: provider_log_writer <log path> <count> <tag>.
#include "ProviderPlatform.h"
#include "ProviderLog.h"

#include <shellapi.h>
#include <string>

int main()
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 4)
        return 2;
    std::wstring path = argv[1];
    const int count = _wtoi(argv[2]);
    const std::wstring tag = argv[3];
    for (int i = 0; i < count; ++i)
        WriteLogLine(path, (tag + L" " + std::to_wstring(i)).c_str());
    LocalFree(argv);
    return 0;
}
