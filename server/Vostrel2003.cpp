// The database server program: a windowless GUI program that COM starts to
// serve X2007EseInstance, and that registers itself on request.
#include "Platform.h"
#include "CVostrelModule.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    CVostrelModule module;
    return module.Run(GetCommandLineW());
}
