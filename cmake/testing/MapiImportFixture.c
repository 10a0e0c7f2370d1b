/* Imports a MAPI32 name Windows's mapi32.dll does not export, the way the
   toolchain's import library links: CreateTable undecorated on i686, a name
   missing from the export table altogether on x64. The binary
   mapi_import_names_detects must reject. Never run. */
#include <windows.h>
#include <mapiutil.h>

#ifdef _WIN64
HRESULT STDAPICALLTYPE HrValidateParametersV(ULONG method, LPVOID* first);

int main(void)
{
    return (int)HrValidateParametersV(0, NULL);
}
#else
int main(void)
{
    LPTABLEDATA table = NULL;
    return (int)CreateTable(NULL, NULL, NULL, NULL, NULL, 0, 0, NULL, &table);
}
#endif
