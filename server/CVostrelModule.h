#pragma once
// The process of the database server: command line, self-registration, the
// class object of X2007EseInstance, the message loop of the one apartment
// thread, and the idle shutdown that ends the process 5000 ms after the last
// object was released (then a 1000 ms pause before exit).
#include "Platform.h"

enum class EServerSwitch {
    None,        // run the server
    RegServer,
    UnregServer,
};

// Scans a command line for the first known switch after '-' or '/'; sets
// *perUser for the PerUser forms. Unknown words are skipped.
EServerSwitch ParseServerCommandLine(const wchar_t* commandLine, bool* perUser);

class CVostrelModule {
public:
    static constexpr DWORD kIdleTimeoutMs = 5000;
    static constexpr DWORD kPauseBeforeExitMs = 1000;

    CVostrelModule();
    ~CVostrelModule();
    CVostrelModule(const CVostrelModule&) = delete;
    CVostrelModule& operator=(const CVostrelModule&) = delete;

    // The program's entry: exit code -1 on a start-up failure, the
    // registration's HRESULT for a registration switch, else the server's.
    int Run(const wchar_t* commandLine);

    long Lock();
    long Unlock();
    long LockCount() const { return m_lockCount; }

    HRESULT RegisterServer(bool perUser);
    HRESULT UnregisterServer(bool perUser);
    HRESULT RunServer();

    static CVostrelModule* Instance() { return s_instance; }

private:
    HRESULT RegisterAppId(bool perUser, bool unregister);
    HRESULT RegisterClass(bool perUser, bool unregister);
    HRESULT RegisterTypeLibrary(bool perUser, bool unregister);
    void PumpMessages();
    void ServeRemainingObjects();
    bool StartMonitor();
    static DWORD WINAPI MonitorThread(void* self);
    void Monitor();

    static CVostrelModule* s_instance;

    volatile LONG m_lockCount = 0;
    DWORD m_mainThreadId;
    bool m_delayShutdown = true;
    volatile LONG m_activity = 0;
    volatile LONG m_draining = 0; // class object revoked; the last release ends the loop
    HANDLE m_shutdownEvent = nullptr;
    bool m_comInitialized = false;
    bool m_perUser = false;
    bool m_startupFailed = false;
    wchar_t m_modulePath[MAX_PATH] = {};
};
