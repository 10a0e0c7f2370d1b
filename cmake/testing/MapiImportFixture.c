/* Imports CreateTable through an import library with the undecorated name:
   the binary mapi_import_names_detects must reject. Never run. */
#include <windows.h>
#include <mapiutil.h>

int main(void)
{
    LPTABLEDATA table = NULL;
    return (int)CreateTable(NULL, NULL, NULL, NULL, NULL, 0, 0, NULL, &table);
}
