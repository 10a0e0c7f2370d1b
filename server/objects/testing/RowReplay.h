#pragma once
// The row-replay server: a local COM server for benchmarks that reads a
// database in its own process once and then answers GetRows with a copy of
// those rows made ahead of the call, and OpenProperty with a stream in memory
// holding the property's bytes. Read across processes, its answers cost only
// what the platform's marshalling and transport cost, next to the database
// server's answers to the same calls.
#include "Platform.h"
#include "CRegistrar.h"

#include <string>

// {E48E7ACF-F614-4802-A61A-FFD4C0104367}
const CLSID CLSID_RowReplayServer = {0xe48e7acf, 0xf614, 0x4802, {0xa6, 0x1a, 0xff, 0xd4, 0xc0, 0x10, 0x43, 0x67}};
#define ROW_REPLAY_SERVER_CLSID L"{E48E7ACF-F614-4802-A61A-FFD4C0104367}"

// Registers (or removes) VostrelRowReplayServer.exe beside the running
// program as the local server of CLSID_RowReplayServer.
inline HRESULT RegisterRowReplayServer(bool unregister)
{
    static const common::RegistryRow rows[] = {
        {L"CLSID\\" ROW_REPLAY_SERVER_CLSID, nullptr, L"row replay server", common::RegistryRow::ForceRemove},
        {L"CLSID\\" ROW_REPLAY_SERVER_CLSID L"\\LocalServer32", nullptr, L"%MODULE%", 0},
    };
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"VostrelRowReplayServer.exe";
    common::CRegistrar registrar(rows, 2);
    registrar.AddReplacement(L"%MODULE%", path);
    return unregister ? registrar.Unregister(false) : registrar.Register(false);
}
